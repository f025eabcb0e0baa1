// The simulated unit on its pseudo-terminal, talked to through the real TComPort and
// checked byte for byte.
#include "sim/sim_unit.h"
#include "tool_side.h"

#include <gtest/gtest.h>

// Std
#include <memory>
#include <numeric>
#include <random>

namespace {

constexpr std::uint32_t Base = 0x08040000;

SimOptions Quick() {
  SimOptions o;
  o.configBaseAddress = Base;
  o.announcePeriod = 1s;  // tests of the announcements shorten it
  o.restartDelay = 120ms;
  o.stalePartial = 50ms;
  return o;
}

SimBytes Payload(const SimBytes& frame) { return SimBytes(frame.begin() + 5, frame.end() - 3); }

SimBytes ReadAnswer(const ConfigImage& memory, std::uint32_t offset, std::uint16_t n) {
  SimBytes p;
  PutU32(p, Base + offset);
  PutU16(p, n);
  p.insert(p.end(), memory.begin() + offset, memory.begin() + offset + n);
  return BuildFrame(CmdConfigRead, p, UnitToTool);
}

// The block frames of a whole transfer, trailer last.
std::vector<SimBytes> TransferFrames(std::uint8_t command, std::uint16_t token, std::span<const std::uint8_t> data,
                                     const TransferTrailer& trailer) {
  const auto count = static_cast<std::uint16_t>((data.size() + 47) / 48 + 1);
  std::vector<SimBytes> frames;
  for (std::uint16_t i = 1; i < count; ++i) {
    const std::size_t from = std::size_t{i - 1u} * 48;
    frames.push_back(BlockFrame(command, token, i, count, data.subspan(from, std::min<std::size_t>(48, data.size() - from))));
  }
  frames.push_back(BlockFrame(command, token, count, count, trailer));
  return frames;
}

ConfigRecord Edited() {
  ConfigRecord r = DefaultConfig();
  r.VMX = 88;
  r.RPX = 3200;
  r.PING = 30;
  return r;
}

class SimUnitTest : public ::testing::Test {
 protected:
  void Begin(SimOptions options = Quick()) {
    unit = std::make_unique<SimUnit>(std::move(options));
    unit->Start();
    tool = std::make_unique<ToolSide>(unit->DevicePath());
  }
  // Opens the port and takes the first announcement.
  void Connect(SimOptions options = Quick()) {
    Begin(std::move(options));
    auto first = tool->NextFrame();
    ASSERT_TRUE(first) << "no announcement";
    announcement = *first;
  }
  // Connects and talks to the unit once (frame 1), so that it stops announcing itself.
  void ConnectAndTalk() {
    Connect();
    ASSERT_TRUE(tool->Ask(ReadRequest(Base, 1)));
    tool->Discard();
  }
  // Sends every frame and expects an acknowledgement of each; returns the answer to the last.
  std::optional<SimBytes> RunTransfer(const std::vector<SimBytes>& frames) {
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
      auto answer = tool->Ask(frames[i]);
      EXPECT_EQ(answer, AckFrame(static_cast<std::uint16_t>(i + 1))) << "frame " << i + 1;
      if (answer != AckFrame(static_cast<std::uint16_t>(i + 1))) return answer;
    }
    return tool->Ask(frames.back());
  }

  std::unique_ptr<SimUnit> unit;
  std::unique_ptr<ToolSide> tool;
  SimBytes announcement;
};

// ---- Announcements -------------------------------------------------------------------------

TEST_F(SimUnitTest, AnnouncesItsIdentityOnOpeningAndUntilTalkedTo) {
  SimOptions o = Quick();
  o.kind = 41;
  o.versionByte2 = 7;
  o.firmwareMajor = 2;
  o.firmwareMinor = 45;
  o.id = {0x11223344, 0x55667788, 0x99AABBCC};
  o.textA = "TEXT-A-IS-LONGER-THAN-12";
  o.textB = "B";
  o.announcePeriod = 100ms;
  Begin(o);

  const auto first = tool->NextFrame();
  ASSERT_TRUE(first);
  // The layout, spelled out: BC 12 04 00 2D, mode, id lowest word first, texts, versions, base.
  SimBytes expected{0xBC, 0x12, 0x04, 0x00, 0x2D, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                    0x99, 0xAA, 0xBB, 0xCC};
  for (char c : std::string("TEXT-A-IS-LO")) expected.push_back(static_cast<std::uint8_t>(c));
  expected.push_back('B');
  expected.insert(expected.end(), 11, 0x00);
  expected.insert(expected.end(), {41, 7, 2, 45, 0x08, 0x04, 0x00, 0x00});
  PutU24(expected, FrameSum(expected));
  EXPECT_EQ(*first, expected);
  ASSERT_FALSE(tool->Events().empty());
  EXPECT_EQ(tool->Events()[0][0], 0xBC) << "the announcement starts a receive event";
  const auto info = ParseDeviceInfo(Payload(*first));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Id, o.id);
  EXPECT_EQ(info->ConfigBaseAddress, Base);

  // Again every period while the tool says nothing.
  ASSERT_EQ(tool->NextFrame(), expected);
  ASSERT_EQ(tool->NextFrame(), expected);
  const auto written = unit->Written();
  ASSERT_GE(written.size(), 3u);
  for (std::size_t i = 1; i < 3; ++i) EXPECT_GE(written[i].at - written[i - 1].at, 50ms);

  // Talked to: the announcements stop.
  ASSERT_TRUE(tool->Ask(ReadRequest(Base, 4)));
  const auto announced = unit->Counters().announcements;
  tool->PumpFor(350ms);
  EXPECT_EQ(unit->Counters().announcements, announced);
  EXPECT_EQ(tool->NextFrame(0ms), std::nullopt);
}

TEST_F(SimUnitTest, ANewOpeningStartsWithAnnouncementsAgain) {
  Connect();
  ASSERT_TRUE(tool->Ask(ReadRequest(Base, 4)));
  tool.reset();
  ASSERT_TRUE(unit->WaitForConnected(false, 1s));
  tool = std::make_unique<ToolSide>(unit->DevicePath());
  const auto again = tool->NextFrame();
  ASSERT_TRUE(again);
  EXPECT_EQ((*again)[2], CmdDeviceInfo);
  EXPECT_EQ(unit->Counters().connections, 2u);
  EXPECT_EQ(unit->Counters().disconnections, 1u);
}

TEST_F(SimUnitTest, OperatingModeIsAnnouncedAsModeZero) {
  SimOptions o = Quick();
  o.mode = 0;
  Begin(o);
  const auto frame = tool->NextFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ((*frame)[5], 0);
}

// ---- Block transfers -----------------------------------------------------------------------

TEST_F(SimUnitTest, ConfigurationReplacesMemoryOnlyWhenTheTrailerChecks) {
  Connect();
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
  EXPECT_EQ(tool->Ask(BlockFrame(CmdConfigBlock, 0x4000, 44, 44, encoded.trailer)), AckFrame(44));
  EXPECT_EQ(unit->Memory(), encoded.image);
  EXPECT_EQ(unit->Counters().configWrites, 1u);
  // Read back through the unit's own answers.
  const auto back = tool->Ask(ReadRequest(Base, 500));
  EXPECT_EQ(back, ReadAnswer(encoded.image, 0, 500));
}

TEST_F(SimUnitTest, AlterWriteStoresOneByteHigherFromItsFrameOn) {
  SimOptions o = Quick();
  o.faults = {{SimFaultKind::AlterWrite, 45, 0}, {SimFaultKind::AlterWrite, 89, 18}};
  Connect(o);
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

TEST_F(SimUnitTest, AConfigurationOfAnotherLengthIsRefused) {
  Connect();
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

TEST_F(SimUnitTest, BlocksOutOfTurnAreRefusedAndTheTransferGoesOn) {
  Connect();
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
  for (std::size_t i = 0; i < 3; ++i) ASSERT_EQ(tool->Ask(frames[i]), AckFrame(static_cast<std::uint16_t>(i + 1)));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(tool->Ask(c.frame), RefusalFrame());
    EXPECT_EQ(unit->Counters().lastRefusal, c.why);
  }
  // A resend of frame 3 and then the rest are fine.
  EXPECT_EQ(tool->Ask(frames[2]), AckFrame(3));
  for (std::size_t i = 3; i < frames.size(); ++i) {
    ASSERT_EQ(tool->Ask(frames[i]), AckFrame(static_cast<std::uint16_t>(i + 1))) << i;
  }
  EXPECT_EQ(unit->Memory(), encoded.image);
}

TEST_F(SimUnitTest, ALaterBlockWithoutATransferIsRefused) {
  Connect();
  const SimBytes data(48, 1);
  EXPECT_EQ(tool->Ask(BlockFrame(CmdConfigBlock, 9, 2, 44, data)), RefusalFrame());
  EXPECT_EQ(unit->Counters().lastRefusal, SimRefusal::NoTransfer);
}

TEST_F(SimUnitTest, ClosingThePortDropsATransferUnderWay) {
  Connect();
  const auto encoded = EncodeConfigImage(Edited());
  const auto frames = TransferFrames(CmdConfigBlock, 0x0101, encoded.image, encoded.trailer);
  ASSERT_EQ(tool->Ask(frames[0]), AckFrame(1));
  ASSERT_EQ(tool->Ask(frames[1]), AckFrame(2));
  tool.reset();
  ASSERT_TRUE(unit->WaitForConnected(false, 1s));
  tool = std::make_unique<ToolSide>(unit->DevicePath());
  ASSERT_TRUE(tool->NextFrame());  // announced again
  EXPECT_EQ(tool->Ask(frames[2]), RefusalFrame());
  EXPECT_EQ(unit->Counters().lastRefusal, SimRefusal::NoTransfer);
}

TEST_F(SimUnitTest, FirmwareTrailerRestartsTheUnitAt246) {
  SimOptions o = Quick();
  o.firmwareMajor = 2;
  o.firmwareMinor = 40;
  o.announcePeriod = 200ms;
  Connect(o);
  SimBytes firmware(100);
  std::iota(firmware.begin(), firmware.end(), std::uint8_t{7});
  // Exclusive OR and sum of the bytes 7..106, worked out aside: 0x6C and 5650 = 0x1612.
  const TransferTrailer trailer{0x6C, 0x00, 0x00, 0x16, 0x12};
  auto frames = TransferFrames(CmdFirmwareBlock, 0xBEEF, firmware, trailer);
  ASSERT_EQ(frames.size(), 4u);
  ASSERT_EQ(RunTransfer(frames), AckFrame(4));
  const auto ackAt = unit->Written().back().at;
  EXPECT_EQ(unit->Counters().restarts, 1u);

  // While it restarts it answers nothing, not even a read.
  tool->Send(ReadRequest(Base, 4));
  const auto next = tool->NextFrame(2s);
  ASSERT_TRUE(next);
  const auto info = ParseDeviceInfo(Payload(*next));
  ASSERT_TRUE(info) << "the first thing after the restart is an announcement";
  EXPECT_EQ(info->Version[2], 2);
  EXPECT_EQ(info->Version[3], 46);
  EXPECT_EQ(info->Version[0], 4);
  const auto written = unit->Written();
  EXPECT_GE(written.back().at - ackAt, 110ms) << "silent for the restart delay";
  // And it keeps announcing until talked to.
  const auto again = tool->NextFrame();
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *next);
  EXPECT_EQ(unit->Info().Version[3], 46);
}

TEST_F(SimUnitTest, AFullSizeFirmwareUploadGoesThroughInOneRoundTripPerFrame) {
  SimOptions o = Quick();
  o.firmwareMajor = o.firmwareMinor = 255;
  Connect(o);
  SimBytes firmware(90'548);
  std::mt19937 random(3);
  for (auto& b : firmware) b = static_cast<std::uint8_t>(random());
  TransferTrailer trailer{};
  std::uint32_t sum = 0;
  for (auto b : firmware) {
    trailer[0] ^= b;
    sum += b;
  }
  for (int i = 0; i < 4; ++i) trailer[static_cast<std::size_t>(1 + i)] = static_cast<std::uint8_t>(sum >> (24 - 8 * i));
  const auto frames = TransferFrames(CmdFirmwareBlock, 0x4000, firmware, trailer);
  ASSERT_EQ(frames.size(), 1888u);
  ASSERT_EQ(frames[1886].size(), 8u + 6 + 20);
  const auto start = SimClock::now();
  EXPECT_EQ(RunTransfer(frames), AckFrame(1888));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(SimClock::now() - start);
  RecordProperty("upload_ms", static_cast<int>(took.count()));
  EXPECT_EQ(unit->Counters().acks, 1888u);
  EXPECT_EQ(unit->Counters().restarts, 1u);
}

TEST_F(SimUnitTest, JumpIsRecordedAndNotAnswered) {
  Connect();
  tool->Send(BuildFrame(CmdJump, {}));
  ASSERT_TRUE(unit->WaitFor([&] { return unit->Counters().jumps == 1; }, 1s));
  EXPECT_EQ(tool->NextFrame(150ms), std::nullopt);
  const auto frames = unit->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, (SimBytes{0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}));
  EXPECT_EQ(frames[0].number, 1u);
}

// ---- Reads ---------------------------------------------------------------------------------

TEST_F(SimUnitTest, ReadsAnswerFromMemoryAndClipToIt) {
  SimOptions o = Quick();
  o.memory = EncodeConfigImage(VentoraPreset()).image;
  ConfigImage& m = *o.memory;
  for (std::size_t i = 39; i < m.size(); ++i) m[i] = static_cast<std::uint8_t>(i * 13);  // tell the bytes apart
  const ConfigImage memory = m;
  Connect(o);
  EXPECT_EQ(tool->Ask(ReadRequest(Base + 1500, 500)), ReadAnswer(memory, 1500, 500));
  EXPECT_EQ(tool->Ask(ReadRequest(Base + 2000, 32)), ReadAnswer(memory, 2000, 32));
  EXPECT_EQ(tool->Ask(ReadRequest(Base + 2000, 500)), ReadAnswer(memory, 2000, 32)) << "clipped";
  EXPECT_EQ(tool->Ask(ReadRequest(Base, 1200)), ReadAnswer(memory, 0, 1013)) << "fits one frame";
  for (const auto& [address, count] : {std::pair<std::uint32_t, std::uint16_t>{Base - 1, 10}, {Base + 2032, 1},
                                       {0, 500}, {Base, 0}}) {
    EXPECT_EQ(tool->Ask(ReadRequest(address, count)), RefusalFrame()) << std::hex << address << " " << count;
  }
  EXPECT_EQ(tool->Ask(BuildFrame(CmdConfigRead, SimBytes{0x08, 0x04})), RefusalFrame());
}

// ---- Bad input -----------------------------------------------------------------------------

TEST_F(SimUnitTest, RandomBytesAreSkippedAndAValidExchangeStillWorks) {
  Connect();
  std::mt19937 random(7);
  for (int round = 0; round < 30; ++round) {
    SimBytes noise(1 + random() % 80);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0xBC : random());
    tool->Send(noise);
  }
  // Some of the noise may wait as a partial frame; it goes stale and the request goes through.
  const auto answer = tool->Ask(ReadRequest(Base + 4, 8), 2s);
  ASSERT_TRUE(answer);
  // Anything the noise provoked comes first; the last frame is the answer.
  auto last = answer;
  while (auto more = tool->NextFrame(100ms)) last = more;
  EXPECT_EQ(last, ReadAnswer(unit->Memory(), 4, 8));
  EXPECT_GT(unit->Counters().garbageBytes, 0u);
  std::size_t received = 0;
  for (const auto& chunk : unit->Received()) received += chunk.bytes.size();
  EXPECT_GT(received, 30u) << "raw chunks are recorded";
  for (const auto& frame : unit->Frames()) {
    EXPECT_EQ(CheckFrame(frame.bytes, UnitAddress).outcome, FrameOutcome::Accepted);
  }
}

TEST_F(SimUnitTest, AFrameSplitByTheToolIsJoined) {
  Connect();
  const SimBytes request = ReadRequest(Base, 6);
  tool->Send(SimBytes(request.begin(), request.begin() + 4));
  tool->PumpFor(20ms);
  EXPECT_EQ(tool->Ask(SimBytes(request.begin() + 4, request.end())), ReadAnswer(unit->Memory(), 0, 6));
}

TEST_F(SimUnitTest, FramesForOtherAddressesAreNotAnswered) {
  Connect();
  tool->Send(BuildFrame(CmdConfigRead, ConfigReadRequestPayload(Base, 4), 0x12));
  ASSERT_TRUE(unit->WaitFor([&] { return unit->Counters().otherAddress == 1; }, 1s));
  EXPECT_EQ(unit->Counters().frames, 0u);
  // Not talked to either: it goes on announcing.
  const auto next = tool->NextFrame();
  ASSERT_TRUE(next);
  EXPECT_EQ((*next)[2], CmdDeviceInfo);
}

// ---- Faults ----------------------------------------------------------------------------------

// What the tool receives after the n-th frame when a fault is set for it.
TEST_F(SimUnitTest, EachAnswerFaultDoesWhatItSays) {
  ConnectAndTalk();
  const SimBytes request = ReadRequest(Base + 8, 6);
  const SimBytes answer = ReadAnswer(unit->Memory(), 8, 6);
  const SimBytes notice = BuildFrame(CmdOperatingMode, {}, UnitToTool);
  const auto with = [](SimBytes b, std::size_t at, std::uint8_t value) {
    b[at] = value;
    return b;
  };
  SimBytes wrongAddress = BuildFrame(CmdConfigRead, Payload(answer), 0x21);
  SimBytes joined = answer;
  joined.insert(joined.end(), announcement.begin(), announcement.end());

  struct Case {
    const char* name;
    SimFault fault;
    std::vector<SimBytes> events;  // receive events expected, in order
  } cases[] = {
      {"drop", {SimFaultKind::DropAnswer, 0, 0}, {}},
      {"refuse", {SimFaultKind::Refuse, 0, 0}, {RefusalFrame()}},
      {"short", {SimFaultKind::ShortAnswer, 0, 0}, {SimBytes(answer.begin(), answer.begin() + 5)}},
      {"bad sum", {SimFaultKind::BadSumAnswer, 0, 0},
       {with(answer, answer.size() - 1, static_cast<std::uint8_t>(answer.back() + 1))}},
      {"no start byte", {SimFaultKind::NoStartAnswer, 0, 0}, {with(answer, 0, 0x3C)}},
      {"two frames in one write", {SimFaultKind::TwoFrames, 0, 0}, {joined}},
      {"split", {SimFaultKind::SplitAnswer, 0, 60},
       {SimBytes(answer.begin(), answer.begin() + answer.size() / 2),
        SimBytes(answer.begin() + answer.size() / 2, answer.end())}},
      {"wrong address 0x21", {SimFaultKind::WrongAddress, 0, 0x21}, {wrongAddress}},
      {"wrong address default", {SimFaultKind::WrongAddress, 0, 0},
       {BuildFrame(CmdConfigRead, Payload(answer), 0x11)}},
      {"reannounce", {SimFaultKind::Reannounce, 0, 60}, {answer, announcement}},
      {"operating-mode notice", {SimFaultKind::OperatingNotice, 0, 60}, {answer, notice}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    tool->Discard();
    const std::size_t before = tool->Events().size();
    c.fault.frame = unit->Counters().frames + 1;
    unit->AddFault(c.fault);
    tool->Send(request);
    tool->PumpUntil([&] { return tool->Events().size() >= before + c.events.size(); }, 1s);
    tool->PumpFor(c.events.empty() ? 150ms : 30ms);  // nothing more should come
    const std::vector<SimBytes> got(tool->Events().begin() + static_cast<std::ptrdiff_t>(before), tool->Events().end());
    EXPECT_EQ(got, c.events);
    // The next frame is answered normally.
    tool->Discard();
    EXPECT_EQ(tool->Ask(request), answer);
  }
  EXPECT_EQ(CheckFrame(wrongAddress, ToolAddress).outcome, FrameOutcome::WrongDestination);
}

TEST_F(SimUnitTest, SplitAnswerLeavesTheGapBetweenItsHalves) {
  ConnectAndTalk();
  unit->AddFault({SimFaultKind::SplitAnswer, 2, 80});
  const std::size_t before = unit->Written().size();
  tool->Send(ReadRequest(Base, 20));
  ASSERT_TRUE(unit->WaitFor([&] { return unit->Written().size() >= before + 2; }, 1s));
  const auto written = unit->Written();
  EXPECT_GE(written[before + 1].at - written[before].at, 80ms);
}

TEST_F(SimUnitTest, ADroppedAcknowledgementIsHarmlessOnResend) {
  Connect();
  const auto encoded = EncodeConfigImage(Edited());
  const auto frames = TransferFrames(CmdConfigBlock, 0x2222, encoded.image, encoded.trailer);
  unit->AddFault({SimFaultKind::DropAnswer, 2, 0});
  ASSERT_EQ(tool->Ask(frames[0]), AckFrame(1));
  EXPECT_EQ(tool->Ask(frames[1], 150ms), std::nullopt);
  // The tool sends frame 2 again: the unit has it already and acknowledges it again.
  for (std::size_t i = 1; i < frames.size(); ++i) {
    ASSERT_EQ(tool->Ask(frames[i]), AckFrame(static_cast<std::uint16_t>(i + 1))) << i;
  }
  EXPECT_EQ(unit->Memory(), encoded.image);
  EXPECT_EQ(unit->Counters().frames, 45u);
}

TEST_F(SimUnitTest, SilentFromTheNthFrameOn) {
  Connect();
  unit->AddFault({SimFaultKind::SilentFrom, 2, 0});
  const SimBytes request = ReadRequest(Base, 4);
  ASSERT_TRUE(tool->Ask(request));
  EXPECT_EQ(tool->Ask(request, 150ms), std::nullopt);
  EXPECT_EQ(tool->Ask(request, 250ms), std::nullopt);
  EXPECT_EQ(unit->Counters().frames, 3u) << "still recorded";
}

TEST_F(SimUnitTest, HangUpClosesTheLine) {
  Connect();
  unit->AddFault({SimFaultKind::HangUp, 2, 0});
  ASSERT_TRUE(tool->Ask(ReadRequest(Base, 4)));
  tool->Send(ReadRequest(Base, 4));
  EXPECT_TRUE(tool->PumpUntil([&] { return tool->HungUp(); }, 1s));
  EXPECT_TRUE(unit->HungUp());
  EXPECT_EQ(unit->Counters().frames, 2u);
}

TEST_F(SimUnitTest, FaultsOnOneFrameCombine) {
  ConnectAndTalk();
  unit->AddFault({SimFaultKind::WrongAddress, 2, 0x21});
  unit->AddFault({SimFaultKind::TwoFrames, 2, 0});
  unit->AddFault({SimFaultKind::OperatingNotice, 2, 40});
  const std::size_t before = tool->Events().size();
  tool->Send(ReadRequest(Base, 4));
  ASSERT_TRUE(tool->PumpUntil([&] { return tool->Events().size() >= before + 2; }, 1s));
  SimBytes first = BuildFrame(CmdConfigRead, Payload(ReadAnswer(unit->Memory(), 0, 4)), 0x21);
  first.insert(first.end(), announcement.begin(), announcement.end());
  EXPECT_EQ(tool->Events()[before], first);
  EXPECT_EQ(tool->Events()[before + 1], BuildFrame(CmdOperatingMode, {}, UnitToTool));
}

TEST_F(SimUnitTest, ScriptedWhileRunning) {
  ConnectAndTalk();
  unit->Send(AckFrame(7));
  EXPECT_EQ(tool->NextFrame(), AckFrame(7)) << "bytes sent as they are";
  ConfigImage other{};
  other.fill(0x42);
  unit->SetMemory(other);
  EXPECT_EQ(tool->Ask(ReadRequest(Base + 100, 10)), ReadAnswer(other, 100, 10));
  unit->AddFault({SimFaultKind::SilentFrom, unit->Counters().frames + 1, 0});
  EXPECT_EQ(tool->Ask(ReadRequest(Base, 1), 150ms), std::nullopt);
  unit->ClearFaults();
  EXPECT_EQ(tool->Ask(ReadRequest(Base, 1)), ReadAnswer(other, 0, 1)) << "speaks again";
  unit->SetAckDelay(60ms);
  ASSERT_TRUE(tool->Ask(ReadRequest(Base, 1)));
  EXPECT_GE(unit->Written().back().at - unit->Frames().back().at, 60ms);
}

TEST_F(SimUnitTest, AcknowledgementDelayHoldsEveryAnswer) {
  SimOptions o = Quick();
  o.ackDelay = 80ms;
  Connect(o);
  ASSERT_TRUE(tool->Ask(ReadRequest(Base, 4)));
  const auto frames = unit->Frames();
  const auto written = unit->Written();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_GE(written.back().at - frames[0].at, 80ms);
}

}  // namespace
