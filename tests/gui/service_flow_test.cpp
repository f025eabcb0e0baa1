// The automatic service flow end to end: the real window (offscreen) and the real serial
// port against the simulated unit on a pseudo-terminal. Only the message boxes are recorded.
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
  EXPECT_EQ(form->DeviceInfo.Id, unit->Info().Id);

  // Closed and opened again: the unit's next announcement is acted on.
  form->ButtonVCP->click();
  ASSERT_FALSE(form->VCP.Connected());
  form->ButtonVCP->click();
  ASSERT_TRUE(form->VCP.Connected());
  ASSERT_TRUE(WaitForLog("O ZPi está atualizado!", 5s));
  // The same unit again: the release list does not repeat it.
  EXPECT_EQ(IdListLines(*form).size(), 1);
}

TEST_F(ServiceFlow, ShortAndMisaddressedFramesAreCountedOrReported) {
  StartUnit({});
  Connect();
  ASSERT_TRUE(WaitForLog("Leitura da configuração interna concluída!"));
  Settle();
  unit->Send({0xBC, 0x12, 0x02});                                      // short
  ASSERT_TRUE(WaitUntil([&] { return form->Transfer.Code10 == 1; }, 2s));
  unit->Send({0x55, 0x12, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // no start byte
  ASSERT_TRUE(WaitUntil([&] { return form->Transfer.Code15 == 1; }, 2s));
  unit->Send(BuildFrame(CmdOperatingMode + 100, {}, 0x11));           // addressed elsewhere
  ASSERT_TRUE(WaitForLog("Destino inválido!", 2s));
  // A read answer that would land outside the receive image is dropped without a trace.
  std::vector<std::uint8_t> outside = ConfigReadRequestPayload(Base + 2000, 40);
  outside.resize(outside.size() + 40, 0xEE);
  const ConfigImage before = form->RxImage;
  unit->Send(BuildFrame(CmdConfigRead, outside, UnitToTool));
  const std::uint8_t halfIndex[] = {0x00};
  unit->Send(BuildFrame(CmdAck, halfIndex, UnitToTool));  // an acknowledgement without its index
  ProcessMessages();
  EXPECT_FALSE(WaitUntil([&] { return form->RxImage != before; }, 200ms));
  EXPECT_EQ(boxes->Count(), 0u);
}

// ---- The engine, tick by tick, against a unit that never answers -------------------------

class EngineTicks : public ServiceFlow {
 protected:
  void SetUp() override {
    ServiceFlow::SetUp();
    SimOptions options;
    options.kind = 5;  // identity only: the tool starts nothing by itself
    options.faults = {{SimFaultKind::SilentFrom, 1, 0}};
    StartUnit(options);
    Connect();
    ASSERT_TRUE(WaitForLog("ZPi v5.1.2.46", 3s));
    // The timers stay enabled, as the engine expects, but never fire by themselves.
    form->Timer1->setInterval(3600 * 1000);
    form->Timer3->setInterval(3600 * 1000);
  }

  void StartTransfer(std::span<const std::uint8_t> bytes) {
    form->Transfer.Kind = TransferConfig;
    form->Transfer.Data = bytes;
    form->Transfer.Length = static_cast<std::uint32_t>(bytes.size());
    form->Transfer.Trailer = MakeTrailer(bytes);
    form->TxInit();
  }

  // Frames the unit has received, once `count` are in.
  std::vector<SimFrame> Received(std::size_t count) {
    EXPECT_TRUE(unit->WaitForFrames(static_cast<std::uint32_t>(count), 2s));
    ProcessMessages();
    return unit->Frames();
  }

  std::vector<std::uint8_t> data = std::vector<std::uint8_t>(100, 0x42);
};

TEST_F(EngineTicks, SilenceBringsResendsAtThreeFiveSevenAndGivesUpAtTen) {
  StartTransfer(data);
  ASSERT_EQ(Received(1).size(), 1u);
  EXPECT_TRUE(form->Timer1->isActive());
  std::vector<std::size_t> framesAfterTick;
  for (int tick = 1; tick <= 10; ++tick) {
    form->Timer1Timer();
    framesAfterTick.push_back(unit->Frames().size());
  }
  (void)Received(4);
  EXPECT_EQ(unit->Frames().size(), 4u);  // frame 1 and its three resends
  for (const SimFrame& f : unit->Frames()) EXPECT_EQ(Block(f).index, 1);
  EXPECT_FALSE(form->Timer1->isActive());
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_EQ(boxes->Calls()[0].title, "ERRO #0x02");
  EXPECT_EQ(boxes->Calls()[0].text, "A operação não foi concluida!\r\nNacks = 0\r\nCode10 = 0\r\nCode15 = 0\r\nCode20 = 0");
  EXPECT_EQ(boxes->Calls()[0].icon, MsgIcon::None);
  EXPECT_EQ(form->ProgressBar1->value(), 0);
}

TEST_F(EngineTicks, RefusalsAndShortReadsCountAsSilentTicksAndShowInTheGiveUp) {
  StartTransfer(data);
  ASSERT_EQ(Received(1).size(), 1u);
  const auto refusal = BuildFrame(CmdRefusal, {}, UnitToTool);
  unit->Send(refusal);
  ASSERT_TRUE(WaitUntil([&] { return form->Transfer.Nacks == 1; }, 2s));
  unit->Send(refusal);
  ASSERT_TRUE(WaitUntil([&] { return form->Transfer.Nacks == 2; }, 2s));
  EXPECT_EQ(form->Transfer.SilentTicks, 2);
  form->Timer1Timer();  // the third silent tick resends
  ASSERT_EQ(Received(2).size(), 2u);
  unit->Send({0x01, 0x02});  // a short read ticks as well
  ASSERT_TRUE(WaitUntil([&] { return form->Transfer.Code10 == 1; }, 2s));
  while (form->Timer1->isActive()) form->Timer1Timer();
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_EQ(boxes->Calls()[0].text, "A operação não foi concluida!\r\nNacks = 2\r\nCode10 = 1\r\nCode15 = 0\r\nCode20 = 0");
}

TEST_F(EngineTicks, ASecondTxInitRestartsWithFrameOneAndANewToken) {
  const char* text = "31/01/202414:05:09";
  SetDateTimeHook([text] { return QString(text); });
  form->Transfer.TokenShift = 5;
  std::uint8_t shift = 6;
  const auto second = MakeTransferToken(0xFFFF, text, shift, [] { return 0u; });
  StartTransfer(data);
  const std::vector<std::uint8_t> other(60, 0x17);
  StartTransfer(other);
  const auto frames = Received(2);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(Block(frames[0]).token, 0x4000);  // shift 5
  EXPECT_EQ(Block(frames[1]).token, second);  // shift 6
  EXPECT_EQ(Block(frames[1]).index, 1);
  EXPECT_EQ(Block(frames[1]).count, 3);
  EXPECT_EQ(Block(frames[1]).data[0], 0x17);
  SetDateTimeHook(nullptr);
}

TEST_F(EngineTicks, ReadGivesUpWithAWarningAfterTenSilentTicks) {
  form->B_GetConfigClick();
  ASSERT_EQ(Received(1).size(), 1u);
  while (form->Timer3->isActive()) form->Timer3Timer();
  EXPECT_EQ(Received(4).size(), 1u + 3u);
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_EQ(boxes->Calls()[0].title, "ERRO #0x04");
  EXPECT_EQ(boxes->Calls()[0].text, "A operação não pode ser concluida!");
  EXPECT_EQ(boxes->Calls()[0].icon, MsgIcon::Warning);
}

TEST_F(EngineTicks, AClosedPortEndsTransfersAndReadsWithTheirMessages) {
  form->ButtonVCP->click();
  ASSERT_FALSE(form->VCP.Connected());
  form->Log->Clear();
  StartTransfer(data);
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_EQ(boxes->Calls()[0].title, "ERRO #0x01");
  EXPECT_EQ(boxes->Calls()[0].text, "Não há conexão ativa!");
  EXPECT_TRUE(LogLines(*form).isEmpty());

  form->B_GetConfigClick();
  ASSERT_EQ(boxes->Count(), 2u);
  EXPECT_EQ(boxes->Calls()[1].title, "ERRO #0x03");
  EXPECT_EQ(LogLines(*form), QStringList{"Buscando configuração interna..."});
  EXPECT_TRUE(unit->Frames().empty());
}

TEST_F(EngineTicks, JumpWritesItsEightBytesOnlyWhileThePortIsOpen) {
  form->B_FwJumpClick();
  const auto frames = Received(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, (SimBytes{0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}));
  form->ButtonVCP->click();
  form->B_FwJumpClick();
  EXPECT_FALSE(unit->WaitForFrames(2, 100ms));
}

TEST_F(EngineTicks, FirmwareUploadIsRefusedForKindsThatDoNotTakeIt) {
  // A kind 5 unit: the data of an earlier transfer must never go out as firmware.
  StartTransfer(data);
  form->B_FwTxClick();
  EXPECT_TRUE(FramesWith(*unit, CmdFirmwareBlock).empty());
}
