// zpidemo: the tool's window driven by itself, for machines without a display. It opens the
// given port (normally a simulated unit's), lets the automatic service run to its end,
// prints the log lines as they appear, saves a screenshot of the final window and exits.
//
//   zpidemo --port /dev/pts/5 --screenshot demo.png [--timeout SECONDS]
//
// Message boxes are printed and answered (OK, or No to a question) instead of shown.
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"

#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

namespace {

void Print(const QString& line) {
  std::fputs(line.toLocal8Bit().constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription("Runs the tool's automatic service against one port without a display.");
  parser.addHelpOption();
  const QCommandLineOption portOption("port", "The port to open (a device path).", "path");
  const QCommandLineOption shotOption("screenshot", "Where to save the final window (PNG).", "file", "zpidemo.png");
  const QCommandLineOption timeoutOption("timeout", "Give up after this many seconds.", "seconds", "120");
  parser.addOptions({portOption, shotOption, timeoutOption});
  parser.process(app);
  const QString port = parser.value(portOption);
  if (port.isEmpty()) {
    std::fprintf(stderr, "zpidemo: --port is required\n");
    return 2;
  }

  SetMessageBoxHook([](const MessageBoxCall& box) {
    Print(QString("[%1] %2").arg(box.title, QString(box.text).replace("\r\n", " / ")));
    return box.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
  });

  qputenv("ZPITOOL_EXTRA_PORTS", port.toLocal8Bit());
  TForm1 form;
  form.show();

  // Mirror the log: print every line once, as it appears (the log is cleared on opening).
  int printed = 0;
  QElapsedTimer sinceChange;
  sinceChange.start();
  QObject::connect(form.Log, &QTextEdit::textChanged, &form, [&] {
    const QStringList lines = form.Log->Lines();
    if (lines.size() < printed) printed = 0;
    for (; printed < lines.size(); ++printed) Print("  " + lines[printed]);
    sinceChange.restart();
  });

  form.ComboBox1DropDown();
  const int entry = form.ComboBox1->findText(port);
  if (entry < 0) {
    std::fprintf(stderr, "zpidemo: %s is not in the port list\n", qPrintable(port));
    return 1;
  }
  form.ComboBox1->setCurrentIndex(entry);
  form.ButtonVCP->click();
  if (!form.VCP.Connected()) {
    std::fprintf(stderr, "zpidemo: cannot open %s\n", qPrintable(port));
    return 1;
  }

  // The service has run to its end when the log has been quiet for two seconds with no
  // transfer or read under way (or the port has closed by itself).
  const QDeadlineTimer deadline(parser.value(timeoutOption).toInt() * 1000);
  bool finished = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &app, [&] {
    const bool busy = form.Timer1->isActive() || form.Timer3->isActive() || form.Timer2->isActive();
    finished = !busy && sinceChange.elapsed() > 2000;
    if (finished || deadline.hasExpired()) app.quit();
  });
  watch.start(100);
  app.exec();
  if (!finished) Print("zpidemo: the service did not finish in time");

  const QString shot = parser.value(shotOption);
  if (form.grab().save(shot))
    Print("Screenshot of the final window: " + shot);
  else
    std::fprintf(stderr, "zpidemo: cannot save %s\n", qPrintable(shot));
  return finished ? 0 : 1;
}
