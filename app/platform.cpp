#include "app/platform.h"

// Qt
#include <QDate>
#include <QDesktopServices>
#include <QEventLoop>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTime>
#include <QTranslator>
#include <QUrl>

// Std
#include <exception>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

std::function<MsgResult(const MessageBoxCall&)>& MessageBoxHook() {
  static std::function<MsgResult(const MessageBoxCall&)> hook;
  return hook;
}

std::function<QString()>& DateTimeHook() {
  static std::function<QString()> hook;
  return hook;
}

std::function<void(const QString&)>& OpenUrlHook() {
  static std::function<void(const QString&)> hook;
  return hook;
}

QMessageBox::Icon ToQtIcon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void ProcessMessages() { QCoreApplication::processEvents(); }

MsgResult ShowMessageBox(const QString& text, const QString& title, MsgIcon icon, MsgButtons buttons,
                         MsgWindow window) {
  if (const auto& hook = MessageBoxHook())
    return hook(MessageBoxCall{text, title, icon, buttons, window});

  // No owner window: the box is a top-level window of its own, and it does not keep the
  // application alive once the main window has closed.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(ToQtIcon(icon), title, shown,
                  buttons == MsgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok);
  box.setAttribute(Qt::WA_QuitOnClose, false);
  if (window == MsgWindow::Blocked) {
    box.exec();
  } else {
    // Not modal: the main window keeps taking input while this handler waits for the answer
    // in a loop of its own. The loop ends with the box, or at once when the application is
    // ending (its windows are closed and every loop is told to end).
    box.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
    box.show();
    box.raise();
    box.activateWindow();
    loop.exec();
  }
  const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
  if (buttons == MsgButtons::YesNo)
    return pressed == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
  return MsgResult::Ok;
}

void SetMessageBoxHook(std::function<MsgResult(const MessageBoxCall&)> hook) {
  MessageBoxHook() = std::move(hook);
}

QString WithFullStop(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.')
    return message + u'.';
  return message;
}

void ShowErrorReport(const QString& message) {
  ShowMessageBox(WithFullStop(message), QStringLiteral("ZPi Tool"), MsgIcon::Error, MsgButtons::Ok);
}

QString DateTimeText() {
  if (const auto& hook = DateTimeHook())
    return hook();
  const QLocale locale = QLocale::system();
  return locale.toString(QDate::currentDate(), QLocale::ShortFormat) +
         locale.toString(QTime::currentTime(), QLocale::LongFormat);
}

void SetDateTimeHook(std::function<QString()> hook) { DateTimeHook() = std::move(hook); }

void OpenUrl(const QString& address) {
  if (const auto& hook = OpenUrlHook()) {
    hook(address);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromUserInput(address));
}

void SetOpenUrlHook(std::function<void(const QString&)> hook) { OpenUrlHook() = std::move(hook); }

QString ExecutablePath() { return QCoreApplication::applicationFilePath(); }

QColor ScrollBarColour() {
#ifdef Q_OS_WIN
  const COLORREF colour = ::GetSysColor(COLOR_SCROLLBAR);
  return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour));
#else
  // No system colour of its own here, and no palette role either: the style paints the
  // track from the palette in its own way. Take the middle of the track of a scroll bar as
  // the style draws it, far from its slider.
  QScrollBar bar(Qt::Horizontal);
  bar.setPalette(QApplication::palette("QScrollBar"));
  bar.setRange(0, 1000);
  bar.setPageStep(1);
  bar.resize(200, 17);
  const QImage picture = bar.grab().toImage();
  return picture.pixelColor(picture.width() * 3 / 4, picture.height() / 2);
#endif
}

QTranslator* InstallQtTranslations(const QLocale& locale) {
  const QStringList folders{QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  for (const QString& folder : folders) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    // qtbase_pt_BR.qm, then qtbase_pt.qm, ...
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder) &&
        QCoreApplication::installTranslator(translator))
      return translator;
    delete translator;
  }
  return nullptr;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("ZPi Tool"));
  InstallQtTranslations(QLocale::system());
  // One look everywhere, so the fixed layout fits the same way on every system.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
    setStyle(fusion);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowErrorReport(QString::fromUtf8(error.what()));
  } catch (...) {
    ShowErrorReport(QString());
  }
  return false;
}

void ReportEscapedError(std::exception_ptr error) {
  try {
    if (error)
      std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ShowErrorReport(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowErrorReport(QString());
  }
}
