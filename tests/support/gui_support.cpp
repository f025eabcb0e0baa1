#include "gui_support.h"

// Qt
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>

// Std
#include <cstdlib>

std::unique_ptr<TForm1> MakeForm(bool keepVersionCheck) {
  auto form = std::make_unique<TForm1>();
  if (!keepVersionCheck)
    form->Timer4->stop();
  form->show();
  return form;
}

MessageBoxRecorder::MessageBoxRecorder() {
  SetMessageBoxHook([this](const MessageBoxCall& call) {
    calls_.push_back(call);
    if (onNext_) {
      auto action = std::move(onNext_);
      onNext_ = nullptr;
      action(call);
    }
    if (!answers_.empty()) {
      const MsgResult answer = answers_.front();
      answers_.pop_front();
      return answer;
    }
    return call.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
  });
}

MessageBoxRecorder::~MessageBoxRecorder() {
  SetMessageBoxHook([](const MessageBoxCall& call) {
    return call.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
  });
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QDeadlineTimer deadline(timeout);
  while (!condition()) {
    if (deadline.hasExpired())
      return false;
    // Wakes at once for posted events and timers; the 5 ms only bounds an idle wait.
    QTest::qWait(5);
  }
  return true;
}

QStringList LogLines(const TForm1& form) { return form.Log->Lines(); }
QStringList IdListLines(const TForm1& form) { return form.LogIdList->Lines(); }

ScopedExtraPorts::ScopedExtraPorts(const QStringList& paths) {
  if (qEnvironmentVariableIsSet("ZPITOOL_EXTRA_PORTS"))
    previous_ = qgetenv("ZPITOOL_EXTRA_PORTS");
  qputenv("ZPITOOL_EXTRA_PORTS", paths.join(u':').toLocal8Bit());
}

ScopedExtraPorts::~ScopedExtraPorts() {
  if (previous_)
    qputenv("ZPITOOL_EXTRA_PORTS", *previous_);
  else
    qunsetenv("ZPITOOL_EXTRA_PORTS");
}

std::vector<QString>& OpenedUrls() {
  static std::vector<QString> urls;
  return urls;
}

void WindowTest::SetUp() {
  boxes = std::make_unique<MessageBoxRecorder>();
  form = MakeForm();
}

void WindowTest::TearDown() {
  form.reset();
  boxes.reset();
}
