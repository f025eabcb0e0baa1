// The port connection through the window, on a pseudo-terminal listed by
// ZPITOOL_EXTRA_PORTS: opening, closing by the button and by Timer2, a held or missing port,
// the unit unplugged, the port list, and the button under a failure's box.
#include "support/gui_support.h"
#include "support/pty_pair.h"
#include "support/unit_frames.h"

// Qt
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>

// Std
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// System
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

class PortConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    ports = std::make_unique<ScopedExtraPorts>(QStringList{QString::fromStdString(pty.SlavePath())});
    boxes = std::make_unique<MessageBoxRecorder>();
    form = MakeForm();
    ASSERT_TRUE(WaitUntil([&] { return !form->Timer5->isActive(); }));
    form->ComboBox1DropDown();
    const int index = form->ComboBox1->findText(QString::fromStdString(pty.SlavePath()));
    ASSERT_GE(index, 0);
    form->ComboBox1->setCurrentIndex(index);
  }
  void TearDown() override {
    form.reset();
    boxes.reset();
    ports.reset();
  }

  // Fills the panel, the engine-brake group and the log, so that a change can be seen.
  void FillEverything() {
    form->B_SetDefaultsClick();
    for (QCheckBox* box : {form->CB_BZ_VMX_WH, form->CB_EV_VCH_OUT, form->CB_EV_EBK_IN, form->CB_BZ_EBK_OUT,
                           form->Cb_Ventora, form->Cb_COMAutoClose})
      box->setChecked(true);
    form->ED_VEBK->setText(QStringLiteral("41"));
    form->Log->Add(QStringLiteral("linha anterior"));
  }

  void Click() { QTest::mouseClick(form->ButtonVCP, Qt::LeftButton); }

  PtyPair pty;
  std::unique_ptr<ScopedExtraPorts> ports;
  std::unique_ptr<MessageBoxRecorder> boxes;
  std::unique_ptr<TForm1> form;
};

TEST_F(PortConnection, OpeningClearsTheLogAndThePanelButNotTheEngineBrakeGroup) {
  FillEverything();
  Click();
  ASSERT_TRUE(form->VCP.Connected());
  EXPECT_EQ(form->VCP.Port, pty.SlavePath());
  EXPECT_EQ(form->VCP.AppliedBaudRate(), 3686400);
  EXPECT_TRUE(form->ButtonVCP->Down());
  EXPECT_FALSE(form->ButtonVCP->AllowAllUp);
  EXPECT_FALSE(form->ComboBox1->isEnabled());
  EXPECT_EQ(LogLines(*form), QStringList{QStringLiteral("Conexão aberta...")});
  EXPECT_EQ(form->Log->LineColor(0), QColor(Qt::black));
  EXPECT_EQ(form->ButtonVCP->icon().cacheKey(), form->ImageList1[0].cacheKey());
  EXPECT_FALSE(form->B_RemConfig->isEnabled());
  EXPECT_FALSE(form->Engine().IdentityHandled());

  for (const QLineEdit* edit : {form->ED_ACP, form->ED_ACN, form->ED_VMX, form->ED_TVMX, form->ED_VCH, form->ED_TVCH,
                                form->ED_RPX, form->ED_TRPX, form->ED_VBGL, form->ED_TBGL, form->ED_RBGL,
                                form->ED_TOSC, form->ED_XOSC})
    EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
  for (const QComboBox* list : {form->CB_PING, form->CB_A232, form->CB_B232})
    EXPECT_EQ(list->currentIndex(), -1);
  for (const QCheckBox* box : form->GB_Config->findChildren<QCheckBox*>())
    EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
  // Left as they were.
  EXPECT_EQ(form->ED_VEBK->text(), QStringLiteral("41"));
  EXPECT_TRUE(form->CB_EV_EBK_IN->isChecked());
  EXPECT_TRUE(form->CB_BZ_EBK_OUT->isChecked());
  EXPECT_TRUE(form->Cb_Ventora->isChecked());
  EXPECT_TRUE(form->Cb_COMAutoClose->isChecked());
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(PortConnection, ClosingByTheButtonWritesBelowTheLinesSinceOpening) {
  Click();
  ASSERT_TRUE(form->VCP.Connected());
  form->Log->Add(QStringLiteral("ZPi conectado"));
  form->B_SetConfig->setEnabled(true);  // as the dispatcher does after a read

  Click();  // the button is down and may not be released: only the handler releases it
  EXPECT_FALSE(form->VCP.Connected());
  EXPECT_EQ(LogLines(*form), (QStringList{"Conexão aberta...", "ZPi conectado", "Conexão fechada..."}));
  EXPECT_FALSE(form->ButtonVCP->Down());
  EXPECT_TRUE(form->ButtonVCP->AllowAllUp);
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_FALSE(form->B_SetConfig->isEnabled());
  EXPECT_TRUE(form->B_RemConfig->isEnabled());
  EXPECT_EQ(form->ButtonVCP->icon().cacheKey(), form->ImageList1[1].cacheKey());

  // And it opens again.
  Click();
  EXPECT_TRUE(form->VCP.Connected());
  EXPECT_EQ(LogLines(*form), QStringList{QStringLiteral("Conexão aberta...")});
}

TEST_F(PortConnection, OpeningDiscardsWhatWaitedOnTheLine) {
  const std::uint8_t stale[] = {0x01, 0x02, 0x03};
  ASSERT_TRUE(pty.Write(stale));  // waits in the port's queue before anyone opens it
  Click();
  ASSERT_TRUE(form->VCP.Connected());
  EXPECT_EQ(form->VCP.InputCount(), 0);
  // What arrives after the opening is heard, and nothing before it was.
  ASSERT_TRUE(pty.Write(stale));
  ASSERT_TRUE(WaitUntil([&] { return form->Engine().Transfer().Code10 > 0; }));
  EXPECT_EQ(form->Engine().Transfer().Code10, 1u);
}

// A user-interface thread too busy to run the port's announcements: they wait until the port
// closes, so bytes stay in the port's queue until the test reads them.
class StalledHandOff : public TComHandOff {
 public:
  void RunAndWait(std::function<void()>, const std::atomic<bool>& stop, TComErrorSink) override {
    std::unique_lock<std::mutex> lock(mutex_);
    woken_.wait(lock, [&] { return stop.load(); });
  }
  void RunQueued() override {}
  void Interrupt() override {
    const std::lock_guard<std::mutex> lock(mutex_);
    woken_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
};

// A delayed close that falls due while the receive handler lets pending messages run closes
// the port there; the handler then reads nothing and no error box follows.
TEST_F(PortConnection, ACloseDueInsideTheReceiveHandlerEndsItQuietly) {
  form->VCP.SetHandOff(std::make_shared<StalledHandOff>());
  Click();
  ASSERT_TRUE(form->VCP.Connected());
  const std::uint8_t bytes[] = {0xBC, 0x12, 0x02};
  ASSERT_TRUE(pty.Write(bytes));
  // The bytes wait; the handler is entered with the close due.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (form->VCP.InputCount() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(form->VCP.InputCount(), 3);
  form->Timer2->setInterval(0);  // due at the handler's first look at pending messages
  form->Timer2->start();
  form->VCPRxChar(3);
  EXPECT_FALSE(form->VCP.Connected());
  EXPECT_EQ(LogLines(*form).last(), QStringLiteral("Conexão fechada..."));
  EXPECT_EQ(form->Engine().Transfer().Code10, 0u);  // nothing dispatched
  EXPECT_EQ(boxes->Count(), 0u);
}

// A unit that announces itself while the opening lets pending messages run: its identity
// belongs to the new connection, and its lines stay below "Conexão aberta...".
TEST_F(PortConnection, AnAnnouncementDuringTheOpeningIsKept) {
  form->Log->Add(QStringLiteral("linha anterior"));
  form->VCP.Port = pty.SlavePath();
  form->VCP.SetConnected(true);
  TDeviceInfo unit;
  unit.Mode = 1;
  unit.Id = {0x5A500001u, 0x00C0FFEEu, 0x00000246u};
  unit.Version = {5, 1, 2, 46};  // a kind that starts nothing
  ASSERT_TRUE(pty.Write(BuildFrame(CmdDeviceInfo, DeviceInfoPayload(unit), UnitToTool)));
  // The announcement is handed to the window and waits among its pending messages.
  auto* handOff = dynamic_cast<TQueuedHandOff*>(form->VCP.HandOff());
  ASSERT_NE(handOff, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (handOff->Pending() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(handOff->Pending(), 1u);
  form->ButtonVCPState(true);
  ProcessMessages();
  EXPECT_EQ(LogLines(*form), (QStringList{"Conexão aberta...", "ZPi v5.1.2.46", "Id: 00000246 00C0FFEE 5A500001"}));
  EXPECT_TRUE(form->Engine().IdentityHandled());
}

TEST_F(PortConnection, AHeldPortLeavesTheButtonUpAndTheLogUnchanged) {
  const int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);  // another program has the port
  form->Log->Add(QStringLiteral("linha anterior"));

  Click();
  EXPECT_FALSE(form->VCP.Connected());
  EXPECT_FALSE(form->ButtonVCP->Down());
  EXPECT_TRUE(form->ButtonVCP->AllowAllUp);
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_EQ(LogLines(*form), QStringList{QStringLiteral("linha anterior")});
  EXPECT_EQ(boxes->Count(), 0u);

  ::close(holder);  // released: the same click now opens it
  Click();
  EXPECT_TRUE(form->VCP.Connected());
}

TEST_F(PortConnection, AVanishedPortFailsQuietly) {
  form->ComboBox1->addItem(QStringLiteral("/dev/zpitool-no-such-port"));
  form->ComboBox1->setCurrentIndex(form->ComboBox1->count() - 1);
  Click();
  EXPECT_FALSE(form->VCP.Connected());
  EXPECT_FALSE(form->ButtonVCP->Down());
  EXPECT_TRUE(LogLines(*form).isEmpty());
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(PortConnection, Timer2ClosesFiftyMillisecondsAfterARequest) {
  Click();
  ASSERT_TRUE(form->VCP.Connected());
  form->ComboBox1->setEnabled(true);  // as the request after a configuration write does
  QElapsedTimer clock;
  clock.start();
  form->Timer2->start();
  ASSERT_TRUE(WaitUntil([&] { return !form->VCP.Connected(); }));
  EXPECT_GE(clock.elapsed(), 45);
  EXPECT_FALSE(form->Timer2->isActive());  // once
  EXPECT_EQ(LogLines(*form).last(), QStringLiteral("Conexão fechada..."));
  EXPECT_EQ(LogLines(*form).count(QStringLiteral("Conexão fechada...")), 1);
  EXPECT_FALSE(form->ButtonVCP->Down());
  EXPECT_TRUE(form->ComboBox1->isEnabled());
}

TEST_F(PortConnection, Timer2LeavesThePortListAsTheRequesterLeftIt) {
  Click();
  ASSERT_TRUE(form->VCP.Connected());
  form->Timer2Timer();  // the close after the unit was found in operating mode
  EXPECT_FALSE(form->VCP.Connected());
  EXPECT_FALSE(form->ComboBox1->isEnabled());
  Click();  // the button still opens the same port again
  EXPECT_TRUE(form->VCP.Connected());
}

// A delayed close belongs to the connection that asked for it: closing by the button before
// it fires leaves one "Conexão fechada...", and a new opening is not closed by it.
TEST_F(PortConnection, APendingCloseOutlivesNeitherTheButtonNorItsConnection) {
  Click();
  form->Timer2->start();
  Click();  // closed by hand within the 50 ms
  ASSERT_FALSE(form->VCP.Connected());
  QTest::qWait(100);
  EXPECT_EQ(LogLines(*form).count(QStringLiteral("Conexão fechada...")), 1);

  form->Timer2->start();
  Click();  // opened again before the stale request fires
  ASSERT_TRUE(form->VCP.Connected());
  QTest::qWait(100);
  EXPECT_TRUE(form->VCP.Connected());
}

TEST_F(PortConnection, UnpluggingClosesThePortWithTheNormalClosePath) {
  Click();
  ASSERT_TRUE(form->VCP.Connected());
  form->Log->Add(QStringLiteral("ZPi conectado"));
  pty.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !form->VCP.Connected(); }));
  EXPECT_EQ(LogLines(*form), (QStringList{"Conexão aberta...", "ZPi conectado", "Conexão fechada..."}));
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_FALSE(form->ButtonVCP->Down());
  EXPECT_FALSE(form->Timer2->isActive());
  EXPECT_EQ(boxes->Count(), 0u);
}

TDeviceInfo CurrentUnit() {
  TDeviceInfo unit;
  unit.Mode = 1;
  unit.Id = {0x5A500001u, 0x00C0FFEEu, 0x00000246u};
  unit.Version = {4, 1, 2, 46};
  return unit;
}

// The window with a box over it, as the screen shows the two, for a person to look at. The
// offscreen screen draws no window frames: a plain strip above the box carries its title.
void SaveWindowWithBox(TForm1& form, QWidget& box, const QString& name) {
  constexpr int TitleHeight = 20;
  QImage picture = form.grab().toImage();
  QPainter painter(&picture);
  QPoint at = box.pos() - form.pos();
  const QRect framed(at - QPoint(0, TitleHeight), box.size() + QSize(0, TitleHeight));
  if (!picture.rect().contains(framed))
    at = picture.rect().center() - box.rect().center();
  const QRect title(at - QPoint(0, TitleHeight), QSize(box.width(), TitleHeight));
  painter.fillRect(title, QColor(60, 60, 60));
  painter.setPen(Qt::white);
  painter.drawText(title.adjusted(6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, box.windowTitle());
  painter.drawImage(at, box.grab().toImage());
  painter.drawRect(QRect(title.topLeft(), framed.size() - QSize(1, 1)));
  painter.end();
  const QString folder = QStringLiteral(ZPI_SCREENSHOT_DIR);
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_TRUE(picture.save(folder + u'/' + name));
  std::printf("window with a box: %s/%s\n", qPrintable(folder), qPrintable(name));
}

// A failure's box leaves the window usable: under an "ERRO #0x02" the USB button closes the
// port (and says so) and opens it again, the unit announces itself, and the read that then
// meets silence shows its own box over the first.
TEST_F(PortConnection, UnderAFailuresBoxTheWindowKeepsWorking) {
  Click();
  form->Timer1->setInterval(10);
  form->Timer3->setInterval(10);
  RealBox first(QMessageBox::Ok, [&](QMessageBox& box) {
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    UserClick(form->ButtonVCP);
    EXPECT_FALSE(form->VCP.Connected());
    EXPECT_EQ(LogLines(*form).last(), QStringLiteral("Conexão fechada..."));
    SaveWindowWithBox(*form, box, QStringLiteral("error_box_port_closed.png"));
    UserClick(form->ButtonVCP);
    ASSERT_TRUE(form->VCP.Connected());
    RealBox second(QMessageBox::Ok, [&](QMessageBox&) { EXPECT_TRUE(box.isVisible()); });
    ASSERT_TRUE(pty.Write(DeviceInfoFrame(CurrentUnit())));
    EXPECT_TRUE(WaitUntil([&] { return second.pressed; }));
    EXPECT_EQ(second.title, QStringLiteral("ERRO #0x04"));
  });
  form->Engine().WriteConfig(DefaultConfig());  // nobody answers: given up after ten ticks
  ASSERT_TRUE(WaitUntil([&] { return first.pressed; }));
  EXPECT_EQ(first.title, QStringLiteral("ERRO #0x02"));
  EXPECT_EQ(LogLines(*form), (QStringList{"Conexão aberta...", "ZPi v4.1.2.46", "Id: 00000246 00C0FFEE 5A500001",
                                          "O ZPi está atualizado!", "Buscando configuração interna..."}));
  EXPECT_TRUE(form->VCP.Connected());
  EXPECT_FALSE(form->Timer1->isActive() || form->Timer3->isActive());
}

// A give-up met inside the receive handler (the tenth refusal) shows its box once the handler
// has returned: under the box the port is heard.
TEST_F(PortConnection, AFailureInsideTheReceiveHandlerLeavesThePortHeard) {
  Click();
  form->Engine().WriteConfig(DefaultConfig());
  form->Timer1->stop();  // only the refusals tick the transfer
  bool heard = false;
  boxes->OnNextBox([&](const MessageBoxCall&) {
    const std::uint8_t cut[] = {0xBC, 0x12, 0x02};
    heard = pty.Write(cut) && WaitUntil([&] { return form->Engine().Transfer().Code10 == 1; });
  });
  for (std::uint32_t n = 1; n <= 10; ++n) {
    ASSERT_TRUE(pty.Write(BuildFrame(CmdRefusal, {}, UnitToTool)));
    ASSERT_TRUE(WaitUntil([&] { return form->Engine().Transfer().Nacks == n; })) << n;
  }
  ASSERT_TRUE(WaitUntil([&] { return boxes->Count() == 1; }));
  EXPECT_EQ(boxes->Calls()[0].title, QStringLiteral("ERRO #0x02"));
  EXPECT_TRUE(heard);
}

// A box that comes up while the button's own handler runs (a read's tick finding the port just
// closed): a click under it that opens the port again leaves the window open, as the port is.
TEST_F(PortConnection, AClickUnderABoxRaisedByTheButtonLeavesTheWindowAsThePortIs) {
  Click();
  form->Timer3->setInterval(0);  // ticks whenever messages run
  form->B_GetConfigClick();
  boxes->OnNextBox([&](const MessageBoxCall& call) {
    EXPECT_EQ(call.title, QStringLiteral("ERRO #0x03"));
    Click();
  });
  Click();  // closes; the tick that follows fails under the button's handler
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_TRUE(form->VCP.Connected());
  EXPECT_TRUE(form->ButtonVCP->Down());
  EXPECT_FALSE(form->ButtonVCP->AllowAllUp);
  EXPECT_EQ(form->ButtonVCP->icon().cacheKey(), form->ImageList1[0].cacheKey());
  EXPECT_FALSE(form->ComboBox1->isEnabled());
  EXPECT_EQ(LogLines(*form), QStringList{QStringLiteral("Conexão aberta...")});
}

TEST_F(PortConnection, OpeningTheListSelectsTheFirstEntry) {
  PtyPair second;
  ASSERT_TRUE(second.Ok());
  ScopedExtraPorts two({QString::fromStdString(pty.SlavePath()), QString::fromStdString(second.SlavePath())});
  form->ComboBox1->showPopup();  // runs ComboBox1DropDown first
  form->ComboBox1->hidePopup();
  ASSERT_GE(form->ComboBox1->count(), 2);
  EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
  EXPECT_GE(form->ComboBox1->findText(QString::fromStdString(second.SlavePath())), 0);
  form->ComboBox1->setCurrentIndex(1);
  form->ComboBox1DropDown();
  EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
}

TEST_F(PortConnection, ClosingTheWindowWithThePortOpenClosesIt) {
  Click();
  ASSERT_TRUE(form->VCP.Connected());
  const std::uint8_t bytes[] = {0xBC, 0x12};
  ASSERT_TRUE(pty.Write(bytes));  // a receive event may be pending while the window goes
  form.reset();
  // The port is free again: a fresh opening from this test succeeds.
  const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

}  // namespace
