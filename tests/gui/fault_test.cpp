// Faults at every stage of the service, injected by the simulated unit: silence, refusals,
// short, garbled, doubled, split and misaddressed answers, a unit unplugged mid-transfer, an
// operating-mode notice or a new announcement in the middle. Every case ends with the
// window usable: a healthy unit connected next is served from identity to panel.
//
// The timers tick faster than in the tool (the engine counts ticks, not time), so a silent
// unit is given up in half a second instead of five.
#include "support/service_fixture.h"
#include "support/system_faults.h"

#include "config/config_record.h"
#include "transfer/transfer_core.h"

#include <algorithm>
#include <filesystem>

using namespace std::chrono_literals;

namespace {

constexpr int FastTransferTick = 50;  // ms; the tool's Timer1 ticks every 500
constexpr int FastReadTick = 50;      // ms; the tool's Timer3 ticks every 100

// Frame numbers as the unit counts them (valid frames from the tool, from 1): a 2.46 unit
// gets the five read requests first; a configuration write of the stock record follows an
// invalid read as frames 6 to 49.
constexpr std::uint32_t FirstWriteFrame = 6;

class Faults : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    form->Timer1->setInterval(FastTransferTick);
    form->Timer3->setInterval(FastReadTick);
  }

  void StartFaultyUnit(std::vector<SimFault> faults, SimOptions options = {}) {
    options.faults = std::move(faults);
    StartUnit(std::move(options));
    Connect();
  }

  // A unit whose read comes back invalid, so the stock record is written to it at once.
  void StartFaultyWrite(std::vector<SimFault> faults) {
    SimOptions options;
    options.memory = *StartImage("invalid");
    StartFaultyUnit(std::move(faults), options);
  }

  [[nodiscard]] bool WaitForBox(const QString& title, std::chrono::milliseconds timeout = 10s) {
    return WaitUntil(
        [&] {
          for (const MessageBoxCall& call : boxes->Calls())
            if (call.title == title) return true;
          return false;
        },
        timeout);
  }

  [[nodiscard]] bool WriteCompletes() { return WaitForLog("Atualização concluída com sucesso!", 15s); }

  // The next unit is served end to end on the same window, and nothing else went wrong.
  void ExpectNextUnitServed(std::size_t expectedBoxes) {
    Disconnect();
    StartUnit({});
    Connect();
    ASSERT_TRUE(WaitForLog("Leitura da configuração interna concluída!", 10s)) << Diagnose();
    EXPECT_EQ(form->ED_VMX->text(), "120");
    EXPECT_TRUE(form->B_SetConfig->isEnabled());
    EXPECT_EQ(boxes->Count(), expectedBoxes);
    Disconnect();
  }
};

}  // namespace

// ---- Silence --------------------------------------------------------------------------

TEST_F(Faults, SilenceDuringAWriteGivesUpAndLeavesTheUnitsMemoryAsItWas) {
  for (const std::uint32_t silentFrom : {FirstWriteFrame, FirstWriteFrame + 20, FirstWriteFrame + 43}) {
    SCOPED_TRACE(silentFrom);  // first frame, mid-transfer, the trailer
    boxes->Clear();
    StartFaultyWrite({{SimFaultKind::SilentFrom, silentFrom, 0}});
    const ConfigImage before = unit->Memory();
    ASSERT_TRUE(WaitForBox("ERRO #0x02")) << Diagnose();
    EXPECT_EQ(boxes->Calls().back().text,
              "A operação não foi concluida!\r\nNacks = 0\r\nCode10 = 0\r\nCode15 = 0\r\nCode20 = 0");
    EXPECT_EQ(boxes->Calls().back().icon, MsgIcon::None);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->ProgressBar1->value(), 0);
    EXPECT_EQ(unit->Memory(), before);  // a half-written image never replaces the memory
    // The frame met with silence went out four times: once and at silent ticks 3, 5 and 7.
    const auto blocks = FramesWith(*unit, CmdConfigBlock);
    ASSERT_FALSE(blocks.empty());
    const auto last = Block(blocks.back()).index;
    EXPECT_EQ(std::count_if(blocks.begin(), blocks.end(), [&](const SimFrame& f) { return Block(f).index == last; }), 4);
    Disconnect();
  }
  ExpectNextUnitServed(1);
}

TEST_F(Faults, SilenceAtEachReadRequestGivesUpWithAWarning) {
  for (std::uint32_t request = 1; request <= ReadBlockCount; ++request) {
    SCOPED_TRACE(request);
    boxes->Clear();
    StartFaultyUnit({{SimFaultKind::SilentFrom, request, 0}});
    ASSERT_TRUE(WaitForBox("ERRO #0x04")) << Diagnose();
    EXPECT_EQ(boxes->Calls().back().icon, MsgIcon::Warning);
    EXPECT_FALSE(LogLines(*form).contains("Leitura da configuração interna concluída!"));
    EXPECT_EQ(FramesWith(*unit, CmdConfigRead).size(), request + 3);  // and three resends
    Disconnect();
  }
  ExpectNextUnitServed(1);
}

TEST_F(Faults, SilenceMidUploadGivesUp) {
  SimOptions options;
  options.firmwareMinor = 45;
  StartFaultyUnit({{SimFaultKind::SilentFrom, 700, 0}}, options);
  ASSERT_TRUE(WaitForBox("ERRO #0x02", 60s)) << Diagnose();
  EXPECT_EQ(form->Engine().Transfer().Index, 700u);
  EXPECT_FALSE(LogLines(*form).contains("Atualização concluída com sucesso!"));
  ExpectNextUnitServed(1);
}

// ---- Answers that go wrong once: the engine resends and the write completes -----------

TEST_F(Faults, AWriteSurvivesOneBadAnswerOfEveryKind) {
  struct Case {
    const char* name;
    SimFaultKind kind;
    std::uint32_t param;
  };
  const Case cases[] = {
      {"refusal", SimFaultKind::Refuse, 0},          {"dropped", SimFaultKind::DropAnswer, 0},
      {"short", SimFaultKind::ShortAnswer, 0},       {"bad sum", SimFaultKind::BadSumAnswer, 0},
      {"no start byte", SimFaultKind::NoStartAnswer, 0}, {"two frames", SimFaultKind::TwoFrames, 0},
      {"split", SimFaultKind::SplitAnswer, 20},      {"addressed elsewhere", SimFaultKind::WrongAddress, 0x11},
      {"re-announcement", SimFaultKind::Reannounce, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes->Clear();
    StartFaultyWrite({{c.kind, FirstWriteFrame + 10, c.param}});
    ASSERT_TRUE(WriteCompletes()) << Diagnose();
    EXPECT_EQ(unit->Memory(), EncodeConfigImage(DefaultConfig()).image);
    EXPECT_EQ(boxes->Count(), 0u);
    Disconnect();
  }
  ExpectNextUnitServed(0);
}

TEST_F(Faults, EachBadAnswerLeavesItsOwnTrace) {
  struct Case {
    SimFaultKind kind;
    std::uint32_t param;
    std::uint32_t TransferState::*counter;  // the counter it feeds, if any
    const char* logLine;                    // or the line it writes
  };
  const Case cases[] = {
      {SimFaultKind::Refuse, 0, &TransferState::Nacks, nullptr},
      {SimFaultKind::ShortAnswer, 0, &TransferState::Code10, nullptr},
      {SimFaultKind::NoStartAnswer, 0, &TransferState::Code15, nullptr},
      {SimFaultKind::TwoFrames, 0, &TransferState::Code20, nullptr},
      {SimFaultKind::WrongAddress, 0x11, nullptr, "Destino inválido!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    boxes->Clear();
    // Silent right after the bad answer, so the counters survive into the give-up message.
    StartFaultyWrite({{c.kind, FirstWriteFrame + 3, c.param}, {SimFaultKind::SilentFrom, FirstWriteFrame + 4, 0}});
    ASSERT_TRUE(WaitForBox("ERRO #0x02")) << Diagnose();
    if (c.counter) {
      EXPECT_EQ(form->Engine().Transfer().*c.counter, 1u);
    }
    if (c.logLine) {
      EXPECT_TRUE(LogLines(*form).contains(c.logLine));
    }
    Disconnect();
  }
}

// ---- The unit unplugged, or turning up in operating mode, mid-way -----------------------

TEST_F(Faults, UnpluggedMidUploadEndsWithNoConnectionAndTheWindowRecovers) {
  SimOptions options;
  options.firmwareMinor = 45;
  StartFaultyUnit({{SimFaultKind::HangUp, 300, 0}}, options);
  ASSERT_TRUE(WaitForBox("ERRO #0x01", 10s)) << Diagnose();
  EXPECT_FALSE(form->VCP.Connected());
  EXPECT_EQ(LogLines(*form).back(), "Conexão fechada...");
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_FALSE(form->ButtonVCP->Down());
  ExpectNextUnitServed(1);
}

TEST_F(Faults, UnpluggedMidReadEndsWithNoConnection) {
  StartFaultyUnit({{SimFaultKind::HangUp, 3, 0}});
  ASSERT_TRUE(WaitForBox("ERRO #0x03", 10s)) << Diagnose();
  EXPECT_FALSE(form->VCP.Connected());
  ExpectNextUnitServed(1);
}

TEST_F(Faults, UnpluggedMidWriteLeavesTheUnitsMemoryWhole) {
  StartFaultyWrite({{SimFaultKind::HangUp, FirstWriteFrame + 30, 0}});
  const ConfigImage before = unit->Memory();
  ASSERT_TRUE(WaitForBox("ERRO #0x01", 10s)) << Diagnose();
  EXPECT_EQ(unit->Memory(), before);
  ExpectNextUnitServed(1);
}

TEST_F(Faults, OperatingModeNoticeMidWriteClosesThePort) {
  // The unit says nothing more after the notice, so the notice arrives alone: two frames in
  // one receive event would be one frame and trailing bytes.
  StartFaultyWrite({{SimFaultKind::OperatingNotice, FirstWriteFrame + 10, 50},
                    {SimFaultKind::SilentFrom, FirstWriteFrame + 11, 0}});
  ASSERT_TRUE(WaitForLog("4-Rodar o ZPiTool e abrir a porta COM criada")) << Diagnose();
  ASSERT_TRUE(WaitUntil([&] { return !form->VCP.Connected(); }, 2s));
  // The write that was under way meets the closed port at its next tick.
  ASSERT_TRUE(WaitForBox("ERRO #0x01", 5s)) << Diagnose();
  // The list stays disabled: the log tells the user to reconnect the unit by its cable alone
  // and open the port the system then creates. Here the next unit is picked by hand.
  EXPECT_FALSE(form->ComboBox1->isEnabled());
  form->ComboBox1->setEnabled(true);
  ExpectNextUnitServed(1);
}

TEST_F(Faults, GarbageBetweenFramesNeverReachesBeyondTheBuffers) {
  StartUnit({});
  Connect();
  ASSERT_TRUE(WaitForLog("Leitura da configuração interna concluída!")) << Diagnose();
  Settle();
  // Frames whose length fields and payloads lie about their size, and plain noise.
  const std::vector<SimBytes> hostile = {
      {0xBC, 0x12, 0x07, 0xFF, 0xFF, 0x00, 0x00, 0x00},            // length far past the bytes
      {0xBC, 0x12, 0x07, 0x03, 0xFB, 0x00, 0x00, 0x00},            // length 1019, bytes missing
      BuildFrame(CmdConfigRead, SimBytes{0x00, 0x01, 0x00, 0x00, 0x07, 0xD0, 0x01}, UnitToTool),  // n = 2000, 1 byte
      BuildFrame(CmdDeviceInfo, SimBytes(44, 0x01), UnitToTool),  // one byte short
      BuildFrame(CmdAck, {}, UnitToTool),
      SimBytes(300, 0xBC),
  };
  for (const SimBytes& bytes : hostile) unit->Send(bytes);
  ProcessMessages();
  Settle();
  EXPECT_TRUE(form->VCP.Connected());
  EXPECT_EQ(boxes->Count(), 0u);
  ExpectNextUnitServed(0);
}

// ---- Faults from the system ------------------------------------------------------------

namespace {

class WindowSystemFaults : public Faults, public ::testing::WithParamInterface<system_faults::Row> {
 protected:
  void SetUp() override {
    Faults::SetUp();
    // The tool's own pace: a frame is sent again only after 1.5 s of silence, so a repeat
    // here is the fault's doing and not a slow machine's.
    form->Timer1->setInterval(500);
    form->Timer3->setInterval(100);
  }
};

}  // namespace

// The window's port with the row's fault in the middle of reading an invalid configuration
// and writing the stock one: what the system recovers from changes nothing the user sees; a
// device gone ends as an unplugged unit does, the port closed and the transfer's or read's
// "no connection", and the window serves the next unit.
TEST_P(WindowSystemFaults, RecoveredFaultsGoUnseenAndAVanishedDeviceEndsAsAnUnpluggedUnit) {
  const system_faults::Row& row = GetParam();
  SimOptions options;
  options.memory = *StartImage("invalid");
  StartUnit(options);
  {
    system_faults::Armed fault(unit->DevicePath(), row, system_faults::MidService(row.call),
                               [sim = unit.get()] { sim->Send({0x00}); });
    Connect();
    if (row.Recoverable()) {
      ASSERT_TRUE(WriteCompletes()) << Diagnose();
      EXPECT_EQ(unit->Memory(), EncodeConfigImage(DefaultConfig()).image);
      EXPECT_EQ(unit->Counters().frames, 5u + 44u);  // no frame twice
      EXPECT_EQ(unit->Counters().garbageBytes, 0u);   // nor one cut
      EXPECT_EQ(boxes->Count(), 0u);
    } else {
      const auto noConnection = [&] {
        for (const MessageBoxCall& call : boxes->Calls())
          if (call.title == "ERRO #0x01" || call.title == "ERRO #0x03") return true;
        return false;
      };
      ASSERT_TRUE(WaitUntil(noConnection, 10s)) << Diagnose();
      EXPECT_FALSE(form->VCP.Connected());
      EXPECT_EQ(LogLines(*form).back(), "Conexão fechada...");
      EXPECT_TRUE(form->ComboBox1->isEnabled());
      // Besides it, at most the failure of the call that found the device gone.
      for (const MessageBoxCall& call : boxes->Calls()) {
        if (!call.title.startsWith("ERRO #0x0")) {
          EXPECT_TRUE(call.text.contains("function failed")) << call.text.toStdString();
        }
      }
      EXPECT_LE(boxes->Count(), 2u);
    }
    EXPECT_TRUE(fault.Fired());
    Disconnect();
  }
  ExpectNextUnitServed(boxes->Count());
}

INSTANTIATE_TEST_SUITE_P(Rows, WindowSystemFaults, ::testing::ValuesIn(system_faults::Rows()), system_faults::RowName);

// ---- A long day at the bench -------------------------------------------------------------

namespace {

std::size_t EntriesIn(const char* folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

}  // namespace

// A hundred connect-service-disconnect cycles leave no file, thread or object behind (memory
// is LeakSanitizer's to judge when the process ends).
TEST_F(Faults, AHundredCyclesLeaveNothingBehind) {
  StartUnit({});
  std::size_t fds = 0, threads = 0, objects = 0;
  for (int cycle = 0; cycle < 100; ++cycle) {
    Connect();
    ASSERT_TRUE(WaitForLog("Leitura da configuração interna concluída!", 10s)) << "cycle " << cycle << "\n" << Diagnose();
    const std::uint32_t closes = unit->Counters().disconnections;
    Disconnect();
    // The unit sees a close only as a hang-up of its line: an opening that came first would be
    // taken for the same connection, and the unit, already heard from, would not announce again.
    ASSERT_TRUE(WaitUntil([&] { return unit->Counters().disconnections > closes; })) << "cycle " << cycle;
    ProcessMessages();
    if (cycle == 1) {  // after the first cycles have created what lives as long as the window
      fds = EntriesIn("/proc/self/fd");
      threads = EntriesIn("/proc/self/task");
      objects = form->findChildren<QObject*>().size();
    }
  }
  EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
  EXPECT_EQ(EntriesIn("/proc/self/task"), threads);
  EXPECT_EQ(form->findChildren<QObject*>().size(), objects);
  EXPECT_EQ(boxes->Count(), 0u);
}
