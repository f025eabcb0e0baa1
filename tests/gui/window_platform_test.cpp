// The platform layer and the small controls: the log's lines and colours, the standard error
// report with its full-stop rule, failures escaping a handler, the message boxes over the
// window, the hooks, the toggle button.
#include "support/gui_support.h"

// lib
#include "app/controls.h"
#include "config/config_record.h"

// Qt
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>

// Std
#include <stdexcept>
#include <vector>

namespace {

QString YesIn(const QLocale& locale) {
  QTranslator* translator = InstallQtTranslations(locale);
  const QString yes = QCoreApplication::translate("QPlatformTheme", "&Yes");
  if (translator != nullptr) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
  return yes;
}

TEST(QtTranslations, BesideTheExecutableFirstThenQtsOwn) {
  const QString own = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const QString beside = QCoreApplication::applicationDirPath() + "/translations";
  // The Brazilian catalogue: Qt's own (Debian's qt6-translations-l10n), or, for a Qt built
  // without translations (the Windows build), the copy the build puts beside the tests.
  QString brazilian = own + "/qtbase_pt_BR.qm";
  if (!QFile::exists(brazilian)) brazilian = beside + "/qtbase_pt_BR.qm";
  ASSERT_TRUE(QFile::exists(brazilian)) << "Debian's qt6-translations-l10n";
  EXPECT_EQ(YesIn(QLocale(QLocale::Portuguese, QLocale::Brazil)), QStringLiteral("&Sim"));
  if (QFile::exists(own + "/qtbase_de.qm")) {
    EXPECT_EQ(YesIn(QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("&Ja"));
  }
  EXPECT_EQ(InstallQtTranslations(QLocale(QLocale::Zulu)), nullptr);  // nobody has it
  // The Brazilian catalogue under a German name beside the executable wins over Qt's German.
  const bool hadFolder = QDir(beside).exists();
  ASSERT_TRUE(QDir().mkpath(beside));
  ASSERT_TRUE(QFile::copy(brazilian, beside + "/qtbase_de.qm"));
  EXPECT_EQ(YesIn(QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("&Sim"));
  QFile::remove(beside + "/qtbase_de.qm");
  if (!hadFolder) QDir().rmdir(beside);
}

TEST(RichLog, LinesColoursAndClear) {
  TRichLog log;
  EXPECT_TRUE(log.Lines().isEmpty());
  log.Add(QStringLiteral("primeira"));
  log.Add(QString());  // an empty line is a line
  log.SetColor(QColor(255, 0, 0));
  log.Add(QStringLiteral("Parâmetro inválido!\r\n[Aceleração]"));  // two lines
  log.Add(QStringLiteral("ainda vermelho"));
  EXPECT_EQ(log.Lines(), (QStringList{"primeira", "", "Parâmetro inválido!", "[Aceleração]", "ainda vermelho"}));
  EXPECT_EQ(log.LineColor(0), QColor(Qt::black));
  EXPECT_EQ(log.LineColor(2), QColor(255, 0, 0));
  EXPECT_EQ(log.LineColor(3), QColor(255, 0, 0));
  EXPECT_EQ(log.LineColor(4), QColor(255, 0, 0));
  EXPECT_FALSE(log.LineColor(9).isValid());

  log.Clear();
  EXPECT_TRUE(log.Lines().isEmpty());
  EXPECT_EQ(log.Color(), QColor(Qt::black));  // clearing is the way back to black
  log.Add(QStringLiteral("Conexão aberta..."));
  EXPECT_EQ(log.Lines(), QStringList{QStringLiteral("Conexão aberta...")});
  EXPECT_EQ(log.LineColor(0), QColor(Qt::black));
}

TEST(RichLog, TextIsNeverTakenAsMarkup) {
  TRichLog log;
  log.Add(QStringLiteral("<b>1 < 2 & 3</b>"));
  EXPECT_EQ(log.Lines(), QStringList{QStringLiteral("<b>1 < 2 & 3</b>")});
}

TEST(ErrorReport, FullStopRule) {
  const std::vector<std::pair<QString, QString>> cases{
      {"", ""},
      {"Unable to open com port (win error code: 2)", "Unable to open com port (win error code: 2)"},  // ')' < '.'
      {"ReadFile function failed", "ReadFile function failed."},
      {"already.", "already."},
      {"ends in a slash/", "ends in a slash/."},  // '/' is just above '.'
      {"ends in a dash-", "ends in a dash-"},     // '-' is just below
      {"pergunta?", "pergunta?."},
      {"exclama!", "exclama!"},
      {"código 7", "código 7."},
      {"Ação", "Ação."},
      {"space ", "space "},
  };
  for (const auto& [message, shown] : cases)
    EXPECT_EQ(WithFullStop(message), shown) << message.toStdString();
}

// A receiver whose event handler fails, as a handler can.
class Failing : public QObject {
 public:
  enum class Kind { Std, Other };
  explicit Failing(Kind kind) : kind_(kind) {}
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      if (kind_ == Kind::Std)
        throw std::runtime_error("SetCommState function failed (win error code: 22)");
      throw 42;
    }
    return QObject::event(e);
  }

 private:
  Kind kind_;
};

TEST(ErrorReport, WhatEscapesAHandlerIsShownAndTheLoopGoesOn) {
  MessageBoxRecorder boxes;
  Failing standard(Failing::Kind::Std);
  Failing other(Failing::Kind::Other);
  QCoreApplication::postEvent(&standard, new QEvent(QEvent::User));
  QCoreApplication::postEvent(&other, new QEvent(QEvent::User));
  ASSERT_TRUE(WaitUntil([&] { return boxes.Count() == 2; }));
  EXPECT_EQ(boxes.Calls()[0].title, QStringLiteral("ZPi Tool"));
  EXPECT_EQ(boxes.Calls()[0].icon, MsgIcon::Error);
  EXPECT_EQ(boxes.Calls()[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(boxes.Calls()[0].text, QStringLiteral("SetCommState function failed (win error code: 22)"));
  EXPECT_EQ(boxes.Calls()[1].text, QString());
  EXPECT_EQ(boxes.Calls()[1].icon, MsgIcon::Error);
}

TEST(ErrorReport, GuardedHandlerReportsInsteadOfUnwinding) {
  MessageBoxRecorder boxes;
  bool after = false;
  Guarded([] { throw std::runtime_error("falhou"); })();
  after = true;
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, QStringLiteral("falhou."));
  EXPECT_TRUE(after);
}

TEST(MessageBoxes, RecorderAnswersAsScripted) {
  MessageBoxRecorder boxes;
  boxes.Answer(MsgResult::Yes);
  EXPECT_EQ(ShowMessageBox("a", "Atualização ZPiTool", MsgIcon::Information, MsgButtons::YesNo), MsgResult::Yes);
  EXPECT_EQ(ShowMessageBox("b", "Atualização ZPiTool", MsgIcon::Information, MsgButtons::YesNo), MsgResult::No);
  EXPECT_EQ(ShowMessageBox("Parâmetro inválido!\r\n[Velocidade]", "Erro", MsgIcon::Warning), MsgResult::Ok);
  ASSERT_EQ(boxes.Count(), 3u);
  EXPECT_EQ(boxes.Calls()[2].text, QStringLiteral("Parâmetro inválido!\r\n[Velocidade]"));  // as given
  EXPECT_EQ(boxes.Calls()[2].icon, MsgIcon::Warning);
}

// A failure's box has no owner and leaves the window usable: its handler waits for the OK
// while the window takes clicks, and a second failure shows its own box over the first. A
// refused field's box keeps the window's input from it until it is answered.
TEST(MessageBoxes, AFailureLeavesTheWindowUsableARefusedFieldDoesNot) {
  auto form = MakeForm();
  form->Timer5Timer();  // the panel's fields empty
  RealBox first(QMessageBox::Ok, [&](QMessageBox& box) {
    EXPECT_EQ(box.parentWidget(), nullptr);
    UserClick(form->B_SetDefaults);
    EXPECT_EQ(form->ED_VMX->text(), QStringLiteral("120"));
    RealBox second(QMessageBox::Ok, [&](QMessageBox&) { EXPECT_TRUE(box.isVisible()); });
    form->B_GetConfigClick();  // the port is closed: the read fails at once
    EXPECT_TRUE(second.pressed);
    EXPECT_EQ(second.title, QStringLiteral("ERRO #0x03"));
  });
  form->Engine().WriteConfig(DefaultConfig());  // the port is closed: returns after the OK
  EXPECT_TRUE(first.pressed);
  EXPECT_FALSE(first.modal);
  EXPECT_EQ(first.title, QStringLiteral("ERRO #0x01"));

  form->ED_VMX->setText(QStringLiteral("151"));
  RealBox refused(QMessageBox::Ok, [&](QMessageBox&) {
    UserClick(form->B_SetVentora);  // taken by nobody: the preset does not reach the panel
    EXPECT_EQ(form->ED_VMX->text(), QStringLiteral("151"));
  });
  form->B_SetConfigClick();
  EXPECT_TRUE(refused.modal);
  EXPECT_EQ(form->ED_VMX->text(), QString());  // emptied after the OK
}

// Closing the main window under a box ends the application: the box goes with it, the handler
// that waited for it returns, and the loop ends.
TEST(MessageBoxes, ClosingTheWindowUnderABoxEndsTheApplication) {
  auto form = MakeForm();
  bool returned = false;
  RealBox box(QMessageBox::NoButton, [&](QMessageBox&) { form->close(); });
  QTimer::singleShot(0, form.get(), [&] {
    form->B_GetConfigClick();  // the port is closed: ERRO #0x03
    returned = true;
  });
  QTimer watchdog;  // a loop that never ends fails the test instead of hanging it
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  watchdog.start(10000);
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(box.seen);
  EXPECT_TRUE(returned);
  for (QWidget* widget : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<QMessageBox*>(widget) && widget->isVisible());
}

TEST(Platform, DateTimeTextAndUrlHooks) {
  // The system's short date then its long time, with nothing between them.
  const QString text = DateTimeText();
  const QLocale locale = QLocale::system();
  EXPECT_TRUE(text.startsWith(locale.toString(QDate::currentDate(), QLocale::ShortFormat)) ||
              text.startsWith(locale.toString(QDate::currentDate().addDays(-1), QLocale::ShortFormat)))
      << text.toStdString();
  SetDateTimeHook([] { return QStringLiteral("08/12/202616:41:22"); });
  EXPECT_EQ(DateTimeText(), QStringLiteral("08/12/202616:41:22"));
  SetDateTimeHook(nullptr);

  OpenedUrls().clear();
  OpenUrl(QStringLiteral("http://127.0.0.1:1/zpi"));
  ASSERT_EQ(OpenedUrls().size(), 1u);
  EXPECT_EQ(OpenedUrls()[0], QStringLiteral("http://127.0.0.1:1/zpi"));
  EXPECT_EQ(ExecutablePath(), QCoreApplication::applicationFilePath());
}

TEST(SpeedButton, MayReleaseRule) {
  TSpeedButton button;
  int clicks = 0;
  button.OnClick = [&] { ++clicks; };
  button.show();
  button.click();
  EXPECT_TRUE(button.Down());
  button.AllowAllUp = false;
  button.click();  // pressed and may not be released: stays down, handler still runs
  EXPECT_TRUE(button.Down());
  button.AllowAllUp = true;
  button.click();
  EXPECT_FALSE(button.Down());
  EXPECT_EQ(clicks, 3);
}

TEST(ClickLabel, ClickAndHoverHandlers) {
  TClickLabel label(QStringLiteral("Limpar"));
  label.resize(60, 14);
  label.show();
  int clicks = 0;
  label.OnClick = [&] { ++clicks; };
  QTest::mouseClick(&label, Qt::LeftButton);
  QTest::mouseClick(&label, Qt::RightButton);  // only the left button clicks
  EXPECT_EQ(clicks, 1);
  label.OnClick = nullptr;  // unbound: nothing happens
  QTest::mouseClick(&label, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  // A handler that unbinds itself (the offer label's does) and then uses what it holds: the
  // closure must outlive its own call.
  const std::string held(64, 'x');
  std::size_t seen = 0;
  label.OnClick = [&label, &seen, held] {
    label.OnClick = nullptr;
    seen = held.size();
  };
  QTest::mouseClick(&label, Qt::LeftButton);
  EXPECT_EQ(seen, 64u);
  EXPECT_FALSE(label.OnClick);
}

}  // namespace
