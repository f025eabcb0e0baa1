#pragma once
// The few verbs the handlers are written against, implemented on Qt: let pending window
// messages run, owner-less message boxes, the standard error report, the date and time as
// text, opening an address in the system's browser, the executable's path and the system's
// scroll-bar colour. Tests replace the message boxes, the clock text and the browser with
// recorders.

// Qt
#include <QApplication>
#include <QColor>
#include <QLocale>
#include <QString>

class QTranslator;

// Std
#include <exception>
#include <functional>
#include <utility>

// Let pending window messages run (timers, port events, input) before going on.
void ProcessMessages();

enum class MsgIcon { None, Warning, Error, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };
// The main window while a box waits for its answer: it keeps taking input (the service's
// boxes, the update offer), or it takes none until the box is answered (a refused field).
enum class MsgWindow { Usable, Blocked };

struct MessageBoxCall {
  QString text;
  QString title;
  MsgIcon icon = MsgIcon::None;
  MsgButtons buttons = MsgButtons::Ok;
  MsgWindow window = MsgWindow::Usable;
};

// A box with no owner window. The caller waits here for the answer while the application's
// messages run (timers, the port, and the main window's input unless it is blocked); closing
// the main window ends the application and the boxes with it. Returns the button pressed (a
// box closed without one answers Ok, or No to a question).
MsgResult ShowMessageBox(const QString& text, const QString& title, MsgIcon icon = MsgIcon::None,
                         MsgButtons buttons = MsgButtons::Ok, MsgWindow window = MsgWindow::Usable);
// Replaces the boxes (tests record them and answer); an empty hook restores the real boxes.
void SetMessageBoxHook(std::function<MsgResult(const MessageBoxCall&)> hook);

// The standard error report: a "ZPi Tool" box with the error icon and the message, with a
// full stop added when the message ends in a character whose code is above '.'.
void ShowErrorReport(const QString& message);
[[nodiscard]] QString WithFullStop(const QString& message);
// The standard error report for a failure caught elsewhere (std::exception: its what();
// anything else: an empty message).
void ReportEscapedError(std::exception_ptr error);

// Wraps a handler so that a failure escaping it is shown by the standard error report
// instead of unwinding through the toolkit.
template <class Handler>
auto Guarded(Handler handler) {
  return [handler = std::move(handler)]() {
    try {
      handler();
    } catch (...) {
      ReportEscapedError(std::current_exception());
    }
  };
}

// The current date in the system's short date format followed by the time in its long
// time format. Tests can fix it.
[[nodiscard]] QString DateTimeText();
void SetDateTimeHook(std::function<QString()> hook);

// Hands an address to the system's default browser. Tests record it instead.
void OpenUrl(const QString& address);
void SetOpenUrlHook(std::function<void(const QString&)> hook);

// Full path of the running executable.
[[nodiscard]] QString ExecutablePath();

// The system's scroll-bar colour: Windows' own; elsewhere the colour the application's style
// gives a scroll bar's track.
[[nodiscard]] QColor ScrollBarColour();

// Qt's own texts (the message boxes' buttons) in the language of `locale`: Qt's "qtbase"
// catalogue from a "translations" folder beside the executable, or else from Qt's own
// translations folder. The tool's texts are never translated. Returns the translator installed
// (the application owns it), or null when no catalogue fits.
QTranslator* InstallQtTranslations(const QLocale& locale);

// The application: title "ZPi Tool", Qt's texts in the system's language; anything a handler
// lets escape is shown by the standard error report instead of ending the process.
class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
