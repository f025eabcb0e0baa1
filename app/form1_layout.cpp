// The window's controls, their places, captions, fonts and colours. Positions are left,
// top, width, height in pixels within the parent.
#include "app/form1.h"

// lib
#include "app/controls.h"
#include "app/fonts.h"
#include "app/platform.h"
#include "update/tool_version.h"
#include "config/config_fields.h"

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

// Std
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

const QColor Grey{128, 128, 128};

// Text in the given colour while enabled; a disabled control keeps the style's grey.
QPalette TextPalette(const QColor& text) {
  QPalette palette;
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
      palette.setColor(group, role, text);
  return palette;
}

// Every control gets the window's font and black text explicitly, so that the caption font
// and grey of the group box around it do not carry over.
template <class T>
T* Place(QWidget* parent, std::string_view name, int x, int y, int w, int h) {
  auto* control = new T(parent);
  control->setObjectName(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  control->setGeometry(x, y, w, h);
  control->setFont(Fonts::Window());
  control->setPalette(TextPalette(Qt::black));
  return control;
}

// A control created under `root` by that name; the layout names them all, so none is missing.
template <class T>
T* Named(QWidget* root, std::string_view name) {
  T* control = root->findChild<T*>(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  if (!control) throw std::logic_error("no control " + std::string(name));
  return control;
}

// A group box: with a caption, grey bold small Verdana; without, a plain frame.
QGroupBox* Group(QWidget* parent, const char* name, const QString& caption, int x, int y, int w, int h) {
  auto* group = Place<QGroupBox>(parent, name, x, y, w, h);
  if (!caption.isEmpty()) {
    group->setTitle(caption);
    group->setFont(Fonts::GroupCaption());
    group->setPalette(TextPalette(Grey));
  }
  return group;
}

QLabel* Label(QWidget* parent, const QString& caption, int x, int y, int w, int h, const char* name = "") {
  auto* label = Place<QLabel>(parent, name, x, y, w, h);
  label->setText(caption);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

// Grey, underlined Verdana: the link-like labels of the header and the release panel.
TClickLabel* LinkLabel(QWidget* parent, const char* name, const QString& caption, int x, int y, int w) {
  auto* label = Place<TClickLabel>(parent, name, x, y, w, 14);
  QFont font = Fonts::Verdana8();
  font.setUnderline(true);
  label->setFont(font);
  label->setPalette(TextPalette(Grey));
  label->setText(caption);
  return label;
}

QCheckBox* CheckBox(QWidget* parent, std::string_view name, const QString& caption, int x, int y, int w,
                    const QString& context) {
  auto* box = Place<QCheckBox>(parent, name, x, y, w, 17);
  box->setText(caption);
  box->setAccessibleName(context.isEmpty() ? caption : context + u' ' + caption);
  return box;
}

QString Plain(QString caption) {
  caption.replace(u'\n', u' ');
  caption = caption.trimmed();
  if (caption.endsWith(u':'))
    caption.chop(1);
  return caption;
}

constexpr int EditWidth = 34;
constexpr int EditHeight = 21;
constexpr int UpDownWidth = 14;
constexpr int UpDownDrop = 3;  // the start-up tick lifts the spinners by this much

// An edit box and its spinner: names, text limit (0: none), the spinner's range and start.
struct EditSettings {
  std::string_view edit;
  std::string_view upDown;
  int maxLength, min, max, position;
};

// The record's fields take theirs from the field table.
EditSettings SettingsOf(ConfigEdit e) {
  const NumericField& f = FieldOf(e);
  return {f.Control, f.Spinner, f.TextLimit, f.SpinMin, f.SpinMax, f.SpinStartPosition()};
}

// One value of a group: its label, the edit box and the spinner beside it, at the right.
// Returns the edit box; the spinner is stored through `upDown`.
TEdit* ValueRow(QGroupBox* group, const QString& caption, const EditSettings& row, int y, TUpDown*& upDown,
                int labelHeight = EditHeight) {
  const int editX = group->width() - 6 - UpDownWidth - EditWidth;
  QLabel* label = Label(group, caption, 8, y + (EditHeight - labelHeight) / 2, editX - 3 - 8, labelHeight);
  auto* edit = Place<TEdit>(group, row.edit, editX, y, EditWidth, EditHeight);
  edit->SetTextLimit(row.maxLength);
  edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edit->setAccessibleName(Plain(group->title()) + QStringLiteral(": ") + Plain(caption));
  label->setBuddy(edit);
  upDown = new TUpDown(edit, row.min, row.max, row.position, group);
  upDown->setObjectName(QString::fromLatin1(row.upDown.data(), static_cast<qsizetype>(row.upDown.size())));
  upDown->setGeometry(editX + EditWidth, y + UpDownDrop, UpDownWidth, EditHeight);
  upDown->setAccessibleName(edit->accessibleName());
  return edit;
}

// The inner " ALERTA BUZZER " and " REGISTRAR EVENTO " groups of a condition.
struct ChoiceGroups {
  QGroupBox* buzzer;
  QGroupBox* event;
};
constexpr int ChoiceGroupHeight = 70;

// The condition's box of a kind and weight, as the field table names it.
std::string_view BoxName(Condition c, ChoiceKind kind, unsigned weight) {
  return ChoiceFields.at(ChoiceIndex(c, kind, weight)).Control;
}

ChoiceGroups Choices(QGroupBox* group, const char* buzzerName, const char* eventName, int y, Condition c,
                     QCheckBox*& bzIn, QCheckBox*& bzOut, QCheckBox*& bzWh, QCheckBox*& evIn, QCheckBox*& evOut) {
  // The event group's caption is the longer one: it gets the wider half.
  const int inner = group->width() - 8 - 4 - 8;
  const int buzzerWidth = inner * 45 / 100;
  const int eventWidth = inner - buzzerWidth;
  const QString title = Plain(group->title());
  auto* buzzer = Group(group, buzzerName, QStringLiteral(" ALERTA BUZZER "), 8, y, buzzerWidth, ChoiceGroupHeight);
  auto* event =
      Group(group, eventName, QStringLiteral(" REGISTRAR EVENTO "), 12 + buzzerWidth, y, eventWidth, ChoiceGroupHeight);
  const QString bzContext = title + QStringLiteral(", alerta buzzer:");
  const QString evContext = title + QStringLiteral(", registrar evento:");
  using enum ChoiceKind;
  bzIn = CheckBox(buzzer, BoxName(c, Buzzer, 1), QStringLiteral("Entrada"), 10, 16, buzzerWidth - 16, bzContext);
  bzOut = CheckBox(buzzer, BoxName(c, Buzzer, 2), QStringLiteral("Saída"), 10, 33, buzzerWidth - 16, bzContext);
  bzWh = CheckBox(buzzer, BoxName(c, Buzzer, 4), QStringLiteral("Durante"), 10, 50, buzzerWidth - 16, bzContext);
  evIn = CheckBox(event, BoxName(c, Event, 1), QStringLiteral("Entrada"), 10, 16, eventWidth - 16, evContext);
  evOut = CheckBox(event, BoxName(c, Event, 2), QStringLiteral("Saída"), 10, 33, eventWidth - 16, evContext);
  return {buzzer, event};
}

QPushButton* FlatButton(QWidget* parent, const char* name, const QString& caption, int x, int y, int w, int h) {
  auto* button = Place<QPushButton>(parent, name, x, y, w, h);
  button->setFlat(true);
  button->setText(caption);
  button->setFont(Fonts::Verdana7());
  button->setPalette(TextPalette(Grey));
  button->setCursor(Qt::PointingHandCursor);
  button->setFocusPolicy(Qt::TabFocus);
  return button;
}

QTimer* MakeTimer(QObject* owner, const char* name, int interval) {
  auto* timer = new QTimer(owner);
  timer->setObjectName(QString::fromLatin1(name));
  timer->setInterval(interval);
  timer->setSingleShot(false);  // the handlers stop them
  return timer;
}

}  // namespace

void TForm1::BuildControls() {
  setFont(Fonts::Window());
  // The background is the system's menu-bar colour: the platform's palette for menu bars
  // (where the platform has one, e.g. Windows' own menu-bar colour), else its window colour.
  QPalette background = TextPalette(Qt::black);
  background.setColor(QPalette::Window,
                      QApplication::palette("QMenuBar").color(QPalette::Active, QPalette::Window));
  setPalette(background);

  // ---- Header -----------------------------------------------------------------------
  GB_Header = Group(this, "GB_Header", {}, -1, -6, 560, 152);
  L_Msg = LinkLabel(GB_Header, "L_Msg", QStringLiteral("L_Msg"), 5, 10, 270);
  L_Site = LinkLabel(GB_Header, "L_Site", QStringLiteral(ZPI_VENDOR_HOST "/zpi"), 282, 10, 185);
  Log = Place<TRichLog>(GB_Header, "Log", 5, 27, 460, 106);
  Log->setFont(Fonts::LogFont());
  Log->setAccessibleName(QStringLiteral("Mensagens"));
  ComboBox1 = Place<TDropDownCombo>(GB_Header, "ComboBox1", 472, 27, 80, 19);
  ComboBox1->setAccessibleName(QStringLiteral("Porta"));
  ComboBox1->SetItemHeight(13);
  ButtonVCP = Place<TSpeedButton>(GB_Header, "ButtonVCP", 472, 52, 80, 80);
  ButtonVCP->setIconSize(QSize(51, 51));
  ButtonVCP->setAccessibleName(QStringLiteral("Abrir ou fechar a porta"));
  ProgressBar1 = Place<QProgressBar>(GB_Header, "ProgressBar1", 5, 140, 548, 7);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  // ---- Configuration panel --------------------------------------------------------------
  GB_Config = Group(this, "GB_Config", QStringLiteral(" CONFIGURAÇÕES "), 5, 147, 548, 592);

  // Top row: three lists, each with its label and a grey hint under it, then the write button.
  struct ListPlace {
    const char* labelName;
    QString caption;
    QString hint;
    int x;
    int listX;
    int listWidth;
  };
  const ListPlace lists[] = {
      {"L_PING", QStringLiteral("PING [s]:"), QStringLiteral("envio #ZPI"), 10, 68, 56},
      {"L_A232", QStringLiteral("RS232-A:"), QStringLiteral("rastreador"), 138, 196, 68},
      {"L_B232", QStringLiteral("RS232-B:"), QStringLiteral("periférico"), 278, 336, 68},
  };  // in the field table's order of the lists
  TDropDownCombo** listControls[] = {&CB_PING, &CB_A232, &CB_B232};
  for (std::size_t i = 0; i < std::size(lists); ++i) {
    const ListPlace& entry = lists[i];
    QLabel* label = Label(GB_Config, entry.caption, entry.x, 18, 58, 16, entry.labelName);
    QLabel* hint = Label(GB_Config, entry.hint, entry.x, 33, 58, 13);
    hint->setFont(Fonts::Verdana7());
    hint->setPalette(TextPalette(Grey));
    auto* list = Place<TDropDownCombo>(GB_Config, ListFields()[i].Control, entry.listX, 21, entry.listWidth, 22);
    list->setEditable(false);
    list->setAccessibleName(Plain(entry.caption));
    label->setBuddy(list);
    *listControls[i] = list;
  }
  CB_A232->setEnabled(false);  // RS232-A comes only from the stock records or a read

  B_SetConfig = Place<QPushButton>(GB_Config, "B_SetConfig", 418, 15, 120, 34);
  B_SetConfig->setText(QStringLiteral("CONFIGURAR"));
  B_SetConfig->setFont(Fonts::WindowBold());
  B_SetConfig->setEnabled(false);

  B_SetVentora = FlatButton(GB_Config, "B_SetVentora", {}, 4, 56, 22, 18);
  B_SetVentora->setAccessibleName(QStringLiteral("Ventora"));
  B_SetDefaults = FlatButton(GB_Config, "B_SetDefaults", QStringLiteral("preencher valores padrão"), 30, 56, 160, 18);
  B_RemConfig = FlatButton(GB_Config, "B_RemConfig", QStringLiteral("listar comandos de configuração remota"),
                           196, 56, 244, 18);

  // Two columns of groups: left speed, rain speed, coasting; right acceleration,
  // deceleration, engine speed, idling.
  constexpr int LeftX = 6, LeftW = 250, RightX = 262, RightW = 280;

  GB_VMX = Group(GB_Config, "GB_VMX", QStringLiteral(" VELOCIDADE "), LeftX, 82, LeftW, 152);
  ED_VMX = ValueRow(GB_VMX, QStringLiteral("Velocidade máxima permitida [km/h]:"), SettingsOf(ConfigEdit::VMX), 18,
                    UD_VMX);
  ED_TVMX = ValueRow(GB_VMX, QStringLiteral("Tempo validação [segundos]:"), SettingsOf(ConfigEdit::TVMX), 44, UD_TVMX);
  {
    const ChoiceGroups g = Choices(GB_VMX, "GB_VMX_BZ", "GB_VMX_EV", 74, Condition::VMX, CB_BZ_VMX_IN,
                                   CB_BZ_VMX_OUT, CB_BZ_VMX_WH, CB_EV_VMX_IN, CB_EV_VMX_OUT);
    GB_VMX_BZ = g.buzzer;
    GB_VMX_EV = g.event;
  }

  GB_VCH = Group(GB_Config, "GB_VCH", QStringLiteral(" VELOCIDADE NA CHUVA "), LeftX, 242, LeftW, 152);
  ED_VCH = ValueRow(GB_VCH, QStringLiteral("Velocidade máxima permitida [km/h]:"), SettingsOf(ConfigEdit::VCH), 18,
                    UD_VCH);
  ED_TVCH = ValueRow(GB_VCH, QStringLiteral("Tempo validação [segundos]:"), SettingsOf(ConfigEdit::TVCH), 44, UD_TVCH);
  {
    const ChoiceGroups g = Choices(GB_VCH, "GB_VCH_BZ", "GB_VCH_EV", 74, Condition::VCH, CB_BZ_VCH_IN,
                                   CB_BZ_VCH_OUT, CB_BZ_VCH_WH, CB_EV_VCH_IN, CB_EV_VCH_OUT);
    GB_VCH_BZ = g.buzzer;
    GB_VCH_EV = g.event;
  }

  GB_BGL = Group(GB_Config, "GB_BGL", QStringLiteral(" CONDUÇÃO DESENGRENADA (banguela) "), LeftX, 402, LeftW, 180);
  ED_VBGL = ValueRow(GB_BGL, QStringLiteral("Velocidade mínima validação [km/h]:"), SettingsOf(ConfigEdit::VBGL), 18,
                     UD_VBGL);
  ED_RBGL = ValueRow(GB_BGL, QStringLiteral("Rotação máxima validação [rpm]:"), SettingsOf(ConfigEdit::RBGL), 44, UD_RBGL);
  ED_TBGL = ValueRow(GB_BGL, QStringLiteral("Tempo validação [segundos]:"), SettingsOf(ConfigEdit::TBGL), 70, UD_TBGL);
  {
    const ChoiceGroups g = Choices(GB_BGL, "GB_BGL_IN", "GB_BGL_OUT", 102, Condition::BGL, CB_BZ_BGL_IN,
                                   CB_BZ_BGL_OUT, CB_BZ_BGL_WH, CB_EV_BGL_IN, CB_EV_BGL_OUT);
    GB_BGL_IN = g.buzzer;
    GB_BGL_OUT = g.event;
  }

  GB_ACP = Group(GB_Config, "GB_ACP", QStringLiteral(" ACELERAÇÃO (aceleração brusca) "), RightX, 82, RightW, 74);
  ED_ACP = ValueRow(GB_ACP, QStringLiteral("Aceleração máxima permitida [km/h.s]:"), SettingsOf(ConfigEdit::ACP), 18,
                    UD_ACP);
  CB_BZ_ACP = CheckBox(GB_ACP, BoxName(Condition::ACP, ChoiceKind::Buzzer, 1), QStringLiteral("ALERTA BUZZER"), 10,
                       47, 122, Plain(GB_ACP->title()) + u':');
  CB_EV_ACP = CheckBox(GB_ACP, BoxName(Condition::ACP, ChoiceKind::Event, 1), QStringLiteral("REGISTRAR EVENTO"),
                       138, 47, 136, Plain(GB_ACP->title()) + u':');

  GB_ACN = Group(GB_Config, "GB_ACN", QStringLiteral(" DESACELERAÇÃO (frenagem brusca) "), RightX, 164, RightW, 74);
  ED_ACN = ValueRow(GB_ACN, QStringLiteral("Desaceleração máxima permitida [km/h.s]:"), SettingsOf(ConfigEdit::ACN), 18,
                    UD_ACN);
  CB_BZ_ACN = CheckBox(GB_ACN, BoxName(Condition::ACN, ChoiceKind::Buzzer, 1), QStringLiteral("ALERTA BUZZER"), 10,
                       47, 122, Plain(GB_ACN->title()) + u':');
  CB_EV_ACN = CheckBox(GB_ACN, BoxName(Condition::ACN, ChoiceKind::Event, 1), QStringLiteral("REGISTRAR EVENTO"),
                       138, 47, 136, Plain(GB_ACN->title()) + u':');

  GB_RPX = Group(GB_Config, "GB_RPX", QStringLiteral(" ROTAÇÃO DO MOTOR "), RightX, 246, RightW, 152);
  ED_RPX = ValueRow(GB_RPX, QStringLiteral("Rotação máxima permitida [rpm]:"), SettingsOf(ConfigEdit::RPX), 18, UD_RPX);
  ED_TRPX = ValueRow(GB_RPX, QStringLiteral("Tempo validação [segundos]:"), SettingsOf(ConfigEdit::TRPX), 44, UD_TRPX);
  {
    const ChoiceGroups g = Choices(GB_RPX, "GB_RPX_IN", "GB_RPX_OUT", 74, Condition::RPX, CB_BZ_RPX_IN,
                                   CB_BZ_RPX_OUT, CB_BZ_RPX_WH, CB_EV_RPX_IN, CB_EV_RPX_OUT);
    GB_RPX_IN = g.buzzer;
    GB_RPX_OUT = g.event;
  }

  GB_OSC = Group(GB_Config, "GB_OSC", QStringLiteral(" OCIOSIDADE DO MOTOR (funcionando parado) "), RightX, 406,
                 RightW, 176);
  ED_TOSC = ValueRow(GB_OSC, QStringLiteral("Tempo máximo permitido para\nociosidade do motor [minutos]:"),
                     SettingsOf(ConfigEdit::TOSC), 22, UD_TOSC, 28);
  ED_XOSC = ValueRow(GB_OSC, QStringLiteral("Tempo de exceção para\nmanobras rápidas [segundos]:"),
                     SettingsOf(ConfigEdit::XOSC), 60, UD_XOSC, 28);
  {
    const ChoiceGroups g = Choices(GB_OSC, "GB_OSC_IN", "GB_OSC_OUT", 98, Condition::OSC, CB_BZ_OSC_IN,
                                   CB_BZ_OSC_OUT, CB_BZ_OSC_WH, CB_EV_OSC_IN, CB_EV_OSC_OUT);
    GB_OSC_IN = g.buzzer;
    GB_OSC_OUT = g.event;
  }

  // The record's controls in table order, found by the names the table gave them.
  for (std::size_t i = 0; i < ConfigListCount; ++i)
    ConfigLists[i] = Named<TDropDownCombo>(GB_Config, ListFields()[i].Control);
  for (std::size_t i = 0; i < ConfigEditCount; ++i) {
    ConfigEditBoxes[i] = Named<TEdit>(GB_Config, EditFields()[i].Control);
    ConfigSpinners[i] = Named<TUpDown>(GB_Config, EditFields()[i].Spinner);
  }
  for (std::size_t i = 0; i < ChoiceFieldCount; ++i)
    ConfigChoiceBoxes[i] = Named<QCheckBox>(GB_Config, ChoiceFields[i].Control);

  // ---- Hidden strip (client x 557 to 853) ---------------------------------------------------
  Cb_Ventora = CheckBox(this, "Cb_Ventora", QStringLiteral("Forçar configuração Ventora"), 568, 0, 169, {});
  Cb_COMAutoClose = CheckBox(this, "Cb_COMAutoClose", QStringLiteral("Fechar após configurar"), 568, 18, 145, {});

  GB_ReleaseMode = Group(this, "GB_ReleaseMode", {}, 560, 35, 289, 592);
  LogIdList = Place<TRichLog>(GB_ReleaseMode, "LogIdList", 5, 10, 278, 555);
  LogIdList->setFont(Fonts::LogFont());
  LogIdList->setAccessibleName(QStringLiteral("Identificadores"));
  L_IdList = LinkLabel(GB_ReleaseMode, "L_IdList", QStringLiteral("L_IdList"), 5, 570, 200);
  L_Clear = LinkLabel(GB_ReleaseMode, "L_Clear", QStringLiteral("Limpar"), 237, 570, 46);

  GroupBox2 = Group(this, "GroupBox2", {}, 560, 626, 289, 113);
  Label7 = Place<TClickLabel>(GroupBox2, "Label7", 5, 16, 26, 13);
  Label7->setText(QStringLiteral("USB"));
  Edit1 = Place<QLineEdit>(GroupBox2, "Edit1", 5, 30, 164, 21);
  Edit1->setReadOnly(true);
  Edit1->setAccessibleName(QStringLiteral("USB"));
  Label8 = Place<TClickLabel>(GroupBox2, "Label8", 5, 60, 48, 13);
  Label8->setText(QStringLiteral("QR code"));
  Edit2 = Place<QLineEdit>(GroupBox2, "Edit2", 5, 74, 164, 21);
  Edit2->setReadOnly(true);
  Edit2->setAccessibleName(QStringLiteral("QR code"));
  // The two labels stand on the system's scroll-bar colour.
  for (TClickLabel* label : {Label7, Label8}) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, ScrollBarColour());
    label->setPalette(palette);
    label->setAutoFillBackground(true);
  }
  Label7->setBuddy(Edit1);
  Label8->setBuddy(Edit2);
  Label0 = Place<TClickLabel>(GroupBox2, "Label0", 176, 38, 105, 46);
  Label0->setFont(Fonts::Big());
  Label0->setText(QStringLiteral("X"));
  Label0->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  // ---- Beyond the right edge at both widths ------------------------------------------------
  GB_EBK = Group(this, "GB_EBK", QStringLiteral(" CONDUÇÃO EM FREIO MOTOR "), 870, 262, 249, 183);
  // Not part of the record: its values stay here.
  ED_VEBK = ValueRow(GB_EBK, QStringLiteral("Velocidade mínima validação [km/h]:"),
                     {"ED_VEBK", "UD_VEBK", 3, 1, 250, 40}, 18, UD_VEBK);
  ED_REBK = ValueRow(GB_EBK, QStringLiteral("Rotação mínima validação [rpm]:"),
                     {"ED_REBK", "UD_REBK", 4, 300, 1500, 1200}, 44, UD_REBK);
  ED_TEBK = ValueRow(GB_EBK, QStringLiteral("Tempo validação [segundos]:"), {"ED_TEBK", "UD_TEBK", 0, 0, 20, 5}, 70,
                     UD_TEBK);
  GB_EBK_IN = Group(GB_EBK, "GB_EBK_IN", QStringLiteral(" ENTRADA "), 8, 102, 114, 70);
  GB_EBK_OUT = Group(GB_EBK, "GB_EBK_OUT", QStringLiteral(" SAÍDA "), 127, 102, 114, 70);
  CB_EV_EBK_IN = CheckBox(GB_EBK_IN, "CB_EV_EBK_IN", QStringLiteral("Registrar Evento"), 6, 18, 104, QStringLiteral("Entrada:"));
  CB_BZ_EBK_IN = CheckBox(GB_EBK_IN, "CB_BZ_EBK_IN", QStringLiteral("Alerta Buzzer"), 6, 38, 104, QStringLiteral("Entrada:"));
  CB_EV_EBK_OUT = CheckBox(GB_EBK_OUT, "CB_EV_EBK_OUT", QStringLiteral("Registrar Evento"), 6, 18, 104, QStringLiteral("Saída:"));
  CB_BZ_EBK_OUT = CheckBox(GB_EBK_OUT, "CB_BZ_EBK_OUT", QStringLiteral("Alerta Buzzer"), 6, 38, 104, QStringLiteral("Saída:"));

  B_FwTx = Place<QPushButton>(this, "B_FwTx", 872, 168, 60, 25);
  B_FwTx->setText(QStringLiteral("FwUpload"));
  B_FwJump = Place<QPushButton>(this, "B_FwJump", 872, 136, 60, 25);
  B_FwJump->setText(QStringLiteral("FwJump"));
  B_GetConfig = Place<QPushButton>(this, "B_GetConfig", 872, 200, 60, 25);
  B_GetConfig->setText(QStringLiteral("GetConfig"));
  // Never inside the window: the Tab key does not lead the user there blindly.
  for (QWidget* unseen : GB_EBK->findChildren<QWidget*>())
    unseen->setFocusPolicy(Qt::NoFocus);
  for (QWidget* unseen : std::initializer_list<QWidget*>{B_FwTx, B_FwJump, B_GetConfig})
    unseen->setFocusPolicy(Qt::NoFocus);

  // ---- Components without a window -------------------------------------------------------
  ImageList1 = {QIcon(QStringLiteral(":/images/usb_open.png")), QIcon(QStringLiteral(":/images/usb_closed.png"))};
  Timer1 = MakeTimer(this, "Timer1", 500);
  Timer2 = MakeTimer(this, "Timer2", 50);
  Timer3 = MakeTimer(this, "Timer3", 100);
  Timer4 = MakeTimer(this, "Timer4", 1000);
  Timer5 = MakeTimer(this, "Timer5", 10);
}
