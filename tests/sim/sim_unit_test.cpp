// The simulated unit on its pseudo-terminal, talked to through the real TComPort and
// checked byte for byte: the line, its thread and its timing (the unit's answers themselves
// are tested without a line in sim_model_test.cpp).
#include "sim/sim_unit.h"
#include "tool_side.h"

#include <gtest/gtest.h>

// Std
#include <memory>
#include <random>

namespace {

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

TEST_F(SimUnitTest, ANewOpeningStartsWithAnnouncementsAgain) {
  Connect();
  ASSERT_FALSE(tool->Events().empty());
  EXPECT_EQ(tool->Events()[0][0], 0xBC) << "the announcement starts a receive event";
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

// ---- Block transfers -----------------------------------------------------------------------

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
  EXPECT_EQ(unit->Firmware(), firmware) << "every byte came through the line";
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

TEST_F(SimUnitTest, SplitAnswerLeavesTheGapBetweenItsHalves) {
  ConnectAndTalk();
  unit->AddFault({SimFaultKind::SplitAnswer, 2, 80});
  const std::size_t before = unit->Written().size();
  tool->Send(ReadRequest(Base, 20));
  ASSERT_TRUE(unit->WaitFor([&] { return unit->Written().size() >= before + 2; }, 1s));
  const auto written = unit->Written();
  EXPECT_GE(written[before + 1].at - written[before].at, 80ms);
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

}  // namespace
