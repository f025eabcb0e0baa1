#pragma once
// Support for window tests on the offscreen platform (gui_main.cpp creates the TApplication
// and runs GoogleTest):
//  - MakeForm(): a fresh, shown TForm1 per test (it is Form1 while it lives);
//  - MessageBoxRecorder: replaces the message boxes, records every call and answers with
//    scripted results, so no test ever blocks on a modal box;
//  - RealBox: lets the real boxes show and acts on the next one while it is up;
//  - UserClick(): a click that comes in as the user's does, through the window (so a modal
//    box keeps it from the window);
//  - WaitUntil(): processes events until a condition holds or a deadline passes;
//  - LogLines()/IdListLines(): the lines of the log and of the release list;
//  - ScopedExtraPorts: sets ZPITOOL_EXTRA_PORTS (e.g. to a PtyPair's SlavePath()) for a scope;
//  - OpenedUrls(): what the tool handed to the system's browser (never launched in tests).
// WindowTest is a fixture with a recorder and a fresh window.

// lib
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "service/service_engine.h"

// Qt: what the window's members need to be used in a test
#include <QByteArray>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>

// Std
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// GoogleTest
#include <gtest/gtest.h>

// A fresh main window, shown offscreen. The version check's timer (Timer4) is stopped unless
// keepVersionCheck is true, so that no test reaches out to the vendor's server by accident.
[[nodiscard]] std::unique_ptr<TForm1> MakeForm(bool keepVersionCheck = false);

class MessageBoxRecorder {
 public:
  MessageBoxRecorder();   // installs itself as the message-box hook
  ~MessageBoxRecorder();  // back to the fallback of gui_main (records nothing, answers Ok/No)
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  // Queues the answer to the next box; without one, Ok boxes answer Ok and Yes/No boxes No.
  void Answer(MsgResult result) { answers_.push_back(result); }
  // Runs `action` when the next box is shown (before it answers), e.g. to look at the window.
  void OnNextBox(std::function<void(const MessageBoxCall&)> action) { onNext_ = std::move(action); }
  [[nodiscard]] const std::vector<MessageBoxCall>& Calls() const { return calls_; }
  [[nodiscard]] std::size_t Count() const { return calls_.size(); }
  void Clear() { calls_.clear(); }

 private:
  std::vector<MessageBoxCall> calls_;
  std::deque<MsgResult> answers_;
  std::function<void(const MessageBoxCall&)> onNext_;
};

// Lets the real message boxes show from now on (until a recorder is made again), waits for the
// next box to come up, takes in what it shows, runs `whileUp` with the box still up and then
// presses `press` on it (QMessageBox::NoButton: leaves it).
class RealBox : public QObject {
 public:
  explicit RealBox(QMessageBox::StandardButton press, std::function<void(QMessageBox&)> whileUp = {});

  bool seen = false;
  bool pressed = false;
  bool modal = false;  // the application's modal widget while it was up
  QString title;
  QString text;
  std::map<QMessageBox::StandardButton, QString> buttons;
  QImage picture;

 private:
  QTimer poll_;
};

// A left click at the middle of `widget` as the user's comes in: to its window, which hands it
// on unless a modal box blocks it.
void UserClick(QWidget* widget);

// Processes events until `condition` holds (true) or `timeout` passes (false).
[[nodiscard]] bool WaitUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds timeout = std::chrono::seconds(5));

[[nodiscard]] QStringList LogLines(const TForm1& form);
[[nodiscard]] QStringList IdListLines(const TForm1& form);

class ScopedExtraPorts {
 public:
  explicit ScopedExtraPorts(const QStringList& paths);
  ~ScopedExtraPorts();
  ScopedExtraPorts(const ScopedExtraPorts&) = delete;
  ScopedExtraPorts& operator=(const ScopedExtraPorts&) = delete;

 private:
  std::optional<QByteArray> previous_;
};

// Addresses handed to OpenUrl since the start of the process (or the last clear).
[[nodiscard]] std::vector<QString>& OpenedUrls();

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::unique_ptr<MessageBoxRecorder> boxes;
  std::unique_ptr<TForm1> form;
};
