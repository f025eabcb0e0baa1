// The configuration panel driven through its widgets: the write's checks, the fill buttons,
// the buzzer interlock, the end of a configuration read and the remote command listing.
#include "app/panel_controls.h"
#include "config/panel_values.h"
#include "service/service_engine.h"
#include "support/gui_support.h"
#include "support/unit_frames.h"

// Qt
#include <QColor>

namespace {

void Type(QLineEdit* edit, const QString& text) {
  edit->clear();
  QTest::keyClicks(edit, text);
}

void Click(QAbstractButton* button) {
  ASSERT_TRUE(button->isEnabled());
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

class ConfigPanelTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    form->Timer5Timer();  // the start-up tick empties the edit boxes
  }
  // A fresh window past its start-up tick, with no box recorded yet.
  void NewForm() {
    form = MakeForm();
    form->Timer5Timer();
    boxes->Clear();
  }
  // The panel as the write would read it.
  [[nodiscard]] ConfigPanelValues Panel() const { return ReadPanelValues(*form); }
  void Write() {
    form->B_SetConfig->setEnabled(true);  // as after a read
    Click(form->B_SetConfig);
  }
  [[nodiscard]] std::vector<MessageBoxCall> ErrorBoxes() const {
    std::vector<MessageBoxCall> out;
    for (const MessageBoxCall& c : boxes->Calls())
      if (c.title == "Erro") out.push_back(c);
    return out;
  }
  // What a passing write hands to the transfer engine.
  void ExpectTransferOf(const ConfigRecord& record) {
    const EncodedConfig expected = EncodeConfigImage(record);
    EXPECT_EQ(form->Engine().TxConfig().image, expected.image);
    EXPECT_EQ(form->Engine().TxConfig().trailer, expected.trailer);
    EXPECT_EQ(form->Engine().Transfer().Kind, TransferConfig);
    EXPECT_EQ(form->Engine().Transfer().Data.data(), form->Engine().TxConfig().image.data());
    EXPECT_EQ(form->Engine().Transfer().Data.size(), ConfigImageSize);
    EXPECT_EQ(form->Engine().Transfer().Length, ConfigImageSize);
    EXPECT_EQ(form->Engine().Transfer().Trailer, expected.trailer);
  }
  // The unit's five answers to a configuration read come in: the read ends with `image`.
  void DeliverRead(const ConfigImage& image) {
    for (std::uint32_t index = 1; index <= ReadBlockCount; ++index)
      form->Engine().Receive(ReadAnswerFrame(image, form->Engine().DeviceInfo().ConfigBaseAddress, index));
  }
  void ExpectNothingSent() {
    EXPECT_EQ(form->Engine().Transfer().Kind, 0);
    EXPECT_EQ(form->Engine().TxConfig().image, ConfigImage{});
  }
};

}  // namespace

TEST_F(ConfigPanelTest, WriteChecksEachField) {
  using E = ConfigEdit;
  struct Case {
    ConfigEdit edit;
    QString text;
    bool passes;
    const char* message;
  };
  const Case cases[] = {
      {E::ACP, "", false, "Parâmetro inválido!\r\n[Aceleração]"},
      {E::ACP, "-5", false, "Parâmetro inválido!\r\n[Aceleração]"},
      {E::ACP, " 5", false, "Parâmetro inválido!\r\n[Aceleração]"},
      {E::ACP, "1.5", false, "Parâmetro inválido!\r\n[Aceleração]"},
      {E::ACP, "256", false, "Parâmetro inválido!\r\n[Aceleração]"},
      {E::ACP, "255", true, nullptr},
      {E::ACN, "999", false, "Parâmetro inválido!\r\n[Desaceleração]"},
      {E::ACN, "0", true, nullptr},
      {E::VMX, "151", false, "Parâmetro inválido!\r\n[Velocidade]"},
      {E::VMX, "150", true, nullptr},
      {E::VMX, "0", true, nullptr},
      {E::VMX, "090", true, nullptr},
      {E::TVMX, "61", false, "Parâmetro inválido!\r\n[Tempo validação Velocidade]"},
      {E::TVMX, "60", true, nullptr},
      {E::VCH, "151", false, "Parâmetro inválido!\r\n[Velocidade na Chuva]"},
      {E::TVCH, "61", false, "Parâmetro inválido!\r\n[Tempo validação Velocidade na Chuva]"},
      {E::RPX, "999", false, "Parâmetro inválido!\r\n[Rotação do Motor]"},
      {E::RPX, "1000", true, nullptr},
      {E::RPX, "9999", true, nullptr},
      {E::TRPX, "61", false, "Parâmetro inválido!\r\n[Tempo validação Rotação]"},
      {E::TOSC, "0", false, "Parâmetro inválido!\r\n[Tempo osciosidade]"},
      {E::TOSC, "1", true, nullptr},
      {E::XOSC, "61", false, "Parâmetro inválido!\r\n[Tempo excessão manobra]"},
      {E::VBGL, "0", false, "Parâmetro inválido!\r\n[Velocidade min. Banguela]"},
      {E::VBGL, "256", false, "Parâmetro inválido!\r\n[Velocidade min. Banguela]"},
      {E::RBGL, "299", false, "Parâmetro inválido!\r\n[Rotação max. Banguela]"},
      {E::RBGL, "1001", false, "Parâmetro inválido!\r\n[Rotação max. Banguela]"},
      {E::RBGL, "1500", false, "Parâmetro inválido!\r\n[Rotação max. Banguela]"},
      {E::RBGL, "300", true, nullptr},
      {E::RBGL, "1000", true, nullptr},
      {E::TBGL, "31", false, "Parâmetro inválido!\r\n[Tempo validação Banguela]"},
      {E::TBGL, "30", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString() + " in field " + std::to_string(static_cast<int>(c.edit)));
    NewForm();
    Click(form->B_SetDefaults);
    Type(PanelEdit(*form, c.edit), c.text);
    const ConfigPanelValues before = Panel();
    Write();
    ConfigPanelValues expectedPanel = before;
    if (c.passes) {
      EXPECT_TRUE(ErrorBoxes().empty());
      // The image sent holds the defaults with the typed number in its place.
      EXPECT_EQ(form->Engine().Transfer().Kind, TransferConfig);
      const DecodedConfig sent = DecodeConfigImage(form->Engine().TxConfig().image, false);
      ASSERT_EQ(sent.errors, 0u);
      ConfigPanelValues expectedSent = PanelValuesOf(DefaultConfig());
      expectedSent[c.edit] = std::to_string(c.text.toUInt());
      EXPECT_EQ(PanelValuesOf(sent.record).Text, expectedSent.Text);
      EXPECT_EQ(form->Engine().TxConfig().trailer, MakeTrailer(form->Engine().TxConfig().image));
      // The port is closed: the engine reports it, with no icon.
      ASSERT_EQ(boxes->Count(), 1u);
      EXPECT_EQ(boxes->Calls()[0].title, "ERRO #0x01");
      EXPECT_EQ(boxes->Calls()[0].icon, MsgIcon::None);
    } else {
      ASSERT_EQ(boxes->Count(), 1u);
      EXPECT_EQ(boxes->Calls()[0].text, QString::fromUtf8(c.message));
      EXPECT_EQ(boxes->Calls()[0].title, "Erro");
      EXPECT_EQ(boxes->Calls()[0].icon, MsgIcon::Warning);
      EXPECT_EQ(boxes->Calls()[0].buttons, MsgButtons::Ok);
      EXPECT_EQ(boxes->Calls()[0].window, MsgWindow::Blocked);
      expectedPanel[c.edit].clear();
      ExpectNothingSent();
    }
    EXPECT_EQ(Panel().Text, expectedPanel.Text);
    EXPECT_EQ(Panel().Choices, expectedPanel.Choices);
  }
}

TEST_F(ConfigPanelTest, LeadingZerosAreWrittenAsTheNumber) {
  Click(form->B_SetDefaults);
  Type(form->ED_VMX, "090");
  Write();
  ConfigRecord expected = DefaultConfig();
  expected.VMX = 90;
  ExpectTransferOf(expected);
  EXPECT_EQ(form->ED_VMX->text(), "090");
}

TEST_F(ConfigPanelTest, FirstFailureWinsAndOnlyItsBoxIsEmptied) {
  Click(form->B_SetDefaults);
  Type(form->ED_ACN, "x");
  Type(form->ED_VMX, "151");
  Write();
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_EQ(boxes->Calls()[0].text, QString::fromUtf8("Parâmetro inválido!\r\n[Desaceleração]"));
  EXPECT_EQ(form->ED_ACN->text(), "");
  EXPECT_EQ(form->ED_VMX->text(), "151");
  ExpectNothingSent();
}

TEST_F(ConfigPanelTest, WriteWithoutListSelectionIsRefused) {
  struct Case {
    int ping, a, b;
    const char* message;
  };
  for (const Case& c : {Case{-1, -1, -1, "Parâmetro inválido!\r\n[PING]"},
                        Case{8, -1, 1, "Parâmetro inválido!\r\n[RS232-A]"},
                        Case{8, 3, -1, "Parâmetro inválido!\r\n[RS232-B]"}}) {
    NewForm();
    Click(form->B_SetDefaults);
    form->CB_PING->setCurrentIndex(c.ping);
    form->CB_A232->setCurrentIndex(c.a);
    form->CB_B232->setCurrentIndex(c.b);
    const ConfigPanelValues before = Panel();
    Write();
    ASSERT_EQ(boxes->Count(), 1u);
    EXPECT_EQ(boxes->Calls()[0].text, QString::fromUtf8(c.message));
    EXPECT_EQ(boxes->Calls()[0].icon, MsgIcon::Warning);
    EXPECT_EQ(Panel().Text, before.Text);
    ExpectNothingSent();
  }
  // An edit box is checked before the lists.
  Type(form->ED_TBGL, "31");
  form->CB_PING->setCurrentIndex(-1);
  boxes->Clear();
  Write();
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_EQ(boxes->Calls()[0].text, QString::fromUtf8("Parâmetro inválido!\r\n[Tempo validação Banguela]"));
}

TEST_F(ConfigPanelTest, RefusedWriteLeavesTheTransferUnderWayAlone) {
  Click(form->B_SetDefaults);
  Write();
  ExpectTransferOf(DefaultConfig());
  Type(form->ED_VMX, "151");
  Write();
  ExpectTransferOf(DefaultConfig());
}

TEST_F(ConfigPanelTest, BuzzerInterlock) {
  for (const Condition c : {Condition::VMX, Condition::VCH, Condition::RPX, Condition::OSC, Condition::BGL}) {
    SCOPED_TRACE(static_cast<int>(c));
    const ConditionBoxes b = Boxes(*form, c);
    Click(b.BZ_IN);
    Click(b.BZ_OUT);
    Click(b.EV_IN);
    Click(b.EV_OUT);
    // "Durante" clears entry and exit, not the events.
    Click(b.BZ_WH);
    EXPECT_TRUE(b.BZ_WH->isChecked());
    EXPECT_FALSE(b.BZ_IN->isChecked());
    EXPECT_FALSE(b.BZ_OUT->isChecked());
    EXPECT_TRUE(b.EV_IN->isChecked() && b.EV_OUT->isChecked());
    // Exit clears "Durante" and leaves entry as it was.
    Click(b.BZ_OUT);
    EXPECT_FALSE(b.BZ_WH->isChecked());
    EXPECT_FALSE(b.BZ_IN->isChecked());
    EXPECT_TRUE(b.BZ_OUT->isChecked());
    // Entry set by the program clears "Durante" as well; unchecking changes nothing else.
    b.BZ_WH->setChecked(true);
    b.BZ_IN->setChecked(true);
    EXPECT_FALSE(b.BZ_WH->isChecked());
    Click(b.BZ_IN);
    EXPECT_FALSE(b.BZ_IN->isChecked());
    EXPECT_FALSE(b.BZ_WH->isChecked());
    EXPECT_TRUE(b.EV_IN->isChecked() && b.EV_OUT->isChecked());
  }
  // The other conditions were not touched by the last one's clicks.
  EXPECT_FALSE(form->CB_BZ_ACP->isChecked());
}

TEST_F(ConfigPanelTest, DefaultsOverACheckedDuring) {
  for (const Condition c : {Condition::VMX, Condition::BGL}) Click(Boxes(*form, c).BZ_WH);
  form->Log->Add("kept");
  Click(form->B_SetDefaults);
  EXPECT_FALSE(form->CB_BZ_VMX_WH->isChecked());
  EXPECT_TRUE(form->CB_BZ_VMX_IN->isChecked());
  const ConfigPanelValues shown = Panel();
  const ConfigPanelValues expected = PanelValuesOf(DefaultConfig());
  EXPECT_EQ(shown.Text, expected.Text);
  EXPECT_EQ(shown.Choices, expected.Choices);
  EXPECT_EQ(shown.PingItem, 8);
  EXPECT_EQ(shown.A232Item, 3);
  EXPECT_EQ(shown.B232Item, 1);
  // Port closed: nothing else happens.
  EXPECT_EQ(boxes->Count(), 0u);
  EXPECT_EQ(LogLines(*form), QStringList{"kept"});
  EXPECT_FALSE(form->B_SetConfig->isEnabled());
  ExpectNothingSent();
}

TEST_F(ConfigPanelTest, VentoraFillsThePreset) {
  // Start from everything ticked that can be.
  for (QCheckBox* box : form->GB_Config->findChildren<QCheckBox*>()) box->setChecked(true);
  Click(form->B_SetVentora);
  const ConfigPanelValues shown = Panel();
  const ConfigPanelValues expected = PanelValuesOf(VentoraPreset());
  EXPECT_EQ(shown.Text, expected.Text);
  EXPECT_EQ(shown.Choices, expected.Choices);
  EXPECT_EQ(shown.PingItem, 5);
  EXPECT_EQ(shown.A232Item, 3);
  EXPECT_EQ(shown.B232Item, 1);
  EXPECT_EQ(boxes->Count(), 0u);
  EXPECT_TRUE(LogLines(*form).join("").isEmpty());
}

TEST_F(ConfigPanelTest, ValidReadIsShown) {
  ConfigRecord unit = VentoraPreset();
  unit.VMX = 200;  // outside the write bounds, still shown
  unit.RPX_Alerts = {.BZ_IN = false, .BZ_OUT = false, .BZ_WH = true, .EV_IN = true, .EV_OUT = false};
  unit.BZ_ACN = true;
  Click(form->B_SetDefaults);  // something else on the panel first
  form->B_GetConfigClick();     // a read's start leaves no list item selected (the port is closed:
  EXPECT_EQ(Panel().PingItem, -1);  // it ends at once, in a box with no icon)
  EXPECT_EQ(Panel().A232Item, -1);
  EXPECT_EQ(Panel().B232Item, -1);
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_EQ(boxes->Calls()[0].title, "ERRO #0x03");
  EXPECT_EQ(boxes->Calls()[0].icon, MsgIcon::None);
  boxes->Clear();
  DeliverRead(EncodeConfigImage(unit).image);
  EXPECT_EQ(form->ED_VMX->text(), "200");
  EXPECT_EQ(Panel().Choices, PanelValuesOf(unit).Choices);
  EXPECT_EQ(Panel().Text, PanelValuesOf(unit).Text);
  EXPECT_EQ(Panel().PingItem, 5);
  EXPECT_EQ(LogLines(*form).last(), QString::fromUtf8("Leitura da configuração interna concluída!"));
  EXPECT_TRUE(form->B_SetConfig->isEnabled());
  EXPECT_EQ(boxes->Count(), 0u);
  ExpectNothingSent();
  // A write then refuses the speed.
  Write();
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_EQ(boxes->Calls()[0].text, QString::fromUtf8("Parâmetro inválido!\r\n[Velocidade]"));
}

TEST_F(ConfigPanelTest, ReadValuesLongerThanTheBoxesAreShownWhole) {
  ConfigRecord unit = DefaultConfig();
  unit.TOSC = 120;
  unit.TVMX = 255;
  unit.RPX = 65535;
  DeliverRead(EncodeConfigImage(unit).image);
  EXPECT_EQ(form->ED_TOSC->text(), "120");
  EXPECT_EQ(form->ED_TVMX->text(), "255");
  EXPECT_EQ(form->ED_RPX->text(), "65535");
  // Written back unchanged where the write allows it.
  Type(form->ED_TVMX, "5");
  Write();
  unit.TVMX = 5;
  ExpectTransferOf(unit);
}

// A box's own limit is lifted only while a longer read value is shown: a stock fill, the
// panel cleared on opening, or the value edited down bring it back.
TEST_F(ConfigPanelTest, ALiftedTextLimitComesBackWhenTheLongValueGoes) {
  ConfigRecord unit = DefaultConfig();
  unit.TOSC = 120;
  const auto showRead = [&] {
    DeliverRead(EncodeConfigImage(unit).image);
    ASSERT_EQ(form->ED_TOSC->text(), "120");
    EXPECT_EQ(form->ED_TOSC->maxLength(), 3);
  };
  showRead();
  form->B_SetDefaultsClick();
  EXPECT_EQ(form->ED_TOSC->maxLength(), 2);
  showRead();
  form->ButtonVCPState(true);  // the panel cleared as on opening
  EXPECT_EQ(form->ED_TOSC->maxLength(), 2);
  showRead();
  form->ED_TOSC->setFocus();
  form->ED_TOSC->end(false);
  QTest::keyClick(form->ED_TOSC, Qt::Key_Backspace);
  EXPECT_EQ(form->ED_TOSC->text(), "12");
  EXPECT_EQ(form->ED_TOSC->maxLength(), 2);
  QTest::keyClick(form->ED_TOSC, Qt::Key_5);
  EXPECT_EQ(form->ED_TOSC->text(), "12");
}

TEST_F(ConfigPanelTest, InvalidReadWritesAStockRecord) {
  struct Case {
    bool ventora;
    ConfigImage image;
    const char* line;
    const ConfigRecord* written;
  };
  const ConfigImage zero{};
  const ConfigImage defaults = EncodeConfigImage(DefaultConfig()).image;  // valid, but not the preset
  for (const Case& c : {Case{false, zero, "Preparando configuração padrão...", &DefaultConfig()},
                        Case{true, zero, "Preparando configuração Ventora...", &VentoraPreset()},
                        Case{true, defaults, "Preparando configuração Ventora...", &VentoraPreset()}}) {
    NewForm();
    form->Cb_Ventora->setChecked(c.ventora);
    DeliverRead(c.image);
    const QStringList lines = LogLines(*form);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], QString::fromUtf8("Configuração inválida!"));
    EXPECT_EQ(lines[1], QString::fromUtf8(c.line));
    EXPECT_EQ(form->Log->LineColor(0), QColor(Qt::red));
    const ConfigPanelValues shown = Panel();
    EXPECT_EQ(shown.Text, PanelValuesOf(*c.written).Text);
    EXPECT_EQ(shown.Choices, PanelValuesOf(*c.written).Choices);
    ExpectTransferOf(*c.written);
    EXPECT_FALSE(form->B_SetConfig->isEnabled());
    EXPECT_TRUE(ErrorBoxes().empty());
  }
}

// The write button comes back when a configuration has been written, not when an upload ends.
TEST_F(ConfigPanelTest, AnUploadsEndLeavesTheWriteButtonAlone) {
  TDeviceInfo old;
  old.Mode = 1;
  old.Version = {4, 1, 2, 45};
  form->Engine().Receive(DeviceInfoFrame(old));  // starts the upload (the port is closed: a box)
  form->Engine().Receive(AckFrame(1888));        // and its last frame is acknowledged
  EXPECT_EQ(LogLines(*form).count(QString::fromUtf8("Atualização concluída com sucesso!")), 1);
  EXPECT_FALSE(form->B_SetConfig->isEnabled());
  form->Engine().WriteConfig(DefaultConfig());
  form->Engine().Receive(AckFrame(44));
  EXPECT_TRUE(form->B_SetConfig->isEnabled());
}

// ---- the remote command listing ----

namespace {

QStringList Utf8(std::initializer_list<const char*> lines) {
  QStringList out;
  for (const char* line : lines) out << QString::fromUtf8(line);
  return out;
}

}  // namespace

TEST_F(ConfigPanelTest, RemoteListingOnAFreshWindow) {
  form->Log->Add("old");
  Click(form->B_RemConfig);
  EXPECT_EQ(LogLines(*form), Utf8({"Comandos de configuração remota:", "Parâmetro inválido! [PING]",
                                   "Parâmetro inválido! [RS232-B]", "Parâmetro inválido! [Aceleração]",
                                   "Parâmetro inválido! [Desaceleração]", "Parâmetro inválido! [Velocidade]",
                                   "Parâmetro inválido! [Velocidade na Chuva]", "Parâmetro inválido! [Rotação do Motor]",
                                   "Parâmetro inválido! [Tempo ociosidade]",
                                   "Parâmetro inválido! [Velocidade min. Banguela]"}));
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(ConfigPanelTest, RemoteListingWorkedLines) {
  Click(form->B_SetDefaults);
  form->CB_PING->setCurrentIndex(3);
  Click(form->CB_EV_BGL_IN);  // nothing ticked for coasting
  Click(form->CB_BZ_BGL_IN);
  Click(form->CB_BZ_VMX_OUT);
  Click(form->B_RemConfig);
  const QStringList lines = LogLines(*form);
  ASSERT_EQ(lines.size(), 10);
  EXPECT_EQ(lines[1], "#CPI[30]7C_______________PING");
  EXPECT_EQ(lines[2], "#CBR[19200]4C____________RS232-B");
  EXPECT_EQ(lines[5], "#CVMX[120,5,31]21________Velocidade");
  EXPECT_EQ(lines[9], "#CBGL[40,900,5,00]0B_____Banguela");
  EXPECT_EQ(lines[6], QString::fromUtf8("#CVCH[90,5,11]07_________Velocidade na chuva"));
}

TEST_F(ConfigPanelTest, RemoteListingCodesAndTexts) {
  Click(form->B_SetDefaults);
  // Speed: "Durante" and both events: 43. Rain speed: entry, exit, event entry: 31.
  Click(form->CB_EV_VMX_OUT);
  Click(form->CB_BZ_VMX_WH);
  Click(form->CB_BZ_VCH_OUT);
  // Engine speed: nothing. Idling: event at exit only.
  Click(form->CB_BZ_RPX_IN);
  Click(form->CB_EV_RPX_IN);
  Click(form->CB_BZ_OSC_IN);
  Click(form->CB_EV_OSC_IN);
  Click(form->CB_EV_OSC_OUT);
  Type(form->ED_ACP, "007");
  Type(form->ED_VBGL, "0");
  Type(form->ED_TBGL, "99");
  Click(form->B_RemConfig);
  const QStringList lines = LogLines(*form);
  ASSERT_EQ(lines.size(), 10);
  EXPECT_TRUE(lines[3].startsWith("#CACP[007,11]"));
  EXPECT_TRUE(lines[5].startsWith("#CVMX[120,5,43]"));
  EXPECT_TRUE(lines[6].startsWith("#CVCH[90,5,31]"));
  EXPECT_TRUE(lines[7].startsWith("#CRPX[4500,5,00]"));
  EXPECT_TRUE(lines[8].startsWith("#COCS[6,7,02]"));
  // The failing speed empties its box and leaves the time alone.
  EXPECT_EQ(lines[9], QString::fromUtf8("Parâmetro inválido! [Velocidade min. Banguela]"));
  EXPECT_EQ(form->ED_VBGL->text(), "");
  EXPECT_EQ(form->ED_TBGL->text(), "99");
  EXPECT_EQ(form->ED_ACP->text(), "007");
}
