// The main window as it starts: caption, size, the control inventory with its places and
// captions, fonts, lists, spinners, timers and the start-up tick.
#include "support/gui_support.h"

// lib
#include "app/controls.h"
#include "config/config_record.h"
#include "serial/comport.h"

// Qt
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

// Std
#include <string>
#include <tuple>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using WindowStart = WindowTest;

TEST_F(WindowStart, CaptionSizeAndBorder) {
  EXPECT_EQ(form->windowTitle(), QStringLiteral("ZPiTool v2.46.B"));
  EXPECT_EQ(form->size(), QSize(557, 742));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // not resizable
  EXPECT_EQ(form->WindowWidth(), 563);
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("ZPi Tool"));
  EXPECT_EQ(boxes->Count(), 0u);
}

struct Placement {
  const char* name;
  const char* parent;
  QRect geometry;  // width/height 0: not fixed by the layout
  const char* caption;
};

QString CaptionOf(const QWidget* widget) {
  if (const auto* label = qobject_cast<const QLabel*>(widget))
    return label->text();
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
    return button->text();
  if (const auto* group = qobject_cast<const QGroupBox*>(widget))
    return group->title();
  return {};
}

TEST_F(WindowStart, ControlsOutsideThePanelStandWhereTheLayoutPutsThem) {
  const std::vector<Placement> table{
      {"GB_Header", "Form1", {-1, -6, 560, 152}, ""},
      {"L_Msg", "GB_Header", {5, 10, 0, 0}, ""},  // emptied at start-up
      {"L_Site", "GB_Header", {282, 10, 0, 0}, ZPI_VENDOR_HOST "/zpi"},
      {"Log", "GB_Header", {5, 27, 460, 106}, nullptr},
      {"ComboBox1", "GB_Header", {472, 27, 80, 19}, nullptr},
      {"ButtonVCP", "GB_Header", {472, 52, 80, 80}, ""},
      {"ProgressBar1", "GB_Header", {5, 140, 548, 7}, nullptr},
      {"GB_Config", "Form1", {5, 147, 548, 592}, " CONFIGURAÇÕES "},
      {"Cb_Ventora", "Form1", {568, 0, 169, 17}, "Forçar configuração Ventora"},
      {"Cb_COMAutoClose", "Form1", {568, 18, 145, 17}, "Fechar após configurar"},
      {"GB_ReleaseMode", "Form1", {560, 35, 289, 592}, ""},
      {"GroupBox2", "Form1", {560, 626, 289, 113}, ""},
      {"GB_EBK", "Form1", {870, 262, 249, 183}, " CONDUÇÃO EM FREIO MOTOR "},
      {"B_FwTx", "Form1", {872, 168, 60, 25}, "FwUpload"},
      {"B_FwJump", "Form1", {872, 136, 60, 25}, "FwJump"},
      {"B_GetConfig", "Form1", {872, 200, 60, 25}, "GetConfig"},
      {"LogIdList", "GB_ReleaseMode", {5, 10, 278, 555}, nullptr},
      {"L_IdList", "GB_ReleaseMode", {5, 570, 0, 0}, ""},  // emptied at start-up
      {"L_Clear", "GB_ReleaseMode", {237, 570, 0, 0}, "Limpar"},
      {"Label7", "GroupBox2", {5, 16, 0, 0}, "USB"},
      {"Edit1", "GroupBox2", {5, 30, 164, 21}, nullptr},
      {"Label8", "GroupBox2", {5, 60, 0, 0}, "QR code"},
      {"Edit2", "GroupBox2", {5, 74, 164, 21}, nullptr},
      {"Label0", "GroupBox2", {176, 38, 0, 46}, "X"},
      {"B_SetConfig", "GB_Config", {0, 0, 0, 0}, "CONFIGURAR"},
      {"B_SetVentora", "GB_Config", {0, 0, 0, 0}, ""},
      {"B_SetDefaults", "GB_Config", {0, 0, 0, 0}, "preencher valores padrão"},
      {"B_RemConfig", "GB_Config", {0, 0, 0, 0}, "listar comandos de configuração remota"},
  };
  for (const Placement& p : table) {
    SCOPED_TRACE(p.name);
    auto* widget = form->findChild<QWidget*>(QString::fromLatin1(p.name));
    ASSERT_NE(widget, nullptr);
    ASSERT_NE(widget->parentWidget(), nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.parent));
    if (p.geometry.x() || p.geometry.y() || p.geometry.width()) {
      EXPECT_EQ(widget->pos(), p.geometry.topLeft());
      if (p.geometry.width()) {
        EXPECT_EQ(widget->width(), p.geometry.width());
      }
      if (p.geometry.height()) {
        EXPECT_EQ(widget->height(), p.geometry.height());
      }
    }
    if (p.caption) {
      EXPECT_EQ(CaptionOf(widget), QString::fromUtf8(p.caption));
    }
  }
}

// Every caption and label text of the panel, group by group: the group's caption, then the
// labels, boxes and buttons directly in it, in the order they are laid out.
TEST_F(WindowStart, ThePanelsCaptionsAndLabels) {
  using Texts = std::vector<const char*>;
  const char* const time = "Tempo validação [segundos]:";
  std::vector<std::pair<const char*, Texts>> table{
      {"GB_Config",
       {" CONFIGURAÇÕES ", "PING [s]:", "envio #ZPI", "RS232-A:", "rastreador", "RS232-B:", "periférico", "CONFIGURAR",
        "preencher valores padrão", "listar comandos de configuração remota"}},
      {"GB_VMX", {" VELOCIDADE ", "Velocidade máxima permitida [km/h]:", time}},
      {"GB_VCH", {" VELOCIDADE NA CHUVA ", "Velocidade máxima permitida [km/h]:", time}},
      {"GB_BGL",
       {" CONDUÇÃO DESENGRENADA (banguela) ", "Velocidade mínima validação [km/h]:", "Rotação máxima validação [rpm]:",
        time}},
      {"GB_ACP",
       {" ACELERAÇÃO (aceleração brusca) ", "Aceleração máxima permitida [km/h.s]:", "ALERTA BUZZER", "REGISTRAR EVENTO"}},
      {"GB_ACN",
       {" DESACELERAÇÃO (frenagem brusca) ", "Desaceleração máxima permitida [km/h.s]:", "ALERTA BUZZER",
        "REGISTRAR EVENTO"}},
      {"GB_RPX", {" ROTAÇÃO DO MOTOR ", "Rotação máxima permitida [rpm]:", time}},
      {"GB_OSC",
       {" OCIOSIDADE DO MOTOR (funcionando parado) ", "Tempo máximo permitido para\nociosidade do motor [minutos]:",
        "Tempo de exceção para\nmanobras rápidas [segundos]:"}},
      {"GB_EBK",
       {" CONDUÇÃO EM FREIO MOTOR ", "Velocidade mínima validação [km/h]:", "Rotação mínima validação [rpm]:", time}},
      {"GB_EBK_IN", {" ENTRADA ", "Registrar Evento", "Alerta Buzzer"}},
      {"GB_EBK_OUT", {" SAÍDA ", "Registrar Evento", "Alerta Buzzer"}},
  };
  for (const char* group : {"GB_VMX_BZ", "GB_VCH_BZ", "GB_BGL_IN", "GB_RPX_IN", "GB_OSC_IN"})
    table.push_back({group, {" ALERTA BUZZER ", "Entrada", "Saída", "Durante"}});
  for (const char* group : {"GB_VMX_EV", "GB_VCH_EV", "GB_BGL_OUT", "GB_RPX_OUT", "GB_OSC_OUT"})
    table.push_back({group, {" REGISTRAR EVENTO ", "Entrada", "Saída"}});
  QStringList listed;
  for (const auto& [name, texts] : table) {
    const auto* group = form->findChild<QGroupBox*>(QString::fromLatin1(name));
    ASSERT_NE(group, nullptr) << name;
    QStringList shown{group->title()}, expected;
    for (const QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (!qobject_cast<const QGroupBox*>(child) && !CaptionOf(child).isEmpty()) shown << CaptionOf(child);
    for (const char* text : texts) expected << QString::fromUtf8(text);
    EXPECT_EQ(shown, expected) << name;
    listed << QString::fromLatin1(name);
  }
  // No group of the panel left out.
  QStringList built{"GB_Config", "GB_EBK"};
  for (const QWidget* panel : {static_cast<QWidget*>(form->GB_Config), static_cast<QWidget*>(form->GB_EBK)})
    for (const QGroupBox* group : panel->findChildren<QGroupBox*>()) built << group->objectName();
  listed.sort();
  built.sort();
  EXPECT_EQ(listed, built);
}

TEST_F(WindowStart, EveryControlIsNamedAfterItsMember) {
#define CONTROL(n) std::pair<QObject*, const char*>{form->n, #n}
  const std::vector<std::pair<QObject*, const char*>> controls{
      CONTROL(GB_Header), CONTROL(L_Msg), CONTROL(L_Site), CONTROL(Log), CONTROL(ComboBox1), CONTROL(ButtonVCP),
      CONTROL(ProgressBar1), CONTROL(GB_Config), CONTROL(CB_PING), CONTROL(CB_A232), CONTROL(CB_B232),
      CONTROL(B_SetConfig), CONTROL(B_SetVentora), CONTROL(B_SetDefaults), CONTROL(B_RemConfig), CONTROL(GB_VMX),
      CONTROL(GB_VMX_BZ), CONTROL(GB_VMX_EV), CONTROL(ED_VMX), CONTROL(ED_TVMX), CONTROL(UD_VMX), CONTROL(UD_TVMX),
      CONTROL(CB_BZ_VMX_IN), CONTROL(CB_BZ_VMX_OUT), CONTROL(CB_BZ_VMX_WH), CONTROL(CB_EV_VMX_IN),
      CONTROL(CB_EV_VMX_OUT), CONTROL(GB_VCH), CONTROL(GB_VCH_BZ), CONTROL(GB_VCH_EV), CONTROL(ED_VCH),
      CONTROL(ED_TVCH), CONTROL(UD_VCH), CONTROL(UD_TVCH), CONTROL(CB_BZ_VCH_IN), CONTROL(CB_BZ_VCH_OUT),
      CONTROL(CB_BZ_VCH_WH), CONTROL(CB_EV_VCH_IN), CONTROL(CB_EV_VCH_OUT), CONTROL(GB_RPX), CONTROL(GB_RPX_IN),
      CONTROL(GB_RPX_OUT), CONTROL(ED_RPX), CONTROL(ED_TRPX), CONTROL(UD_RPX), CONTROL(UD_TRPX),
      CONTROL(CB_BZ_RPX_IN), CONTROL(CB_BZ_RPX_OUT), CONTROL(CB_BZ_RPX_WH), CONTROL(CB_EV_RPX_IN),
      CONTROL(CB_EV_RPX_OUT), CONTROL(GB_OSC), CONTROL(GB_OSC_IN), CONTROL(GB_OSC_OUT), CONTROL(ED_TOSC),
      CONTROL(ED_XOSC), CONTROL(UD_TOSC), CONTROL(UD_XOSC), CONTROL(CB_BZ_OSC_IN), CONTROL(CB_BZ_OSC_OUT),
      CONTROL(CB_BZ_OSC_WH), CONTROL(CB_EV_OSC_IN), CONTROL(CB_EV_OSC_OUT), CONTROL(GB_BGL), CONTROL(GB_BGL_IN),
      CONTROL(GB_BGL_OUT), CONTROL(ED_VBGL), CONTROL(ED_RBGL), CONTROL(ED_TBGL), CONTROL(UD_VBGL), CONTROL(UD_RBGL),
      CONTROL(UD_TBGL), CONTROL(CB_BZ_BGL_IN), CONTROL(CB_BZ_BGL_OUT), CONTROL(CB_BZ_BGL_WH), CONTROL(CB_EV_BGL_IN),
      CONTROL(CB_EV_BGL_OUT), CONTROL(GB_ACP), CONTROL(ED_ACP), CONTROL(UD_ACP), CONTROL(CB_BZ_ACP),
      CONTROL(CB_EV_ACP), CONTROL(GB_ACN), CONTROL(ED_ACN), CONTROL(UD_ACN), CONTROL(CB_BZ_ACN), CONTROL(CB_EV_ACN),
      CONTROL(Cb_Ventora), CONTROL(Cb_COMAutoClose), CONTROL(GB_ReleaseMode), CONTROL(LogIdList), CONTROL(L_IdList),
      CONTROL(L_Clear), CONTROL(GroupBox2), CONTROL(Label7), CONTROL(Edit1), CONTROL(Label8), CONTROL(Edit2),
      CONTROL(Label0), CONTROL(GB_EBK), CONTROL(GB_EBK_IN), CONTROL(GB_EBK_OUT), CONTROL(ED_VEBK), CONTROL(ED_REBK),
      CONTROL(ED_TEBK), CONTROL(UD_VEBK), CONTROL(UD_REBK), CONTROL(UD_TEBK), CONTROL(CB_EV_EBK_IN),
      CONTROL(CB_BZ_EBK_IN), CONTROL(CB_EV_EBK_OUT), CONTROL(CB_BZ_EBK_OUT), CONTROL(B_FwTx), CONTROL(B_FwJump),
      CONTROL(B_GetConfig), CONTROL(Timer1), CONTROL(Timer2), CONTROL(Timer3), CONTROL(Timer4), CONTROL(Timer5),
  };
#undef CONTROL
  for (const auto& [object, name] : controls) {
    ASSERT_NE(object, nullptr) << name;
    EXPECT_EQ(object->objectName(), QString::fromLatin1(name));
    EXPECT_EQ(form->findChildren<QObject*>(QString::fromLatin1(name)).size(), 1) << name;
  }
  EXPECT_NE(form->CppWebBrowser1, nullptr);
}

TEST_F(WindowStart, EditBoxesListsAndCheckBoxesHaveDistinctAccessibleNames) {
  QStringList names;
  for (QWidget* widget : form->findChildren<QWidget*>()) {
    if (!qobject_cast<QLineEdit*>(widget) && !qobject_cast<QComboBox*>(widget) && !qobject_cast<QCheckBox*>(widget))
      continue;
    EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
    names << widget->accessibleName();
  }
  EXPECT_EQ(names.size(), 57);
  EXPECT_EQ(names.removeDuplicates(), 0);  // a screen reader can tell the "Tempo validação" boxes apart
  EXPECT_EQ(form->ED_TVCH->accessibleName(), QStringLiteral("VELOCIDADE NA CHUVA: Tempo validação [segundos]"));
  EXPECT_EQ(form->CB_BZ_OSC_WH->accessibleName(),
            QStringLiteral("OCIOSIDADE DO MOTOR (funcionando parado), alerta buzzer: Durante"));
}

TEST_F(WindowStart, FontsAndColours) {
  auto pixels = [](const QWidget* w) { return QFontInfo(w->font()).pixelSize(); };
  EXPECT_EQ(pixels(form.get()), 11);
  EXPECT_EQ(pixels(form->ED_VMX), 11);
  EXPECT_FALSE(form->ED_VMX->font().bold());
  EXPECT_EQ(pixels(form->Log), 12);
  EXPECT_TRUE(form->Log->font().bold());
  EXPECT_TRUE(QFontInfo(form->Log->font()).fixedPitch());
  EXPECT_TRUE(QFontInfo(form->LogIdList->font()).fixedPitch());
  for (const QGroupBox* group : {form->GB_Config, form->GB_VMX, form->GB_VMX_BZ, form->GB_OSC_OUT, form->GB_EBK}) {
    EXPECT_EQ(pixels(group), 9) << group->objectName().toStdString();
    EXPECT_TRUE(group->font().bold());
    EXPECT_EQ(group->palette().color(QPalette::WindowText), QColor(128, 128, 128));
  }
  // The caption's font and grey do not reach the controls inside the groups.
  EXPECT_EQ(form->CB_BZ_VMX_IN->palette().color(QPalette::WindowText), QColor(Qt::black));
  EXPECT_FALSE(form->CB_BZ_VMX_IN->font().bold());
  for (const TClickLabel* label : {form->L_Msg, form->L_Site, form->L_IdList, form->L_Clear}) {
    EXPECT_TRUE(label->font().underline());
    EXPECT_EQ(pixels(label), 11);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(128, 128, 128));
  }
  EXPECT_TRUE(form->Label0->font().bold());
  EXPECT_EQ(pixels(form->Label0), 40);
}

// The background is the system's menu-bar colour as the platform's palette gives it.
TEST_F(WindowStart, BackgroundIsTheMenuBarColour) {
  const QPalette platform = QApplication::palette("QMenuBar");
  EXPECT_EQ(form->palette().color(QPalette::Window), platform.color(QPalette::Window));
  QPalette menuBar = platform;
  const QColor unusual(0xC8, 0xB0, 0xD4);  // no style's default
  menuBar.setColor(QPalette::Window, unusual);
  QApplication::setPalette(menuBar, "QMenuBar");
  const std::unique_ptr<TForm1> other = MakeForm();
  QApplication::setPalette(platform, "QMenuBar");
  for (const QWidget* widget : {static_cast<QWidget*>(other.get()), static_cast<QWidget*>(other->GB_Config)})
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
      EXPECT_EQ(widget->palette().color(group, QPalette::Window), unusual) << widget->objectName().toStdString();
  const QImage picture = other->grab().toImage();
  EXPECT_EQ(picture.pixelColor(2, 400), unusual);  // left of the panel
}

// "USB" and "QR code" stand on the system's scroll-bar colour: Windows' own; elsewhere the
// track of the scroll bars the window shows (the log's), whatever the platform's palette.
TEST_F(WindowStart, UsbAndQrCodeLabelsTakeTheScrollBarColour) {
  const auto background = [](const TForm1& f) {
    EXPECT_TRUE(f.Label7->autoFillBackground());
    EXPECT_EQ(f.Label8->palette().color(QPalette::Window), f.Label7->palette().color(QPalette::Window));
    return f.Label7->palette().color(QPalette::Window);
  };
#ifdef _WIN32
  const COLORREF system = ::GetSysColor(COLOR_SCROLLBAR);
  EXPECT_EQ(background(*form), QColor(GetRValue(system), GetGValue(system), GetBValue(system)));
#else
  const QPalette platform = QApplication::palette("QScrollBar");
  QPalette unusual = platform;
  unusual.setColor(QPalette::Button, QColor(0x9A, 0xC8, 0x64));  // no style's default
  QApplication::setPalette(unusual, "QScrollBar");
  const std::unique_ptr<TForm1> other = MakeForm();
  for (int i = 0; i < 120; ++i) other->Log->Add(QStringLiteral("linha"));  // a track above the slider
  const QImage track = other->Log->verticalScrollBar()->grab().toImage();
  QApplication::setPalette(platform, "QScrollBar");
  const QColor drawn = track.pixelColor(track.width() / 2, track.height() / 4);
  EXPECT_EQ(background(*other), drawn);
  EXPECT_NE(background(*form), drawn);
#endif
}

TEST_F(WindowStart, PortListEntriesAre13PixelsHigh) {
  form->ComboBox1->clear();
  form->ComboBox1->addItems({QStringLiteral("ttyACM0"), QStringLiteral("/dev/pts/12")});
  form->ComboBox1->QComboBox::showPopup();  // without refilling the list
  QAbstractItemView* list = form->ComboBox1->view();
  ASSERT_TRUE(WaitUntil([&] { return list->isVisible(); }));
  for (int row = 0; row < 2; ++row)
    EXPECT_EQ(list->visualRect(list->model()->index(row, 0)).height(), 13) << row;
  form->ComboBox1->hidePopup();
}

TEST_F(WindowStart, StartStateOfTheHeaderAndTheReleasePanel) {
  EXPECT_TRUE(form->L_Msg->text().isEmpty());
  EXPECT_TRUE(form->L_IdList->text().isEmpty());
  EXPECT_TRUE(form->LogIdList->Lines().isEmpty());
  EXPECT_TRUE(form->Log->Lines().isEmpty());
  EXPECT_EQ(form->Label0->text(), QStringLiteral("X"));
  EXPECT_EQ(form->Label0->palette().color(QPalette::WindowText), form->palette().color(QPalette::WindowText));
  EXPECT_TRUE(form->Log->isReadOnly());
  EXPECT_EQ(form->Log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_TRUE(form->Edit1->isReadOnly());
  EXPECT_TRUE(form->Edit2->isReadOnly());
  EXPECT_EQ(form->ProgressBar1->minimum(), 0);
  EXPECT_EQ(form->ProgressBar1->maximum(), 100);
  EXPECT_EQ(form->ProgressBar1->value(), 0);
  EXPECT_FALSE(form->Cb_Ventora->isChecked());
  EXPECT_FALSE(form->Cb_COMAutoClose->isChecked());
  // The connect button: up, may be released, the closed picture.
  EXPECT_FALSE(form->ButtonVCP->Down());
  EXPECT_TRUE(form->ButtonVCP->AllowAllUp);
  EXPECT_EQ(form->ButtonVCP->icon().cacheKey(), form->ImageList1[1].cacheKey());
  EXPECT_EQ(form->VCP.CustomBaudRate(), 3686400);
  EXPECT_FALSE(form->VCP.Connected());
  // The rest of the port's settings, as the window gives them.
  const TComPort& vcp = form->VCP;
  EXPECT_EQ(vcp.BaudRate, brCustom);
  EXPECT_EQ(std::tie(vcp.DataBits, vcp.StopBits, vcp.Parity.Bits), std::make_tuple(dbEight, sbOneStopBit, prNone));
  EXPECT_EQ(std::tie(vcp.FlowControl.ControlDTR, vcp.FlowControl.ControlRTS), std::make_tuple(dtrDisable, rtsDisable));
  const TComTimeouts& limits = vcp.Timeouts;
  EXPECT_EQ(std::tie(limits.ReadInterval, limits.ReadTotalMultiplier, limits.ReadTotalConstant,
                     limits.WriteTotalMultiplier, limits.WriteTotalConstant),
            std::make_tuple(200, 100, 100, 2, 2));
  EXPECT_EQ(std::tie(vcp.Buffer.InputSize, vcp.Buffer.OutputSize), std::make_tuple(4096, 4096));
  EXPECT_EQ(EventsToMask(vcp.Events), 0x05FFu);  // all ten
}

TEST_F(WindowStart, TheTwoPicturesAreUsbPlugsOf51Pixels) {
  for (const QIcon& icon : form->ImageList1) {
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes().value(0), QSize(51, 51));
  }
  const QImage open = form->ImageList1[0].pixmap(51, 51).toImage();
  const QImage closed = form->ImageList1[1].pixmap(51, 51).toImage();
  EXPECT_NE(open, closed);
  // The badge at the lower right: green tick, red cross.
  const QColor openBadge = open.pixelColor(45, 40);
  const QColor closedBadge = closed.pixelColor(45, 40);
  EXPECT_GT(openBadge.green(), openBadge.red());
  EXPECT_GT(closedBadge.red(), closedBadge.green());
}

TEST_F(WindowStart, ConfigurationListsAreFilledWithNothingSelected) {
  const QStringList ping{"5", "10", "15", "30", "45", "60", "90", "120", "180", "300"};
  const QStringList rates{"9600", "19200", "57600", "115200"};
  auto items = [](const QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
      texts << list->itemText(i);
    return texts;
  };
  EXPECT_EQ(items(form->CB_PING), ping);
  EXPECT_EQ(items(form->CB_A232), rates);
  EXPECT_EQ(items(form->CB_B232), rates);
  for (const QComboBox* list : {form->CB_PING, form->CB_A232, form->CB_B232}) {
    EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_FALSE(list->isEditable());
  }
  EXPECT_FALSE(form->CB_A232->isEnabled());
  EXPECT_TRUE(form->CB_B232->isEnabled());
  EXPECT_FALSE(form->B_SetConfig->isEnabled());
  EXPECT_TRUE(form->B_SetDefaults->isEnabled());
  EXPECT_TRUE(form->B_SetVentora->isEnabled());
  EXPECT_TRUE(form->B_RemConfig->isEnabled());
  for (const QCheckBox* box : form->findChildren<QCheckBox*>())
    EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
}

TEST_F(WindowStart, CaptionlessVentoraButtonIsClickable) {
  ASSERT_TRUE(form->B_SetVentora->text().isEmpty());
  QTest::mouseClick(form->B_SetVentora, Qt::LeftButton);
  EXPECT_EQ(form->ED_VMX->text(), QStringLiteral("100"));  // the preset reached the panel
  EXPECT_EQ(form->CB_PING->currentText(), QStringLiteral("60"));
}

struct SpinnerSpec {
  const char* upDown;
  const char* edit;
  int min, max, position, maxLength;  // maxLength 0: no limit
};

TEST_F(WindowStart, SpinnersAndEditBoxesCarryTheirRangesStartsAndLengths) {
  const std::vector<SpinnerSpec> table{
      {"UD_ACP", "ED_ACP", 1, 255, 11, 3},      {"UD_ACN", "ED_ACN", 1, 255, 11, 3},
      {"UD_VMX", "ED_VMX", 1, 250, 120, 3},     {"UD_TVMX", "ED_TVMX", 0, 20, 5, 2},
      {"UD_VCH", "ED_VCH", 1, 250, 90, 3},      {"UD_TVCH", "ED_TVCH", 0, 20, 5, 2},
      {"UD_RPX", "ED_RPX", 1000, 9999, 4500, 4}, {"UD_TRPX", "ED_TRPX", 0, 20, 5, 2},
      {"UD_TOSC", "ED_TOSC", 1, 45, 10, 2},     {"UD_XOSC", "ED_XOSC", 0, 20, 7, 2},
      {"UD_VBGL", "ED_VBGL", 1, 250, 40, 3},    {"UD_RBGL", "ED_RBGL", 300, 1500, 900, 4},
      {"UD_TBGL", "ED_TBGL", 0, 20, 5, 2},      {"UD_VEBK", "ED_VEBK", 1, 250, 40, 3},
      {"UD_REBK", "ED_REBK", 300, 1500, 1200, 4}, {"UD_TEBK", "ED_TEBK", 0, 20, 5, 0},
  };
  // A window whose start-up tick has not run yet shows the layout's numbers.
  auto fresh = std::make_unique<TForm1>();
  fresh->Timer4->stop();
  fresh->Timer5->stop();
  for (const SpinnerSpec& s : table) {
    SCOPED_TRACE(s.upDown);
    auto* upDown = fresh->findChild<TUpDown*>(QString::fromLatin1(s.upDown));
    auto* edit = fresh->findChild<QLineEdit*>(QString::fromLatin1(s.edit));
    ASSERT_NE(upDown, nullptr);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(upDown->Associate(), edit);
    EXPECT_EQ(upDown->Min, s.min);
    EXPECT_EQ(upDown->Max, s.max);
    EXPECT_EQ(upDown->Position(), s.position);
    EXPECT_EQ(edit->text(), QString::number(s.position));
    if (s.maxLength)
      EXPECT_EQ(edit->maxLength(), s.maxLength);
    else
      EXPECT_GE(edit->maxLength(), 100);
  }
}

TEST_F(WindowStart, UpDownStepsWithoutWrappingAndFromATypedNumber) {
  TUpDown* ud = form->UD_TVMX;  // 0 to 20
  ud->SetPosition(19);
  QTest::mouseClick(ud->findChild<QWidget*>(QStringLiteral("up")), Qt::LeftButton);
  EXPECT_EQ(form->ED_TVMX->text(), QStringLiteral("20"));
  ud->StepUp();
  EXPECT_EQ(ud->Position(), 20);  // no wrap at the top
  form->ED_TVMX->setText(QStringLiteral("3"));
  ud->StepDown();
  EXPECT_EQ(form->ED_TVMX->text(), QStringLiteral("2"));
  ud->SetPosition(0);
  ud->StepDown();
  EXPECT_EQ(form->ED_TVMX->text(), QStringLiteral("0"));  // no wrap at the bottom
  // Text that is no number in range is not a starting point: the position is.
  for (const char* typed : {"", "abc", "99", "-4"}) {
    ud->SetPosition(7);
    form->ED_TVMX->setText(QString::fromLatin1(typed));
    ud->StepUp();
    EXPECT_EQ(form->ED_TVMX->text(), QStringLiteral("8")) << typed;
  }
  // No thousands separator.
  form->UD_RPX->SetPosition(9998);
  form->UD_RPX->StepUp();
  EXPECT_EQ(form->ED_RPX->text(), QStringLiteral("9999"));
  // Arrow keys in the edit box step as well.
  form->ED_RPX->setFocus();
  QTest::keyClick(form->ED_RPX, Qt::Key_Down);
  EXPECT_EQ(form->ED_RPX->text(), QStringLiteral("9998"));
}

TEST_F(WindowStart, TimersAndTheirIntervals) {
  const std::vector<std::pair<QTimer*, int>> timers{
      {form->Timer1, 500}, {form->Timer2, 50}, {form->Timer3, 100}, {form->Timer4, 1000}, {form->Timer5, 10}};
  for (const auto& [timer, interval] : timers) {
    EXPECT_EQ(timer->interval(), interval) << timer->objectName().toStdString();
    EXPECT_FALSE(timer->isSingleShot());
  }
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_FALSE(form->Timer2->isActive());
  EXPECT_FALSE(form->Timer3->isActive());
  // FormCreate starts the version check; the fixture stops it again for quiet tests.
  auto running = MakeForm(/*keepVersionCheck=*/true);
  EXPECT_TRUE(running->Timer4->isActive());
  running->Timer4->stop();
}

TEST_F(WindowStart, StartUpTickEmptiesTheSixteenFieldsAndLiftsTheSpinners) {
  auto fresh = std::make_unique<TForm1>();
  fresh->Timer4->stop();
  ASSERT_TRUE(fresh->Timer5->isActive());
  const std::vector<QLineEdit*> fields{fresh->ED_ACP,  fresh->ED_ACN,  fresh->ED_VMX,  fresh->ED_TVMX,
                                       fresh->ED_VCH,  fresh->ED_TVCH, fresh->ED_RPX,  fresh->ED_TRPX,
                                       fresh->ED_VBGL, fresh->ED_TBGL, fresh->ED_RBGL, fresh->ED_TOSC,
                                       fresh->ED_XOSC, fresh->ED_VEBK, fresh->ED_TEBK, fresh->ED_REBK};
  std::vector<std::pair<TUpDown*, QPoint>> spinners;
  for (TUpDown* ud : fresh->findChildren<TUpDown*>())
    spinners.emplace_back(ud, ud->pos());
  ASSERT_EQ(spinners.size(), 16u);
  for (const QLineEdit* field : fields)
    EXPECT_FALSE(field->text().isEmpty());

  ASSERT_TRUE(WaitUntil([&] { return !fresh->Timer5->isActive(); }));
  for (const QLineEdit* field : fields)
    EXPECT_TRUE(field->text().isEmpty()) << field->objectName().toStdString();
  for (const auto& [ud, before] : spinners) {
    EXPECT_EQ(ud->pos(), before - QPoint(0, 3)) << ud->objectName().toStdString();
    // Level with its edit box once lifted.
    EXPECT_EQ(ud->y(), ud->Associate()->y()) << ud->objectName().toStdString();
  }
  EXPECT_EQ(fresh->UD_TOSC->Position(), 10);  // positions stay
  EXPECT_EQ(fresh->UD_REBK->Position(), 1200);
}

// A machine without serial ports: an empty tty class and no extra ports.
class NoPorts {
 public:
  NoPorts() : none_({}) { SetPortListSourceForTests(folder_.path().toStdString()); }
  ~NoPorts() { SetPortListSourceForTests({}); }

 private:
  QTemporaryDir folder_;
  ScopedExtraPorts none_;
};

TEST_F(WindowStart, WithoutPortsTheWindowStartsSilentlyAndTheButtonStaysUp) {
  NoPorts machine;
  auto fresh = MakeForm();
  EXPECT_EQ(fresh->ComboBox1->count(), 0);
  EXPECT_EQ(fresh->ComboBox1->currentIndex(), -1);
  EXPECT_TRUE(fresh->ComboBox1->isEnabled());
  QTest::mouseClick(fresh->ButtonVCP, Qt::LeftButton);
  EXPECT_FALSE(fresh->ButtonVCP->Down());
  EXPECT_TRUE(fresh->Log->Lines().isEmpty());
  EXPECT_FALSE(fresh->VCP.Connected());
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(WindowStart, AFailingPortListIsSwallowedAtStartAndWhenOpened) {
  ScopedExtraPorts none({});
  SetPortListSourceForTests("/nonexistent/zpitool/tty");  // enumeration raises its error
  auto fresh = MakeForm();
  EXPECT_EQ(fresh->ComboBox1->count(), 0);
  fresh->ComboBox1->addItems({"ttyACM0", "ttyACM1"});
  fresh->ComboBox1->setCurrentIndex(1);
  fresh->ComboBox1->showPopup();  // the list keeps its entries and selection
  fresh->ComboBox1->hidePopup();
  SetPortListSourceForTests({});
  EXPECT_EQ(fresh->ComboBox1->count(), 2);
  EXPECT_EQ(fresh->ComboBox1->currentIndex(), 1);
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(WindowStart, TheNewestLineOfEitherLogStaysInView) {
  for (TRichLog* log : {form->Log, form->LogIdList}) {
    for (int i = 0; i < 120; ++i)
      log->Add(QStringLiteral("linha %1").arg(i));
    EXPECT_GT(log->verticalScrollBar()->maximum(), 0);  // it did need scrolling
    EXPECT_TRUE(log->LastLineVisible()) << log->objectName().toStdString();
    const QRect caret = log->cursorRect();
    EXPECT_TRUE(log->viewport()->rect().contains(caret.center())) << log->objectName().toStdString();
  }
}

}  // namespace
