// The version check in the window, against a small HTTP server on 127.0.0.1 that serves
// what each test says and records what it is asked.
#include "support/gui_support.h"
#include "app/version_fetcher.h"

// Qt
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHostAddress>
#include <QImage>
#include <QLocale>
#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>

// Std
#include <map>
#include <memory>
#include <vector>

namespace {

// Answers every request with the status, content type (none when empty) and body it is
// given, or holds the connection open without answering.
class TestHttpServer : public QObject {
 public:
  TestHttpServer() {
    connect(&server_, &QTcpServer::newConnection, this, &TestHttpServer::Accept);
    server_.listen(QHostAddress::LocalHost, 0);
  }
  [[nodiscard]] QUrl Base() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
  }
  void Serve(QByteArray body, int status = 200, QByteArray contentType = "text/plain") {
    body_ = std::move(body);
    status_ = status;
    contentType_ = std::move(contentType);
    hold_ = false;
  }
  void Hold() { hold_ = true; }

  std::vector<QByteArray> requests;  // the head of each request, as sent

 private:
  void Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      auto head = std::make_shared<QByteArray>();
      connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
        head->append(socket->readAll());
        if (!head->contains("\r\n\r\n")) return;
        requests.push_back(*head);
        head->clear();
        if (hold_) return;
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(status_) + " X\r\n";
        if (!contentType_.isEmpty()) reply += "Content-Type: " + contentType_ + "\r\n";
        reply += "Connection: close\r\nContent-Length: " + QByteArray::number(body_.size()) +
                 "\r\n\r\n" + body_;
        socket->write(reply);
        socket->disconnectFromHost();
      });
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  QTcpServer server_;
  QByteArray body_;
  QByteArray contentType_;
  int status_ = 200;
  bool hold_ = false;
};

// A port that refuses connections: listened on, then closed.
QUrl ClosedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

const QByteArray OwnToken = "#*$(002.046.066@@002.046.066)$*#";

class UpdateCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    SetVersionServerForTests(server.Base());
    OpenedUrls().clear();
    recorder = std::make_unique<MessageBoxRecorder>();
    recorder->OnNextBox(
        [this](const MessageBoxCall&) { timerActiveDuringBox = form->Timer4->isActive(); });
    form = MakeForm(true);
    // The ticks are driven by hand; the timer stays on, but never fires by itself.
    ASSERT_TRUE(form->Timer4->isActive());
    form->Timer4->setInterval(3600 * 1000);
  }
  void TearDown() override {
    form.reset();
    recorder.reset();
    while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
    SetVersionServerForTests({});
    OpenedUrls().clear();
  }
  const std::vector<MessageBoxCall>& boxes() const { return recorder->Calls(); }
  const std::vector<QString>& opened() const { return OpenedUrls(); }

  void Ticks(int count) {
    for (int i = 0; i < count; ++i) form->Timer4Timer();
  }
  // Ticks 1 to 3 send the request; ticks 4 to 6 count while the reply comes in.
  void RequestAndWait() {
    Ticks(3);
    ASSERT_EQ(form->VersionTicks, 3);
    ASSERT_TRUE(WaitUntil([&] { return form->CppWebBrowser1->ReadyState() == 4; }));
    Ticks(3);
    ASSERT_EQ(form->VersionTicks, 6);
  }
  bool Underlined() const { return form->L_Msg->font().underline(); }

  TestHttpServer server;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<MessageBoxRecorder> recorder;
  bool timerActiveDuringBox = true;
};

TEST_F(UpdateCheck, RequestOnTheThirdTickAndUpToDateOnTheSeventh) {
  server.Serve(OwnToken + "\r\n");
  Ticks(2);
  EXPECT_EQ(form->VersionTicks, 2);
  EXPECT_EQ(form->CppWebBrowser1->ReadyState(), 0);
  form->Timer4Timer();
  EXPECT_EQ(form->VersionTicks, 3);
  EXPECT_EQ(form->CppWebBrowser1->ReadyState(), 1);
  ASSERT_TRUE(WaitUntil([&] { return form->CppWebBrowser1->ReadyState() == 4; }));
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_TRUE(server.requests[0].startsWith("GET /files/zpitool.ver HTTP/1.1\r\n"))
      << server.requests[0].toStdString();
  EXPECT_TRUE(server.requests[0].contains("Cache-Control: no-cache\r\n"));
  EXPECT_EQ(form->L_Msg->text(), "");  // nothing shows before the check

  Ticks(3);
  EXPECT_EQ(form->L_Msg->text(), "");
  form->Timer4Timer();  // the seventh
  EXPECT_EQ(form->L_Msg->text(), QStringLiteral("O ZPiTool está atualizado"));
  EXPECT_FALSE(Underlined());
  EXPECT_FALSE(form->Timer4->isActive());
  EXPECT_TRUE(boxes().empty());
  EXPECT_TRUE(opened().empty());
  EXPECT_EQ(server.requests.size(), 1u);
}

TEST_F(UpdateCheck, NewerVersionAnsweredNoShowsTheOfferLabelThatWorksOnce) {
  server.Serve("<html>\n#*$(002.047.067@@002.047.067)$*#\n</html>");
  RequestAndWait();
  form->Timer4Timer();

  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].title, QStringLiteral("Atualização ZPiTool"));
  EXPECT_EQ(boxes()[0].text,
            QStringLiteral("Há uma nova versão do aplicativo ZPiTool disponível\r\n"
                           "gostaria de fazer o download agora?"));
  EXPECT_EQ(boxes()[0].icon, MsgIcon::Information);
  EXPECT_EQ(boxes()[0].buttons, MsgButtons::YesNo);
  EXPECT_FALSE(timerActiveDuringBox);
  EXPECT_FALSE(form->Timer4->isActive());
  EXPECT_TRUE(opened().empty());

  TClickLabel* label = form->L_Msg;
  EXPECT_EQ(label->text(), QStringLiteral("Clique aqui para atualizar o ZPiTool"));
  EXPECT_TRUE(Underlined());
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));

  const QString download = server.Base().toString() + "/files/ZPiTool%20v2.47.C.exe";
  QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2));
  ASSERT_EQ(opened().size(), 1u);
  EXPECT_EQ(opened()[0], download);
  EXPECT_EQ(label->text(), "");
  QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_EQ(opened().size(), 1u);

  // Hovering the offer label still shows the hand.
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QCoreApplication::sendEvent(label, &enter);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(label, &leave);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  EXPECT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(boxes().size(), 1u);
}

TEST_F(UpdateCheck, OlderVersionAnsweredYesOpensTheDownload) {
  recorder->Answer(MsgResult::Yes);
  server.Serve(OwnToken.left(4) + "002.045.066@@002.045.066)$*#\r\n");
  RequestAndWait();
  form->Timer4Timer();
  ASSERT_EQ(boxes().size(), 1u);
  ASSERT_EQ(opened().size(), 1u);
  EXPECT_EQ(opened()[0], server.Base().toString() + "/files/ZPiTool%20v2.45.B.exe");
  EXPECT_EQ(form->L_Msg->text(), "");
  EXPECT_FALSE(form->L_Msg->OnClick);
  EXPECT_FALSE(form->Timer4->isActive());
}

TEST_F(UpdateCheck, UnreachableServerRepeatsQuietly) {
  SetVersionServerForTests(ClosedPort());
  RequestAndWait();
  form->Timer4Timer();
  EXPECT_EQ(form->VersionTicks, 0);
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(form->L_Msg->text(), "");
  EXPECT_TRUE(form->Timer4->isActive());
  // The next request three ticks later, and the same quiet end again.
  Ticks(2);
  EXPECT_EQ(form->CppWebBrowser1->ReadyState(), 4);
  form->Timer4Timer();
  EXPECT_EQ(form->VersionTicks, 3);
  ASSERT_TRUE(WaitUntil([&] { return form->CppWebBrowser1->ReadyState() == 4; }));
  Ticks(4);
  EXPECT_EQ(form->VersionTicks, 0);
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(form->L_Msg->text(), "");
}

TEST_F(UpdateCheck, AReplyNotInYetWaitsForTheNextCycle) {
  server.Hold();
  Ticks(3);
  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 1; }));
  Ticks(3);
  form->Timer4Timer();  // the check finds the reply still loading
  EXPECT_EQ(form->VersionTicks, 7);
  EXPECT_EQ(form->CppWebBrowser1->ReadyState(), 1);
  // Twelve ticks later the request goes out again; the held one is dropped.
  server.Serve(OwnToken + "\n");
  Ticks(11);
  EXPECT_EQ(form->VersionTicks, 2);
  EXPECT_EQ(server.requests.size(), 1u);
  form->Timer4Timer();  // the twelfth
  ASSERT_TRUE(WaitUntil([&] { return form->CppWebBrowser1->ReadyState() == 4; }));
  EXPECT_EQ(server.requests.size(), 2u);
  Ticks(4);
  EXPECT_EQ(form->L_Msg->text(), QStringLiteral("O ZPiTool está atualizado"));
  EXPECT_TRUE(boxes().empty());
}

struct BadBody {
  const char* what;
  QByteArray body;
  int status;
};

TEST_F(UpdateCheck, WhateverTheServerSendsIsIgnoredQuietly) {
  QByteArray binary(300, '\0');
  for (int i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 37 + 11) & 0xFF);
  const std::vector<BadBody> bodies{
      {"nothing", "", 200},
      {"error page holding the token", OwnToken + "\r\n", 404},
      {"server error", "#*$(002.047.067@@002.047.067)$*#\r\n", 500},
      {"huge body", QByteArray(4 * 1024 * 1024, 'x').prepend(OwnToken + "\n"), 200},
      {"binary", binary, 200},
      {"# before the token", "# " + OwnToken, 200},
      {"copies differ", "#*$(002.047.067@@002.047.068)$*#\r\n", 200},
      {"non-digit", "#*$(002.04x.067@@002.04x.067)$*#\r\n", 200},
      {"no file name for the revision", "#*$(002.047.047@@002.047.047)$*#\r\n", 200},
  };
  for (const BadBody& bad : bodies) {
    SCOPED_TRACE(bad.what);
    server.Serve(bad.body, bad.status);
    form->VersionTicks = 0;
    RequestAndWait();
    form->Timer4Timer();
    EXPECT_EQ(form->VersionTicks, 0);
    EXPECT_TRUE(boxes().empty());
    EXPECT_TRUE(opened().empty());
    EXPECT_EQ(form->L_Msg->text(), "");
    EXPECT_TRUE(form->Timer4->isActive());
  }
}

struct Page {
  const char* what;
  QByteArray contentType;  // empty: none sent
  QByteArray body;
  bool upToDate;
};

// The token is read from what the page's body holds: a text file inside the pre-formatted
// element a browser shows it in, an HTML page's body without its head.
TEST_F(UpdateCheck, TheTokenIsReadFromThePageBodyAsABrowserShowsIt) {
  const QByteArray style = "<style>body { color: #404040; background: #ffffff; }</style>";
  const QByteArray script = "<script>" + QByteArray(600, ' ') + "</script>";
  const std::vector<Page> pages{
      {"text file holding the token alone", "text/plain", OwnToken, true},
      {"the token alone, no content type", "", OwnToken, true},
      {"text file that the wrapping takes to 500", "text/plain",
       OwnToken + QByteArray(489 - OwnToken.size(), ' '), false},
      {"text file that the wrapping takes to 499", "text/plain",
       OwnToken + QByteArray(488 - OwnToken.size(), ' '), true},
      {"HTML page with '#' in its head", "text/html; charset=utf-8",
       "<html><head>" + style + "</head><body>\n" + OwnToken + "\n</body></html>", true},
      {"HTML page with a long head", "text/html",
       "<!DOCTYPE html><html><head>" + script + "</head><BODY class=\"v\">" + OwnToken +
           "\r\n</BODY></html>",
       true},
      {"HTML page with the token in its head only", "text/html",
       "<html><head><title>" + OwnToken + "</title></head><body>nada de novo</body></html>",
       false},
  };
  for (const Page& page : pages) {
    SCOPED_TRACE(page.what);
    server.Serve(page.body, 200, page.contentType);
    form->VersionTicks = 0;
    form->L_Msg->setText(QString());
    form->Timer4->start();
    RequestAndWait();
    form->Timer4Timer();
    const QString expected = page.upToDate ? QStringLiteral("O ZPiTool está atualizado") : "";
    EXPECT_EQ(form->L_Msg->text().toStdString(), expected.toStdString());
    EXPECT_EQ(form->Timer4->isActive(), !page.upToDate);
    EXPECT_EQ(form->VersionTicks, page.upToDate ? 6 : 0);
  }
  EXPECT_TRUE(boxes().empty());
}

// The offer is Qt's own box, its buttons in the system's language (tests/CMakeLists.txt runs
// this once more on a Brazilian system) and the tool's texts as written.
TEST_F(UpdateCheck, TheOfferBoxSpeaksTheSystemsLanguage) {
  struct Buttons {
    QString yes, no, ok;
  } expected;
  const QLocale::Language language = QLocale::system().language();
  if (language == QLocale::Portuguese)
    expected = {QStringLiteral("Sim"), QStringLiteral("Não"), QStringLiteral("OK")};
  else if (language == QLocale::English || language == QLocale::C)
    expected = {QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("OK")};
  else
    GTEST_SKIP() << "no button texts known for " << QLocale::system().name().toStdString();

  server.Serve("#*$(002.047.067@@002.047.067)$*#\r\n");
  RequestAndWait();
  RealBox offer(QMessageBox::No);
  form->Timer4Timer();  // returns once the box is answered
  ASSERT_TRUE(offer.seen);
  EXPECT_EQ(offer.title, QStringLiteral("Atualização ZPiTool"));
  EXPECT_EQ(offer.text, QStringLiteral("Há uma nova versão do aplicativo ZPiTool disponível\n"
                                       "gostaria de fazer o download agora?"));
  EXPECT_EQ(offer.buttons[QMessageBox::Yes].toStdString(), expected.yes.toStdString());
  EXPECT_EQ(offer.buttons[QMessageBox::No].toStdString(), expected.no.toStdString());
  EXPECT_EQ(form->L_Msg->text(), QStringLiteral("Clique aqui para atualizar o ZPiTool"));
  const QString folder = QStringLiteral(ZPI_SCREENSHOT_DIR);
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString picture = folder + "/update_offer_" + QLocale::system().name() + ".png";
  ASSERT_TRUE(offer.picture.save(picture));
  std::printf("update offer box: %s\n", qPrintable(picture));

  RealBox error(QMessageBox::Ok);
  EXPECT_EQ(ShowMessageBox(QStringLiteral("Valor inválido"), QStringLiteral("Erro"), MsgIcon::Warning),
            MsgResult::Ok);
  ASSERT_TRUE(error.seen);
  EXPECT_EQ(error.buttons[QMessageBox::Ok].toStdString(), expected.ok.toStdString());
  EXPECT_EQ(error.title, QStringLiteral("Erro"));
}

TEST_F(UpdateCheck, SiteLabelOpensTheProductPageAndShowsTheHand) {
  TClickLabel* site = form->L_Site;
  EXPECT_TRUE(site->text().endsWith("/zpi"));
  EXPECT_FALSE(site->text().contains("://"));
  QTest::mouseClick(site, Qt::LeftButton, {}, QPoint(2, 2));
  ASSERT_EQ(opened().size(), 1u);
  EXPECT_EQ(opened()[0], "http://" + site->text());

  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QCoreApplication::sendEvent(site, &enter);
  QCoreApplication::sendEvent(site, &enter);  // twice in a row must not stack
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(site, &leave);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  QCoreApplication::sendEvent(site, &leave);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(VersionFetcher, ReadsUpToTheLimitAndNoFurther) {
  TestHttpServer server;
  TVersionFetcher fetcher;
  const QUrl address = server.Base().resolved(QUrl("/files/zpitool.ver"));
  for (const qsizetype size : {qsizetype{0}, qsizetype{1}, TVersionFetcher::BodyLimit,
                               TVersionFetcher::BodyLimit + 1, 3 * TVersionFetcher::BodyLimit}) {
    SCOPED_TRACE(size);
    QByteArray body(size, 'a');
    if (size > 0) body[size - 1] = 'z';
    server.Serve(body);
    fetcher.Navigate(address, true);
    ASSERT_TRUE(WaitUntil([&] { return fetcher.ReadyState() == 4; }));
    EXPECT_TRUE(fetcher.HasDocument());
    const auto got = fetcher.Body();
    if (size <= TVersionFetcher::BodyLimit) {
      ASSERT_TRUE(got);
      EXPECT_EQ(QByteArray::fromStdString(*got), body);
    } else {
      EXPECT_FALSE(got);
    }
  }
}

TEST(VersionFetcher, OnlyTheLastRequestCounts) {
  TestHttpServer server;
  TVersionFetcher fetcher;
  int completions = 0;
  QObject::connect(&fetcher, &TVersionFetcher::DocumentComplete, [&] { ++completions; });
  const QUrl address = server.Base().resolved(QUrl("/files/zpitool.ver"));

  server.Hold();
  fetcher.Navigate(address, true);
  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 1; }));
  fetcher.Stop();
  EXPECT_EQ(fetcher.ReadyState(), 0);
  EXPECT_FALSE(fetcher.HasDocument());
  EXPECT_FALSE(fetcher.Body());

  fetcher.Navigate(address, true);
  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 2; }));
  server.Serve("second");
  fetcher.Navigate(address, false);  // drops the held one
  ASSERT_TRUE(WaitUntil([&] { return fetcher.ReadyState() == 4; }));
  EXPECT_EQ(fetcher.Body(), std::optional<std::string>("second"));
  EXPECT_FALSE(server.requests.back().contains("no-cache"));
  // Nothing of the dropped requests arrives late.
  QCoreApplication::processEvents();
  EXPECT_EQ(completions, 1);
}

TEST(VersionFetcher, GoingAwayWhileLoadingIsSafe) {
  TestHttpServer server;
  server.Hold();
  auto fetcher = std::make_unique<TVersionFetcher>();
  fetcher->Navigate(server.Base().resolved(QUrl("/files/zpitool.ver")), true);
  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 1; }));
  fetcher.reset();
  QCoreApplication::processEvents();
  SUCCEED();
}

TEST(UpdateCleanUp, RemovesTheOldCopiesBesideTheRunningExecutable) {
  QDir folder(QCoreApplication::applicationDirPath());
  const QStringList old{"ZPiTool v2.45.B.exe", "ZPiTool v2.46.A.exe", "ZPiTool v2.44.B.exe",
                        "ZPiTool v2.45.A.exe"};
  const QStringList others{"ZPiTool v2.46.B.exe", "ZPiTool v2.43.B.exe"};
  for (const QString& name : old + others) {
    QFile file(folder.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
  }
  SetVersionServerForTests(ClosedPort());
  TForm1 form;  // creating the window runs the clean-up
  for (const QString& name : old) EXPECT_FALSE(folder.exists(name)) << name.toStdString();
  for (const QString& name : others) {
    EXPECT_TRUE(folder.exists(name)) << name.toStdString();
    folder.remove(name);
  }
  EXPECT_TRUE(QFileInfo::exists(ExecutablePath()));
  SetVersionServerForTests({});
}

}  // namespace
