#include "gui_support.h"

// Qt
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>

// Std
#include <algorithm>
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

RealBox::RealBox(QMessageBox::StandardButton press, std::function<void(QMessageBox&)> whileUp) {
  SetMessageBoxHook({});
  // Boxes already taken by a RealBox; a box that comes up later is the next one.
  static std::vector<QPointer<QMessageBox>> taken;
  connect(&poll_, &QTimer::timeout, this, [this, press, whileUp = std::move(whileUp)] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible() || std::count(taken.begin(), taken.end(), box) > 0) continue;
      taken.emplace_back(box);
      poll_.stop();
      seen = true;
      modal = QApplication::activeModalWidget() == box;
      title = box->windowTitle();
      text = box->text();
      for (QMessageBox::StandardButton which : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok})
        if (QAbstractButton* button = box->button(which))
          buttons[which] = button->text().remove(u'&');
      picture = box->grab().toImage();
      const QPointer<QMessageBox> alive(box);
      if (whileUp) whileUp(*box);
      if (alive && alive->isVisible() && press != QMessageBox::NoButton) {
        alive->button(press)->click();
        pressed = true;
      }
      return;
    }
  });
  poll_.start(5);
}

void UserClick(QWidget* widget) {
  QWidget* window = widget->window();
  QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window, widget->rect().center()));
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
