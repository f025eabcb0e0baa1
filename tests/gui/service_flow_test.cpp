// The automatic service flow end to end: the real window (offscreen) and the real serial
// port against the simulated unit on a pseudo-terminal. Only the message boxes are recorded.
#include "service/service_engine.h"
#include "support/service_fixture.h"

#include "config/config_record.h"
#include "protocol/service_rules.h"
#include "sim/sim_unit.h"
#include "transfer/firmware.h"
#include "transfer/transfer_core.h"

#include <QComboBox>

#include <algorithm>
#include <set>

using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t Base = 0x00010000;

ConfigImage InvalidImage() { return *StartImage("invalid"); }

using ServiceFlow = ServiceTest;

}  // namespace

TEST_F(ServiceFlow, OldFirmwareIsUploadedThenTheRestartedUnitIsReadAndShown) {
  SimOptions options;
  options.kind = 4;
  options.firmwareMajor = 2;
  options.firmwareMinor = 45;
  StartUnit(options);
  Connect();
  ASSERT_TRUE(WaitForLog("Leitura da configuração interna concluída!", 60s)) << Diagnose();

  // 1888 block frames of kind 1, one token, frame 1887 carrying the last 20 bytes.
  const auto blocks = FramesWith(*unit, CmdFirmwareBlock);
  std::set<std::uint16_t> tokens, indices;
  for (const SimFrame& f : blocks) {
    tokens.insert(Block(f).token);
    indices.insert(Block(f).index);
  }
  EXPECT_EQ(tokens.size(), 1u);
  EXPECT_EQ(indices.size(), 1888u);
  const auto frame1887 = std::find_if(blocks.begin(), blocks.end(), [](const SimFrame& f) { return Block(f).index == 1887; });
  ASSERT_NE(frame1887, blocks.end());
  EXPECT_EQ(Block(*frame1887).data.size(), 20u);
  const auto image = FirmwareImage();
  EXPECT_TRUE(std::equal(Block(*frame1887).data.begin(), Block(*frame1887).data.end(), image.end() - 20));
  const BlockPayload last = Block(blocks.back());
  EXPECT_EQ(last.index, 1888);
  EXPECT_EQ(std::vector<std::uint8_t>(last.data.begin(), last.data.end()),
            (std::vector<std::uint8_t>{0xC0, 0x00, 0x78, 0xEB, 0x6A}));

  // Five read requests: base .. base + 2000, 500 x 4 and 32.
  const auto reads = FramesWith(*unit, CmdConfigRead);
  ASSERT_EQ(reads.size(), 5u);
  for (std::size_t i = 0; i < reads.size(); ++i) {
    const ConfigReadRequest r = *ParseConfigReadRequest(reads[i].Payload());
    EXPECT_EQ(r.address, Base + 500 * i);
    EXPECT_EQ(r.count, i == 4 ? 32 : 500);
  }

  const QStringList log = LogLines(*form);
  const QStringList expected = {
      "Conexão aberta...",
      "ZPi v4.1.2.45",
      "Id: 00000246 00C0FFEE 5A500001",
      "Iniciando atualização...",
      "Atualizando firmware...",
      "Atualização concluída com sucesso!",
      "",
      "ZPi v4.1.2.46",
      "Id: 00000246 00C0FFEE 5A500001",
      "O ZPi está atualizado!",
      "Buscando configuração interna...",
      "Leitura da configuração interna concluída!",
  };
  EXPECT_EQ(log, expected);

  // The unit's (default) configuration is on the panel; the 2.46 unit joined the release list.
  EXPECT_EQ(form->CB_PING->currentText(), "180");
  EXPECT_EQ(form->ED_VMX->text(), "120");
  EXPECT_EQ(form->ED_RPX->text(), "4500");
  EXPECT_TRUE(form->B_SetConfig->isEnabled());
  EXPECT_EQ(IdListLines(*form), QStringList{"00000246 00C0FFEE 5A500001"});
  EXPECT_EQ(form->ProgressBar1->value(), 0);
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(ServiceFlow, InvalidConfigurationIsReplacedByTheStockRecord) {
  struct Case {
    bool ventora;
    const char* line;
    const ConfigRecord& record;
  };
  for (const Case& c : {Case{false, "Preparando configuração padrão...", DefaultConfig()},
                        Case{true, "Preparando configuração Ventora...", VentoraPreset()}}) {
    SCOPED_TRACE(c.line);
    SimOptions options;
    options.memory = InvalidImage();
    StartUnit(options);
    form->Cb_Ventora->setChecked(c.ventora);
    Connect();
    ASSERT_TRUE(WaitForLog("Atualização concluída com sucesso!")) << LogLines(*form).join("\n").toStdString();
    const QStringList log = LogLines(*form);
    const auto at = log.indexOf("Configuração inválida!");
    ASSERT_GE(at, 0);
    EXPECT_EQ(log.value(at + 1), c.line);
    EXPECT_EQ(log.value(at + 2), "Iniciando atualização...");
    EXPECT_EQ(unit->Memory(), EncodeConfigImage(c.record).image);
    EXPECT_EQ(form->Log->Color(), QColor(255, 0, 0));
    EXPECT_TRUE(form->B_SetConfig->isEnabled());
    // A configuration transfer: 44 frames of kind 6.
    EXPECT_EQ(FramesWith(*unit, CmdConfigBlock).size(), 44u);
    form->ButtonVCP->click();  // close before the next unit
    ASSERT_FALSE(form->VCP.Connected());
    unit.reset();
  }
}

TEST_F(ServiceFlow, AWriteFromThePanelReachesTheUnit) {
  StartUnit({});
  Connect();
  ASSERT_TRUE(WaitForLog("Leitura da configuração interna concluída!"));
  form->ED_VMX->setText("99");
  form->CB_B232->setCurrentIndex(3);
  form->CB_BZ_VMX_WH->setChecked(true);
  form->B_SetConfig->click();
  ASSERT_TRUE(WaitForLog("Atualização concluída com sucesso!"));
  const DecodedConfig written = DecodeConfigImage(unit->Memory(), false);
  EXPECT_EQ(written.errors, 0u);
  EXPECT_EQ(written.record.VMX, 99);
  EXPECT_EQ(written.record.B232, 1152);
  EXPECT_TRUE(written.record.VMX_Alerts.BZ_WH);
  EXPECT_FALSE(written.record.VMX_Alerts.BZ_IN);
  EXPECT_TRUE(LogLines(*form).contains("Atualizando configuração..."));
}

TEST_F(ServiceFlow, PortClosesItselfAfterAWriteOnlyForKinds4And41AtTheCarriedFirmware) {
  struct Case {
    std::uint8_t kind;
    bool closes;
  };
  for (const Case c : {Case{41, true}, Case{3, false}, Case{4, true}}) {
    SCOPED_TRACE(int(c.kind));
    SimOptions options;
    options.kind = c.kind;
    options.memory = InvalidImage();  // so that a write follows the read at once
    StartUnit(options);
    form->Cb_COMAutoClose->setChecked(true);
    Connect();
    ASSERT_TRUE(WaitForLog("Atualização concluída com sucesso!"));
    if (c.closes) {
      EXPECT_TRUE(WaitUntil([&] { return !form->VCP.Connected(); }, 2s));
      EXPECT_EQ(LogLines(*form).back(), "Conexão fechada...");
      EXPECT_TRUE(form->ComboBox1->isEnabled());
      EXPECT_FALSE(form->ButtonVCP->Down());
    } else {
      EXPECT_FALSE(WaitUntil([&] { return !form->VCP.Connected(); }, 300ms));
      form->ButtonVCP->click();
    }
    ASSERT_FALSE(form->VCP.Connected());
    unit.reset();
  }
}

TEST_F(ServiceFlow, OperatingModeGetsTheNoticeAndThePortCloses) {
  SimOptions options;
  options.mode = 0;
  StartUnit(options);
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return !form->VCP.Connected(); }, 5s));
  const QStringList expected = {
      "Conexão aberta...",
      "O ZPi foi detectado em modo de operação!",
      "1-Desconectar todos os chicotes",
      "2-Conectar apenas o cabo USB",
      "3-Aguardar o Windows criar a porta (5 segundos)",
      "4-Rodar o ZPiTool e abrir a porta COM criada",
      "Conexão fechada...",
  };
  EXPECT_EQ(LogLines(*form), expected);
  EXPECT_FALSE(form->ComboBox1->isEnabled());  // reconnect by cable, then open the new port
  EXPECT_TRUE(unit->Frames().empty());
}

TEST_F(ServiceFlow, OperatingModeNoticeFromARunningUnitClosesThePort) {
  SimOptions options;
  // The notice arrives on its own (the unit answers nothing after it): two frames in one
  // receive event would count as one frame and trailing bytes.
  options.faults = {{SimFaultKind::OperatingNotice, 2, 50}, {SimFaultKind::SilentFrom, 3, 0}};
  StartUnit(options);
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return !form->VCP.Connected(); }, 5s));
  EXPECT_TRUE(LogLines(*form).contains("4-Rodar o ZPiTool e abrir a porta COM criada"));
}

TEST_F(ServiceFlow, AnUnknownKindGetsOnlyItsIdentityLine) {
  SimOptions options;
  options.kind = 5;
  StartUnit(options);
  Connect();
  ASSERT_TRUE(WaitForLog("Id: 00000246 00C0FFEE 5A500001", 3s));
  // The unit keeps announcing (nobody talks to it); every later announcement is ignored.
  ASSERT_TRUE(unit->WaitForAnnouncements(3, 3s));
  ProcessMessages();
  EXPECT_EQ(LogLines(*form), (QStringList{"Conexão aberta...", "ZPi v5.1.2.46", "Id: 00000246 00C0FFEE 5A500001"}));
  EXPECT_TRUE(unit->Frames().empty());
}

TEST_F(ServiceFlow, DiscontinuedKindIsWarnedInRedAndStillRead) {
  SimOptions options;
  options.kind = 2;
  StartUnit(options);
  Connect();
  ASSERT_TRUE(WaitForLog("Leitura da configuração interna concluída!"));
  EXPECT_TRUE(LogLines(*form).contains(
      "Essa versão do zpi está descontinuada, entre em contato com a Kestrona para mais informações!"));
  EXPECT_EQ(form->Log->Color(), QColor(255, 0, 0));
  // The warning's own line is red, and the identity above it is not.
  const int warning = static_cast<int>(LogLines(*form).indexOf(
      "Essa versão do zpi está descontinuada, entre em contato com a Kestrona para mais informações!"));
  EXPECT_EQ(form->Log->LineColor(warning), QColor(255, 0, 0));
  EXPECT_EQ(form->Log->LineColor(warning - 1), QColor(Qt::black));
  EXPECT_TRUE(FramesWith(*unit, CmdFirmwareBlock).empty());
}

TEST_F(ServiceFlow, ASecondIdentityIsIgnoredUntilThePortReopens) {
  StartUnit({});
  Connect();
  ASSERT_TRUE(WaitForLog("Leitura da configuração interna concluída!"));
  Settle();
  // Another unit's identity on the same connection changes nothing.
  TDeviceInfo other = unit->Info();
  other.Id = {1, 2, 3};
  unit->Send(BuildFrame(CmdDeviceInfo, DeviceInfoPayload(other), UnitToTool));
  const QStringList before = LogLines(*form);
  EXPECT_FALSE(WaitUntil([&] { return LogLines(*form) != before; }, 300ms));
  EXPECT_EQ(form->Engine().DeviceInfo().Id, unit->Info().Id);

  // Closed and opened again: the unit's next announcement is acted on.
  form->ButtonVCP->click();
  ASSERT_FALSE(form->VCP.Connected());
  form->ButtonVCP->click();
  ASSERT_TRUE(form->VCP.Connected());
  ASSERT_TRUE(WaitForLog("O ZPi está atualizado!", 5s));
  // The same unit again: the release list does not repeat it.
  EXPECT_EQ(IdListLines(*form).size(), 1);
}
