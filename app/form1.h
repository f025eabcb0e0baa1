#pragma once
// The main window. It owns every control, timer and the serial port, and every handler of
// the tool is one of its methods. They all live in this folder:
//   form1.cpp            construction, FormCreate, LogChange, FormKeyDown, Timer5Timer
//   form1_layout.cpp     the controls and their places
//   port_connection.cpp  ComboBox1DropDown, ButtonVCPClick, ButtonVCPState, Timer2Timer, VCPHangUp
//   engine_handlers.cpp  VCPRxChar, Timer1Timer, Timer3Timer, B_FwTxClick, B_FwJumpClick,
//                        B_GetConfigClick: the hand-offs to the service engine
//   window_front_end.*   what the engine asks of the window: frames, log, timers, boxes, panel
//   config_panel.cpp     B_SetConfigClick, fill buttons, ShowConfigRecord, buzzer boxes
//   panel_controls.*     the panel's controls seen as the record's fields
//   remote_listing.cpp   B_RemConfigClick
//   release_mode.cpp     AddReleaseId, L_ClearClick, Edit1Change, Label*Click, scanner input
//   version_check.cpp    DeleteOldExecutables, Timer4Timer, L_MsgClick, L_Site*
//   version_fetcher.*    the version file's download (in place of a browser control)
//   controls.*, platform.*, fonts.h   the window's own controls and the platform's verbs
//   main.cpp, zpidemo_main.cpp        the tool, and the window run without a display
// The protocol side (the dispatcher's decisions, transfers, reads and their state) is the
// service engine's (service/service_engine.h); the handlers hand it bytes, ticks and
// requests.

// lib
#include "config/config_fields.h"
#include "config/config_record.h"
#include "release/release_core.h"
#include "serial/comport.h"

// Qt
#include <QIcon>
#include <QPointer>
#include <QWidget>

// Std
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TClickLabel;
class TDropDownCombo;
class TEdit;
class TRichLog;
class TSpeedButton;
class TUpDown;
class TVersionFetcher;
class ServiceEngine;
class TWindowFrontEnd;

// Held modifier keys of a key press.
enum TShiftFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = unsigned;

// The virtual-key code of a key press (main-keyboard digits 0x30-0x39, letters 0x41-0x5A,
// keypad digits 0x60-0x69, F1 0x70 ... F12 0x7B, ...; 0 for a key without one) and the held
// modifiers.
[[nodiscard]] std::uint16_t VirtualKeyOf(const QKeyEvent& event);
[[nodiscard]] TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers);

// The system's serial ports for the port list (EnumComPorts). Tests can list the ports of
// another source to play a machine without ports or with a broken list: a tty class folder
// on POSIX, a key under HKEY_CURRENT_USER on Windows; an empty name restores the system's.
void ListSerialPorts(std::vector<std::string>& ports);
void SetPortListSourceForTests(std::string source);

// Client area; the window with its 3-pixel frame is 6 pixels wider (563 and 859).
constexpr int ClientHeight = 742;
constexpr int NarrowClientWidth = 557;
constexpr int WideClientWidth = 853;
constexpr int FrameWidth = 3;

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);  // builds the controls, then runs FormCreate
  ~TForm1() override;

  // ---- The window (form1.cpp) ----
  void FormCreate();
  void LogChange(TRichLog* changed);
  void FormKeyDown(std::uint16_t Key, TShiftState Shift);  // Key: virtual-key code
  void Timer5Timer();
  [[nodiscard]] int WindowWidth() const { return width() + 2 * FrameWidth; }  // 563 or 859

  // ---- The port connection ----
  void ComboBox1DropDown();
  void ButtonVCPClick();
  void ButtonVCPState(bool open);
  void Timer2Timer();
  void VCPHangUp();  // the unit was unplugged

  // ---- Hand-offs to the engine ----
  void VCPRxChar(int Count);
  void Timer1Timer();
  void B_FwTxClick();
  void B_FwJumpClick();
  void B_GetConfigClick();
  void Timer3Timer();

  // ---- The configuration panel ----
  void B_SetConfigClick();
  void B_SetDefaultsClick();
  void B_SetVentoraClick();
  void ShowConfigRecord(const ConfigRecord& record);
  void B_RemConfigClick();
  void CB_BZ_VMX_INClick();
  void CB_BZ_VMX_OUTClick();
  void CB_BZ_VMX_WHClick();
  void CB_BZ_VCH_INClick();
  void CB_BZ_VCH_OUTClick();
  void CB_BZ_VCH_WHClick();
  void CB_BZ_RPX_INClick();
  void CB_BZ_RPX_OUTClick();
  void CB_BZ_RPX_WHClick();
  void CB_BZ_OSC_INClick();
  void CB_BZ_OSC_OUTClick();
  void CB_BZ_OSC_WHClick();
  void CB_BZ_BGL_INClick();
  void CB_BZ_BGL_OUTClick();
  void CB_BZ_BGL_WHClick();

  // ---- Release mode ----
  void AddReleaseId(std::uint32_t word3, std::uint32_t word2, std::uint32_t word1);
  void L_ClearClick();
  void Edit1Change();
  void Label0Click();
  void Label7Click();
  void Label8Click();
  void ScannerKey(std::uint16_t Key, TShiftState Shift);

  // ---- The version check ----
  void DeleteOldExecutables();
  void Timer4Timer();
  void L_MsgClick();
  void L_SiteClick();
  void L_SiteMouseEnter();
  void L_SiteMouseLeave();

  // ---- Controls (named as in the layout; objectName is the same) ----
  // Header
  QGroupBox* GB_Header = nullptr;
  TClickLabel* L_Msg = nullptr;
  TClickLabel* L_Site = nullptr;
  TRichLog* Log = nullptr;
  TDropDownCombo* ComboBox1 = nullptr;
  TSpeedButton* ButtonVCP = nullptr;
  QProgressBar* ProgressBar1 = nullptr;

  // Configuration panel
  QGroupBox* GB_Config = nullptr;
  TDropDownCombo* CB_PING = nullptr;
  TDropDownCombo* CB_A232 = nullptr;
  TDropDownCombo* CB_B232 = nullptr;
  QPushButton* B_SetConfig = nullptr;
  QPushButton* B_SetVentora = nullptr;
  QPushButton* B_SetDefaults = nullptr;
  QPushButton* B_RemConfig = nullptr;

  QGroupBox* GB_VMX = nullptr;
  QGroupBox* GB_VMX_BZ = nullptr;
  QGroupBox* GB_VMX_EV = nullptr;
  TEdit* ED_VMX = nullptr;
  TEdit* ED_TVMX = nullptr;
  TUpDown* UD_VMX = nullptr;
  TUpDown* UD_TVMX = nullptr;
  QCheckBox* CB_BZ_VMX_IN = nullptr;
  QCheckBox* CB_BZ_VMX_OUT = nullptr;
  QCheckBox* CB_BZ_VMX_WH = nullptr;
  QCheckBox* CB_EV_VMX_IN = nullptr;
  QCheckBox* CB_EV_VMX_OUT = nullptr;

  QGroupBox* GB_VCH = nullptr;
  QGroupBox* GB_VCH_BZ = nullptr;
  QGroupBox* GB_VCH_EV = nullptr;
  TEdit* ED_VCH = nullptr;
  TEdit* ED_TVCH = nullptr;
  TUpDown* UD_VCH = nullptr;
  TUpDown* UD_TVCH = nullptr;
  QCheckBox* CB_BZ_VCH_IN = nullptr;
  QCheckBox* CB_BZ_VCH_OUT = nullptr;
  QCheckBox* CB_BZ_VCH_WH = nullptr;
  QCheckBox* CB_EV_VCH_IN = nullptr;
  QCheckBox* CB_EV_VCH_OUT = nullptr;

  QGroupBox* GB_RPX = nullptr;
  QGroupBox* GB_RPX_IN = nullptr;   // buzzer boxes
  QGroupBox* GB_RPX_OUT = nullptr;  // event boxes
  TEdit* ED_RPX = nullptr;
  TEdit* ED_TRPX = nullptr;
  TUpDown* UD_RPX = nullptr;
  TUpDown* UD_TRPX = nullptr;
  QCheckBox* CB_BZ_RPX_IN = nullptr;
  QCheckBox* CB_BZ_RPX_OUT = nullptr;
  QCheckBox* CB_BZ_RPX_WH = nullptr;
  QCheckBox* CB_EV_RPX_IN = nullptr;
  QCheckBox* CB_EV_RPX_OUT = nullptr;

  QGroupBox* GB_OSC = nullptr;
  QGroupBox* GB_OSC_IN = nullptr;
  QGroupBox* GB_OSC_OUT = nullptr;
  TEdit* ED_TOSC = nullptr;
  TEdit* ED_XOSC = nullptr;
  TUpDown* UD_TOSC = nullptr;
  TUpDown* UD_XOSC = nullptr;
  QCheckBox* CB_BZ_OSC_IN = nullptr;
  QCheckBox* CB_BZ_OSC_OUT = nullptr;
  QCheckBox* CB_BZ_OSC_WH = nullptr;
  QCheckBox* CB_EV_OSC_IN = nullptr;
  QCheckBox* CB_EV_OSC_OUT = nullptr;

  QGroupBox* GB_BGL = nullptr;
  QGroupBox* GB_BGL_IN = nullptr;
  QGroupBox* GB_BGL_OUT = nullptr;
  TEdit* ED_VBGL = nullptr;
  TEdit* ED_RBGL = nullptr;
  TEdit* ED_TBGL = nullptr;
  TUpDown* UD_VBGL = nullptr;
  TUpDown* UD_RBGL = nullptr;
  TUpDown* UD_TBGL = nullptr;
  QCheckBox* CB_BZ_BGL_IN = nullptr;
  QCheckBox* CB_BZ_BGL_OUT = nullptr;
  QCheckBox* CB_BZ_BGL_WH = nullptr;
  QCheckBox* CB_EV_BGL_IN = nullptr;
  QCheckBox* CB_EV_BGL_OUT = nullptr;

  QGroupBox* GB_ACP = nullptr;
  TEdit* ED_ACP = nullptr;
  TUpDown* UD_ACP = nullptr;
  QCheckBox* CB_BZ_ACP = nullptr;
  QCheckBox* CB_EV_ACP = nullptr;

  QGroupBox* GB_ACN = nullptr;
  TEdit* ED_ACN = nullptr;
  TUpDown* UD_ACN = nullptr;
  QCheckBox* CB_BZ_ACN = nullptr;
  QCheckBox* CB_EV_ACN = nullptr;

  // The record's controls again, in the order of the field table (config/config_fields.h).
  std::array<TDropDownCombo*, ConfigListCount> ConfigLists{};
  std::array<TEdit*, ConfigEditCount> ConfigEditBoxes{};
  std::array<TUpDown*, ConfigEditCount> ConfigSpinners{};
  std::array<QCheckBox*, ChoiceFieldCount> ConfigChoiceBoxes{};

  // Hidden strip
  QCheckBox* Cb_Ventora = nullptr;
  QCheckBox* Cb_COMAutoClose = nullptr;
  QGroupBox* GB_ReleaseMode = nullptr;
  TRichLog* LogIdList = nullptr;
  TClickLabel* L_IdList = nullptr;
  TClickLabel* L_Clear = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  TClickLabel* Label7 = nullptr;
  QLineEdit* Edit1 = nullptr;
  TClickLabel* Label8 = nullptr;
  QLineEdit* Edit2 = nullptr;
  TClickLabel* Label0 = nullptr;

  // Beyond the right edge
  QGroupBox* GB_EBK = nullptr;
  QGroupBox* GB_EBK_IN = nullptr;
  QGroupBox* GB_EBK_OUT = nullptr;
  TEdit* ED_VEBK = nullptr;
  TEdit* ED_REBK = nullptr;
  TEdit* ED_TEBK = nullptr;
  TUpDown* UD_VEBK = nullptr;
  TUpDown* UD_REBK = nullptr;
  TUpDown* UD_TEBK = nullptr;
  QCheckBox* CB_EV_EBK_IN = nullptr;
  QCheckBox* CB_BZ_EBK_IN = nullptr;
  QCheckBox* CB_EV_EBK_OUT = nullptr;
  QCheckBox* CB_BZ_EBK_OUT = nullptr;
  QPushButton* B_FwTx = nullptr;
  QPushButton* B_FwJump = nullptr;
  QPushButton* B_GetConfig = nullptr;
  TVersionFetcher* CppWebBrowser1 = nullptr;  // fetches the version file

  // Components without a window
  TComPort VCP;
  std::array<QIcon, 2> ImageList1;  // 0: plug with a tick (open), 1: plug with a cross (closed)
  QTimer* Timer1 = nullptr;  // 500 ms, block transfer
  QTimer* Timer2 = nullptr;  // 50 ms, delayed close
  QTimer* Timer3 = nullptr;  // 100 ms, configuration read
  QTimer* Timer4 = nullptr;  // 1000 ms, version check
  QTimer* Timer5 = nullptr;  // 10 ms, once after start-up

  // The unit's service: what the window hands bytes, ticks and requests to.
  [[nodiscard]] ServiceEngine& Engine() { return *engine_; }
  [[nodiscard]] const ServiceEngine& Engine() const { return *engine_; }

  // ---- State ----
  ReleaseState Release;          // identifier list and scanner collection
  int VersionTicks = 0;          // N of the version check
  QString DownloadAddress;       // kept for the click on the offer label

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;  // keyboard preview

 private:
  void BuildControls();  // app/form1_layout.cpp
  void SetUpPort();      // app/form1.cpp: VCP's initial values and its hand-off
  void BindHandlers();   // app/form1.cpp: every binding in one place
  // The key press last previewed and the widget it was at, so that its propagation to the
  // parent widgets is not taken for new keys.
  const QEvent* previewedKey_ = nullptr;
  QPointer<QWidget> previewedTarget_;
  void BuzzerClick(QCheckBox* changed, QCheckBox* in, QCheckBox* out, QCheckBox* during);
  std::unique_ptr<TWindowFrontEnd> frontEnd_;
  std::unique_ptr<ServiceEngine> engine_;
};
