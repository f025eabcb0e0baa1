// The main window: construction, start-up, the log's change handler, the keyboard preview
// and the one-shot tidy-up after start-up.
#include "app/form1.h"

// lib
#include "app/controls.h"
#include "app/platform.h"
#include "update/tool_version.h"
#include "config/config_fields.h"
#include "service/service_engine.h"
#include "app/window_front_end.h"
#include "app/version_fetcher.h"

// Qt
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

// Std
#include <string>
#include <vector>

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("ZPiTool"));
  // Single border, close box only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(NarrowClientWidth, ClientHeight);

  BuildControls();
  frontEnd_ = std::make_unique<TWindowFrontEnd>(*this);
  engine_ = std::make_unique<ServiceEngine>(*frontEnd_);
  CppWebBrowser1 = new TVersionFetcher(this);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(NarrowClientWidth / 2, ClientHeight / 2));  // centred at first show
  }
  SetUpPort();
  BindHandlers();
  qApp->installEventFilter(this);
  FormCreate();
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  // The port closes before the state it reports into goes away; nothing of the window is
  // called while it closes.
  VCP.OnRxChar = nullptr;
  VCP.OnHangUp = nullptr;
  try {
    VCP.Close();
  } catch (...) {
  }
  for (QTimer* timer : {Timer1, Timer2, Timer3, Timer4, Timer5})
    timer->stop();
}

void TForm1::SetUpPort() {
  VCP.BaudRate = brCustom;
  VCP.SetCustomBaudRate(9600);
  VCP.Buffer.InputSize = 4096;
  VCP.Buffer.OutputSize = 4096;
  VCP.Timeouts = TComTimeouts{200, 100, 100, 2, 2};
  VCP.Events = AllComEvents;
  // The event thread wakes the UI thread with a queued call that runs what it handed over.
  VCP.SetHandOff(std::make_shared<TQueuedHandOff>([this] {
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (TComHandOff* handOff = VCP.HandOff())
            Guarded([handOff] { handOff->RunQueued(); })();
        },
        Qt::QueuedConnection);
  }));
}

void TForm1::BindHandlers() {
  // The port.
  VCP.OnRxChar = [this](TCustomComPort&, int count) { VCPRxChar(count); };
  VCP.OnHangUp = [this](TCustomComPort&) { VCPHangUp(); };
  VCP.OnHandlerError = [](std::exception_ptr error) { ReportEscapedError(error); };

  // Header.
  ComboBox1->OnDropDown = Guarded([this] { ComboBox1DropDown(); });
  ButtonVCP->OnClick = Guarded([this] { ButtonVCPClick(); });
  connect(Log, &QTextEdit::textChanged, this, Guarded([this] { LogChange(Log); }));
  L_Site->OnClick = Guarded([this] { L_SiteClick(); });
  L_Site->OnMouseEnter = Guarded([this] { L_SiteMouseEnter(); });
  L_Site->OnMouseLeave = Guarded([this] { L_SiteMouseLeave(); });

  // Timers.
  connect(Timer1, &QTimer::timeout, this, Guarded([this] { Timer1Timer(); }));
  connect(Timer2, &QTimer::timeout, this, Guarded([this] { Timer2Timer(); }));
  connect(Timer3, &QTimer::timeout, this, Guarded([this] { Timer3Timer(); }));
  connect(Timer4, &QTimer::timeout, this, Guarded([this] { Timer4Timer(); }));
  connect(Timer5, &QTimer::timeout, this, Guarded([this] { Timer5Timer(); }));

  // Configuration panel.
  connect(B_SetConfig, &QPushButton::clicked, this, Guarded([this] { B_SetConfigClick(); }));
  connect(B_SetDefaults, &QPushButton::clicked, this, Guarded([this] { B_SetDefaultsClick(); }));
  connect(B_RemConfig, &QPushButton::clicked, this, Guarded([this] { B_RemConfigClick(); }));
  connect(B_SetVentora, &QPushButton::clicked, this, Guarded([this] { B_SetVentoraClick(); }));
  // A buzzer box's handler runs on every change of its state, by the user or the program.
  const std::pair<QCheckBox*, void (TForm1::*)()> buzzerBoxes[] = {
      {CB_BZ_VMX_IN, &TForm1::CB_BZ_VMX_INClick}, {CB_BZ_VMX_OUT, &TForm1::CB_BZ_VMX_OUTClick},
      {CB_BZ_VMX_WH, &TForm1::CB_BZ_VMX_WHClick}, {CB_BZ_VCH_IN, &TForm1::CB_BZ_VCH_INClick},
      {CB_BZ_VCH_OUT, &TForm1::CB_BZ_VCH_OUTClick}, {CB_BZ_VCH_WH, &TForm1::CB_BZ_VCH_WHClick},
      {CB_BZ_RPX_IN, &TForm1::CB_BZ_RPX_INClick}, {CB_BZ_RPX_OUT, &TForm1::CB_BZ_RPX_OUTClick},
      {CB_BZ_RPX_WH, &TForm1::CB_BZ_RPX_WHClick}, {CB_BZ_OSC_IN, &TForm1::CB_BZ_OSC_INClick},
      {CB_BZ_OSC_OUT, &TForm1::CB_BZ_OSC_OUTClick}, {CB_BZ_OSC_WH, &TForm1::CB_BZ_OSC_WHClick},
      {CB_BZ_BGL_IN, &TForm1::CB_BZ_BGL_INClick}, {CB_BZ_BGL_OUT, &TForm1::CB_BZ_BGL_OUTClick},
      {CB_BZ_BGL_WH, &TForm1::CB_BZ_BGL_WHClick},
  };
  for (const auto& entry : buzzerBoxes) {
    const auto handler = entry.second;
    connect(entry.first, &QCheckBox::toggled, this, Guarded([this, handler] { (this->*handler)(); }));
  }

  // Release mode.
  connect(LogIdList, &QTextEdit::textChanged, this, Guarded([this] { LogChange(LogIdList); }));
  L_Clear->OnClick = Guarded([this] { L_ClearClick(); });
  Label0->OnClick = Guarded([this] { Label0Click(); });
  Label7->OnClick = Guarded([this] { Label7Click(); });
  Label8->OnClick = Guarded([this] { Label8Click(); });
  connect(Edit1, &QLineEdit::textChanged, this, Guarded([this] { Edit1Change(); }));
  connect(Edit2, &QLineEdit::textChanged, this, Guarded([this] { Edit1Change(); }));
}

void TForm1::FormCreate() {
  ButtonVCP->setIcon(ImageList1[1]);

  try {
    std::vector<std::string> ports;
    ListSerialPorts(ports);
    for (const std::string& port : ports)
      ComboBox1->addItem(QString::fromStdString(port));
    if (ComboBox1->count() > 0)
      ComboBox1->setCurrentIndex(0);
  } catch (const EComPort&) {
    // No port list: the user can open the list again later.
  }

  VCP.SetCustomBaudRate(3686400);
  setWindowTitle(QString::asprintf("ZPiTool v%d.%d.%c", ToolMajor, ToolMinor, ToolRevision));

  for (std::size_t i = 0; i < ConfigListCount; ++i) {
    const NumericField& field = ListFields()[i];
    for (const std::uint16_t code : field.Codes)
      ConfigLists[i]->addItem(QString::number(code * field.ItemScale));
    ConfigLists[i]->setCurrentIndex(-1);
  }

  Timer4->start();
  L_Msg->setText(QString());
  DeleteOldExecutables();
  Timer5->start();
  L_ClearClick();
}

void TForm1::LogChange(TRichLog* changed) {
  if (changed)
    changed->ScrollToEnd();
}

void TForm1::FormKeyDown(std::uint16_t Key, TShiftState Shift) {
  constexpr TShiftState chord = ssShift | ssAlt | ssCtrl;
  constexpr std::uint16_t VK_F12 = 0x7B;
  if ((Shift & chord) == chord && Key == VK_F12)
    setFixedSize(width() == WideClientWidth ? NarrowClientWidth : WideClientWidth, height());
  ScannerKey(Key, Shift);
}

void TForm1::Timer5Timer() {
  Timer5->stop();
  // The record's fields and the engine-brake group's three.
  const auto clearAndLift = [](QLineEdit* edit, TUpDown* upDown) {
    edit->clear();
    upDown->move(upDown->x(), upDown->y() - 3);
  };
  for (std::size_t i = 0; i < ConfigEditCount; ++i)
    clearAndLift(ConfigEditBoxes[i], ConfigSpinners[i]);
  clearAndLift(ED_VEBK, UD_VEBK);
  clearAndLift(ED_TEBK, UD_TEBK);
  clearAndLift(ED_REBK, UD_REBK);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut:
      previewedKey_ = nullptr;
      break;
    case QEvent::KeyPress: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (!widget || widget->window() != this)
        break;
      // A key press that the focused control did not take travels up to its parents with
      // the same event: that is still the same key.
      if (event == previewedKey_ && previewedTarget_ && widget == previewedTarget_->parentWidget()) {
        previewedTarget_ = widget;
        break;
      }
      previewedKey_ = event;
      previewedTarget_ = widget;
      const auto* key = static_cast<const QKeyEvent*>(event);
      Guarded([this, key] { FormKeyDown(VirtualKeyOf(*key), ShiftStateOf(key->modifiers())); })();
      break;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);  // the key goes on to its control
}

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers) {
  TShiftState shift = 0;
  if (modifiers & Qt::ShiftModifier)
    shift |= ssShift;
  if (modifiers & Qt::AltModifier)
    shift |= ssAlt;
  if (modifiers & Qt::ControlModifier)
    shift |= ssCtrl;
  return shift;
}

std::uint16_t VirtualKeyOf(const QKeyEvent& event) {
#ifdef Q_OS_WIN
  if (event.nativeVirtualKey() != 0)
    return static_cast<std::uint16_t>(event.nativeVirtualKey());
#endif
  const int key = event.key();
  const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
  if (key >= Qt::Key_0 && key <= Qt::Key_9)
    return static_cast<std::uint16_t>((keypad ? 0x60 : 0x30) + (key - Qt::Key_0));
  if (key >= Qt::Key_A && key <= Qt::Key_Z)
    return static_cast<std::uint16_t>(0x41 + (key - Qt::Key_A));
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
    return static_cast<std::uint16_t>(0x70 + (key - Qt::Key_F1));
  // A shifted digit key of the main keyboard reports its symbol; on X11 and Wayland its
  // key code (evdev + 8: 10 is "1" ... 19 is "0") still tells the digit.
  const QString platform = QGuiApplication::platformName();
  if (!keypad && (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland")))) {
    const quint32 code = event.nativeScanCode();
    if (code >= 10 && code <= 18)
      return static_cast<std::uint16_t>(0x31 + (code - 10));
    if (code == 19)
      return 0x30;
  }
  if (keypad) {
    switch (key) {
      case Qt::Key_Asterisk: return 0x6A;
      case Qt::Key_Plus: return 0x6B;
      case Qt::Key_Minus: return 0x6D;
      case Qt::Key_Period:
      case Qt::Key_Comma: return 0x6E;
      case Qt::Key_Slash: return 0x6F;
      default: break;
    }
  }
  switch (key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Meta: return 0x5B;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    default: return 0;
  }
}
