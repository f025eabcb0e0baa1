// The simulated unit without a line: frames in, writes out, at times the test chooses.
#include "sim/sim_model.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

// Std
#include <numeric>
#include <optional>

namespace {

class SimModelTest : public ::testing::Test {
 protected:
  // A unit whose port the tool opened at `now`, up to the end of its first announcement.
  void Open(SimOptions options = Quick()) {
    unit.emplace(std::move(options));
    unit->OnOpened(now);
    now += unit->Options().settleDelay;
    const auto first = unit->Tick(now).writes;
    ASSERT_EQ(first.size(), 1u) << "no announcement";
    announcement = first[0].bytes;
  }
  // Opens and talks to the unit once (frame 1), so that it stops announcing itself.
  void OpenAndTalk() {
    Open();
    ASSERT_TRUE(Ask(ReadRequest(Base, 1)));
  }
  // What the unit writes about `frame`, received at `now`.
  std::vector<SimWrite> Send(const SimBytes& frame) { return unit->OnFrame(frame, now).writes; }
  // The one write that answers `frame`; empty when there is none (or more than one).
  std::optional<SimBytes> Ask(const SimBytes& frame) {
    auto writes = Send(frame);
    if (writes.size() != 1) return std::nullopt;
    return std::move(writes[0].bytes);
  }
  // Sends every frame and expects an acknowledgement of each; returns the answer to the last.
  std::optional<SimBytes> RunTransfer(const std::vector<SimBytes>& frames) {
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
      auto answer = Ask(frames[i]);
      EXPECT_EQ(answer, AckFrame(static_cast<std::uint16_t>(i + 1))) << "frame " << i + 1;
      if (answer != AckFrame(static_cast<std::uint16_t>(i + 1))) return answer;
    }
    return Ask(frames.back());
  }

  std::optional<SimModel> unit;
  SimClock::time_point now = SimClock::time_point{} + 1h;
  SimBytes announcement;
};

// ---- Announcements -------------------------------------------------------------------------

TEST_F(SimModelTest, AnnouncesItsIdentityOnOpeningAndUntilTalkedTo) {
  for (const std::uint8_t mode : {1, 0}) {
    SCOPED_TRACE(mode);
    SimOptions o = Quick();
    o.mode = mode;
    o.kind = 41;
    o.versionByte2 = 7;
    o.firmwareMajor = 2;
    o.firmwareMinor = 45;
    o.id = {0x11223344, 0x55667788, 0x99AABBCC};
    o.textA = "TEXT-A-IS-LONGER-THAN-12";
    o.textB = "B";
    o.announcePeriod = 100ms;
    SimModel model(o);
    const auto opened = now;
    model.OnOpened(opened);
    EXPECT_TRUE(model.Tick(opened + 19ms).writes.empty()) << "settling";
    EXPECT_EQ(model.NextDeadline(), opened + 20ms);

    // The layout, spelled out: BC 12 04 00 2D, mode, id lowest word first, texts, versions, base.
    SimBytes expected{0xBC, 0x12, 0x04, 0x00, 0x2D, mode, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                      0x99, 0xAA, 0xBB, 0xCC};
    for (char c : std::string("TEXT-A-IS-LO")) expected.push_back(static_cast<std::uint8_t>(c));
    expected.push_back('B');
    expected.insert(expected.end(), 11, 0x00);
    expected.insert(expected.end(), {41, 7, 2, 45, 0x08, 0x04, 0x00, 0x00});
    PutU24(expected, FrameSum(expected));
    const std::vector<SimWrite> announced{{opened + 20ms, expected, true}};
    EXPECT_EQ(model.Tick(opened + 20ms).writes, announced);
    const auto info = ParseDeviceInfo(Payload(expected));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Id, o.id);

    // Again every period while the tool says nothing.
    EXPECT_TRUE(model.Tick(opened + 119ms).writes.empty());
    EXPECT_EQ(model.Tick(opened + 120ms).writes, (std::vector<SimWrite>{{opened + 120ms, expected, true}}));
    EXPECT_EQ(model.NextDeadline(), opened + 220ms);

    // Talked to: the announcements stop.
    ASSERT_FALSE(model.OnFrame(ReadRequest(Base, 4), opened + 150ms).writes.empty());
    EXPECT_EQ(model.NextDeadline(), std::nullopt);
    EXPECT_TRUE(model.Tick(opened + 10s).writes.empty());
  }
}

// ---- Block transfers -----------------------------------------------------------------------

TEST_F(SimModelTest, ConfigurationReplacesMemoryOnlyWhenTheTrailerChecks) {
  Open();
  const ConfigImage before = unit->Memory();
  const auto encoded = EncodeConfigImage(Edited());
  TransferTrailer wrong = encoded.trailer;
  wrong[4] ^= 0x01;
  auto frames = TransferFrames(CmdConfigBlock, 0x4000, encoded.image, wrong);
  ASSERT_EQ(frames.size(), 44u);
  EXPECT_EQ(RunTransfer(frames), RefusalFrame());
  EXPECT_EQ(unit->Counters().lastRefusal, SimRefusal::BadTrailer);
  EXPECT_EQ(unit->Memory(), before) << "a refused image must not land";

  // The same trailer frame again, now right: the same index is a resend.
  EXPECT_EQ(Ask(BlockFrame(CmdConfigBlock, 0x4000, 44, 44, encoded.trailer)), AckFrame(44));
  EXPECT_EQ(unit->Memory(), encoded.image);
  EXPECT_EQ(unit->Counters().configWrites, 1u);
  EXPECT_EQ(unit->Firmware(), std::nullopt);
  // Read back through the unit's own answers.
  EXPECT_EQ(Ask(ReadRequest(Base, 500)), ReadAnswer(encoded.image, 0, 500));
}

TEST_F(SimModelTest, AlterWriteStoresOneByteHigherFromItsFrameOn) {
  SimOptions o = Quick();
  o.faults = {{SimFaultKind::AlterWrite, 45, 0}, {SimFaultKind::AlterWrite, 89, 18}};
  Open(o);
  const auto encoded = EncodeConfigImage(Edited());
  const auto frames = TransferFrames(CmdConfigBlock, 0x4000, encoded.image, encoded.trailer);
  ASSERT_EQ(RunTransfer(frames), AckFrame(44));
  EXPECT_EQ(unit->Memory(), encoded.image) << "frames 1 to 44: stored as sent";

  // Frames 45 to 88: acknowledged, stored with VMX one higher, still a valid image.
  ASSERT_EQ(RunTransfer(frames), AckFrame(44));
  ConfigRecord expected = Edited();
  ++expected.VMX;
  DecodedConfig stored = DecodeConfigImage(unit->Memory(), false);
  EXPECT_EQ(stored.errors, 0u);
  EXPECT_EQ(stored.record, expected);
  EXPECT_EQ(unit->Memory(), EncodeConfigImage(expected).image);

  // From frame 89 both: also byte 18, VMX's code, 11 becoming 12 (the event at exit, not entry).
  ASSERT_EQ(RunTransfer(frames), AckFrame(44));
  expected.VMX_Alerts.EV_IN = false;
  expected.VMX_Alerts.EV_OUT = true;
  stored = DecodeConfigImage(unit->Memory(), false);
  EXPECT_EQ(stored.errors, 0u);
  EXPECT_EQ(stored.record, expected);
  EXPECT_EQ(unit->Counters().configWrites, 3u);
}

TEST_F(SimModelTest, AConfigurationOfAnotherLengthIsRefused) {
  Open();
  const ConfigImage before = unit->Memory();
  const SimBytes data(100, 0x5A);
  TransferTrailer trailer{};
  std::uint32_t sum = 0;
  for (auto b : data) {
    trailer[0] ^= b;
    sum += b;
  }
  trailer[1] = static_cast<std::uint8_t>(sum >> 24);
  trailer[2] = static_cast<std::uint8_t>(sum >> 16);
  trailer[3] = static_cast<std::uint8_t>(sum >> 8);
  trailer[4] = static_cast<std::uint8_t>(sum);
  EXPECT_EQ(RunTransfer(TransferFrames(CmdConfigBlock, 7, data, trailer)), RefusalFrame());
  EXPECT_EQ(unit->Counters().lastRefusal, SimRefusal::WrongLength);
  EXPECT_EQ(unit->Memory(), before);
}

TEST_F(SimModelTest, BlocksOutOfTurnAreRefusedAndTheTransferGoesOn) {
  Open();
  const auto encoded = EncodeConfigImage(Edited());
  const auto frames = TransferFrames(CmdConfigBlock, 0x1234, encoded.image, encoded.trailer);
  const std::span<const std::uint8_t> block4(encoded.image.data() + 144, 48);
  // Frames 1 to 3 are in; each case is refused and leaves the transfer where it was.
  struct Case {
    const char* name;
    SimBytes frame;
    SimRefusal why;
  } cases[] = {
      {"wrong token", BlockFrame(CmdConfigBlock, 0x1235, 4, 44, block4), SimRefusal::WrongToken},
      {"index skipped", BlockFrame(CmdConfigBlock, 0x1234, 5, 44, block4), SimRefusal::WrongIndex},
      {"index going back", BlockFrame(CmdConfigBlock, 0x1234, 2, 44, block4), SimRefusal::WrongIndex},
      {"index 0", BlockFrame(CmdConfigBlock, 0x1234, 0, 44, block4), SimRefusal::WrongIndex},
      {"other count", BlockFrame(CmdConfigBlock, 0x1234, 4, 45, block4), SimRefusal::WrongCount},
      {"index above count", BlockFrame(CmdConfigBlock, 0x1234, 45, 44, block4), SimRefusal::WrongCount},
      {"short block", BlockFrame(CmdConfigBlock, 0x1234, 4, 44, block4.first(47)), SimRefusal::WrongSize},
      {"trailer frame out of turn", BlockFrame(CmdConfigBlock, 0x1234, 44, 44, block4.first(4)), SimRefusal::WrongIndex},
      {"firmware block in a configuration transfer", BlockFrame(CmdFirmwareBlock, 0x1234, 4, 44, block4),
       SimRefusal::WrongKind},
      {"index 1 that does not fit cannot restart", BlockFrame(CmdConfigBlock, 0x1234, 1, 44, {}),
       SimRefusal::WrongSize},
      {"payload without a header", BuildFrame(CmdConfigBlock, SimBytes{0x12, 0x34, 0x00}), SimRefusal::BadPayload},
  };
  for (std::size_t i = 0; i < 3; ++i) ASSERT_EQ(Ask(frames[i]), AckFrame(static_cast<std::uint16_t>(i + 1)));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Ask(c.frame), RefusalFrame());
    EXPECT_EQ(unit->Counters().lastRefusal, c.why);
  }
  // A resend of frame 3 and then the rest are fine.
  EXPECT_EQ(Ask(frames[2]), AckFrame(3));
  for (std::size_t i = 3; i < frames.size(); ++i) {
    ASSERT_EQ(Ask(frames[i]), AckFrame(static_cast<std::uint16_t>(i + 1))) << i;
  }
  EXPECT_EQ(unit->Memory(), encoded.image);
}

TEST_F(SimModelTest, ALaterBlockWithoutATransferIsRefused) {
  Open();
  const SimBytes data(48, 1);
  EXPECT_EQ(Ask(BlockFrame(CmdConfigBlock, 9, 2, 44, data)), RefusalFrame());
  EXPECT_EQ(unit->Counters().lastRefusal, SimRefusal::NoTransfer);
}

TEST_F(SimModelTest, ClosingThePortOrHangingUpDropsATransferUnderWay) {
  const auto encoded = EncodeConfigImage(Edited());
  const auto frames = TransferFrames(CmdConfigBlock, 0x0101, encoded.image, encoded.trailer);
  for (const bool hangUp : {false, true}) {
    SCOPED_TRACE(hangUp ? "hang-up" : "closed");
    SimOptions o = Quick();
    if (hangUp) o.faults = {{SimFaultKind::HangUp, 3, 0}};
    Open(o);
    ASSERT_EQ(Ask(frames[0]), AckFrame(1));
    ASSERT_EQ(Ask(frames[1]), AckFrame(2));
    if (hangUp) {
      const SimReply reply = unit->OnFrame(frames[2], now);
      EXPECT_TRUE(reply.hangUp);
      EXPECT_TRUE(reply.writes.empty());
    } else {
      unit->OnClosed();
    }
    EXPECT_FALSE(unit->ToolConnected());
    unit->OnOpened(now);
    EXPECT_EQ(Ask(frames[2]), RefusalFrame());
    EXPECT_EQ(unit->Counters().lastRefusal, SimRefusal::NoTransfer);
  }
}

TEST_F(SimModelTest, FirmwareTrailerRestartsTheUnitAt246AfterTheAnswer) {
  SimOptions o = Quick();
  o.firmwareMajor = 2;
  o.firmwareMinor = 40;
  o.announcePeriod = 200ms;
  o.ackDelay = 30ms;
  Open(o);
  SimBytes firmware(100);
  std::iota(firmware.begin(), firmware.end(), std::uint8_t{7});
  // Exclusive OR and sum of the bytes 7..106, worked out aside: 0x6C and 5650 = 0x1612.
  const TransferTrailer trailer{0x6C, 0x00, 0x00, 0x16, 0x12};
  auto frames = TransferFrames(CmdFirmwareBlock, 0xBEEF, firmware, trailer);
  ASSERT_EQ(frames.size(), 4u);
  ASSERT_EQ(RunTransfer(frames), AckFrame(4));
  EXPECT_EQ(unit->Counters().restarts, 1u);
  EXPECT_EQ(unit->Firmware(), firmware);
  EXPECT_TRUE(unit->Restarting());

  // While it restarts it answers nothing, not even a read; the silence starts once the
  // acknowledgement is out (30 ms) and lasts the restart delay (120 ms).
  EXPECT_TRUE(Send(ReadRequest(Base, 4)).empty());
  const auto end = now + 150ms;
  EXPECT_EQ(unit->NextDeadline(), end);
  EXPECT_TRUE(unit->Tick(end - 1ms).writes.empty());
  const auto after = unit->Tick(end).writes;
  ASSERT_EQ(after.size(), 1u) << "the first thing after the restart is an announcement";
  EXPECT_FALSE(unit->Restarting());
  const auto info = ParseDeviceInfo(Payload(after[0].bytes));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Version[2], 2);
  EXPECT_EQ(info->Version[3], 46);
  EXPECT_EQ(info->Version[0], 4);
  // And it keeps announcing until talked to.
  EXPECT_EQ(unit->Tick(end + 200ms).writes, (std::vector<SimWrite>{{end + 200ms, after[0].bytes, true}}));
  EXPECT_EQ(unit->Info().Version[3], 46);
}

TEST_F(SimModelTest, JumpIsRecordedAndNotAnswered) {
  Open();
  EXPECT_TRUE(Send(BuildFrame(CmdJump, {})).empty());
  EXPECT_EQ(unit->Counters().jumps, 1u);
  const auto& frames = unit->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, (SimBytes{0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}));
  EXPECT_EQ(frames[0].number, 1u);
  EXPECT_EQ(frames[0].at, now);
}

// ---- Reads ---------------------------------------------------------------------------------

TEST_F(SimModelTest, ReadsAnswerFromMemoryAndClipToIt) {
  SimOptions o = Quick();
  o.memory = EncodeConfigImage(VentoraPreset()).image;
  ConfigImage& m = *o.memory;
  for (std::size_t i = 39; i < m.size(); ++i) m[i] = static_cast<std::uint8_t>(i * 13);  // tell the bytes apart
  const ConfigImage memory = m;
  Open(o);
  EXPECT_EQ(Ask(ReadRequest(Base + 1500, 500)), ReadAnswer(memory, 1500, 500));
  EXPECT_EQ(Ask(ReadRequest(Base + 2000, 32)), ReadAnswer(memory, 2000, 32));
  EXPECT_EQ(Ask(ReadRequest(Base + 2000, 500)), ReadAnswer(memory, 2000, 32)) << "clipped";
  EXPECT_EQ(Ask(ReadRequest(Base, 1200)), ReadAnswer(memory, 0, 1013)) << "fits one frame";
  for (const auto& [address, count] : {std::pair<std::uint32_t, std::uint16_t>{Base - 1, 10}, {Base + 2032, 1},
                                       {0, 500}, {Base, 0}}) {
    EXPECT_EQ(Ask(ReadRequest(address, count)), RefusalFrame()) << std::hex << address << " " << count;
  }
  EXPECT_EQ(Ask(BuildFrame(CmdConfigRead, SimBytes{0x08, 0x04})), RefusalFrame());
}

TEST_F(SimModelTest, AnswersFallDueAfterTheAcknowledgementDelay) {
  SimOptions o = Quick();
  o.ackDelay = 80ms;
  Open(o);
  const auto writes = Send(ReadRequest(Base, 4));
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].due, now + 80ms);
}

// ---- Faults ----------------------------------------------------------------------------------

// What the unit writes about the n-th frame when a fault is set for it.
TEST_F(SimModelTest, EachAnswerFaultDoesWhatItSays) {
  OpenAndTalk();
  const SimBytes request = ReadRequest(Base + 8, 6);
  const SimBytes answer = ReadAnswer(unit->Memory(), 8, 6);
  const SimBytes notice = BuildFrame(CmdOperatingMode, {}, UnitToTool);
  const auto with = [](SimBytes b, std::size_t at, std::uint8_t value) {
    b[at] = value;
    return b;
  };
  const auto half = static_cast<std::ptrdiff_t>(answer.size() / 2);
  SimBytes joined = answer;
  joined.insert(joined.end(), announcement.begin(), announcement.end());

  struct Case {
    const char* name;
    SimFault fault;
    std::vector<SimWrite> writes;  // due times from the frame's arrival
  } cases[] = {
      {"drop", {SimFaultKind::DropAnswer, 0, 0}, {}},
      {"refuse", {SimFaultKind::Refuse, 0, 0}, {{{}, RefusalFrame()}}},
      {"short", {SimFaultKind::ShortAnswer, 0, 0}, {{{}, SimBytes(answer.begin(), answer.begin() + 5)}}},
      {"bad sum", {SimFaultKind::BadSumAnswer, 0, 0},
       {{{}, with(answer, answer.size() - 1, static_cast<std::uint8_t>(answer.back() + 1))}}},
      {"no start byte", {SimFaultKind::NoStartAnswer, 0, 0}, {{{}, with(answer, 0, 0x3C)}}},
      {"two frames in one write", {SimFaultKind::TwoFrames, 0, 0}, {{{}, joined, true}}},
      {"split", {SimFaultKind::SplitAnswer, 0, 60},
       {{{}, SimBytes(answer.begin(), answer.begin() + half)}, {SimClock::time_point{} + 60ms, SimBytes(answer.begin() + half, answer.end())}}},
      {"split, default gap", {SimFaultKind::SplitAnswer, 0, 0},
       {{{}, SimBytes(answer.begin(), answer.begin() + half)}, {SimClock::time_point{} + 20ms, SimBytes(answer.begin() + half, answer.end())}}},
      {"wrong address 0x21", {SimFaultKind::WrongAddress, 0, 0x21}, {{{}, BuildFrame(CmdConfigRead, Payload(answer), 0x21)}}},
      {"wrong address default", {SimFaultKind::WrongAddress, 0, 0}, {{{}, BuildFrame(CmdConfigRead, Payload(answer), 0x11)}}},
      {"reannounce", {SimFaultKind::Reannounce, 0, 60}, {{{}, answer}, {SimClock::time_point{} + 60ms, announcement, true}}},
      {"operating-mode notice", {SimFaultKind::OperatingNotice, 0, 0}, {{{}, answer}, {SimClock::time_point{} + 10ms, notice}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.fault.frame = unit->Counters().frames + 1;
    unit->AddFault(c.fault);
    for (auto& w : c.writes) w.due = now + w.due.time_since_epoch();
    EXPECT_EQ(Send(request), c.writes);
    // The next frame is answered normally.
    EXPECT_EQ(Ask(request), answer);
  }
}

TEST_F(SimModelTest, ADroppedAcknowledgementIsHarmlessOnResend) {
  Open();
  const auto encoded = EncodeConfigImage(Edited());
  const auto frames = TransferFrames(CmdConfigBlock, 0x2222, encoded.image, encoded.trailer);
  unit->AddFault({SimFaultKind::DropAnswer, 2, 0});
  ASSERT_EQ(Ask(frames[0]), AckFrame(1));
  EXPECT_TRUE(Send(frames[1]).empty());
  // The tool sends frame 2 again: the unit has it already and acknowledges it again.
  for (std::size_t i = 1; i < frames.size(); ++i) {
    ASSERT_EQ(Ask(frames[i]), AckFrame(static_cast<std::uint16_t>(i + 1))) << i;
  }
  EXPECT_EQ(unit->Memory(), encoded.image);
  EXPECT_EQ(unit->Counters().frames, 45u);
}

TEST_F(SimModelTest, SilentFromTheNthFrameOnUntilTheFaultsAreCleared) {
  SimOptions o = Quick();
  o.announcePeriod = 100ms;
  Open(o);
  unit->AddFault({SimFaultKind::SilentFrom, 2, 0});
  const SimBytes request = ReadRequest(Base, 4);
  ASSERT_TRUE(Ask(request));
  EXPECT_TRUE(Send(request).empty());
  EXPECT_TRUE(Send(request).empty());
  EXPECT_EQ(unit->Counters().frames, 3u) << "still recorded";
  unit->OnClosed();
  unit->OnOpened(now);
  EXPECT_TRUE(unit->Tick(now + 1s).writes.empty()) << "not even an announcement";
  unit->ClearFaults();
  EXPECT_EQ(unit->Tick(now + 1s).writes.size(), 1u);
  EXPECT_EQ(Ask(request), ReadAnswer(unit->Memory(), 0, 4));
}

// Every fault on answers too short to be frames (written by hand with Send, say): nothing is
// read outside them.
TEST(SimFaults, AnswersThatAreNoFramesAreNotReadOutside) {
  std::vector<SimFault> all;
  for (int k = 0; k <= static_cast<int>(SimFaultKind::AlterWrite); ++k) all.push_back({static_cast<SimFaultKind>(k), 1, 0});
  const SimFaultsAt faults = FaultsAt(all, 1);
  ASSERT_EQ(faults.set.size(), all.size());
  EXPECT_EQ(faults.silentFrom, 1u);
  for (const SimBytes& answer : {SimBytes{}, SimBytes{0xBC}, SimBytes(7, 0xBC)}) {
    std::vector<std::string> log;
    const auto writes = FaultedAnswer(faults, 1, answer, {}, SimClock::time_point{}, log);
    EXPECT_EQ(writes.size(), 2u) << "the answer dropped; the announcement and the notice after it";
    const SimFaultsAt kept{{all.begin() + 1, all.end()}, std::nullopt};
    const auto sent = FaultedAnswer(kept, 1, answer, {}, SimClock::time_point{}, log);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes.size() + sent[1].bytes.size(), std::min<std::size_t>(answer.size(), 5)) << "cut and split";
  }
}

}  // namespace
