// The simulated unit's pieces that need no line: stream reassembly, start images and the
// command line of zpisim.
#include "sim/frame_assembler.h"
#include "sim/sim_args.h"
#include "sim/sim_model.h"

#include <gtest/gtest.h>

// Std
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace std::chrono_literals;
using Piece = FrameAssembler::Piece;

namespace {

SimBytes Read16(std::uint32_t address) { return BuildFrame(CmdConfigRead, ConfigReadRequestPayload(address, 16)); }

SimBytes Join(std::initializer_list<SimBytes> parts) {
  SimBytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Expected {
  Piece::Kind kind;
  SimBytes bytes;
};

// ---- Reassembly ---------------------------------------------------------------------------

TEST(FrameAssembler, CutsTheStreamIntoFramesAndNoise) {
  const SimBytes a = Read16(0x10000);
  const SimBytes b = BuildFrame(CmdJump, {});
  const SimBytes toTool = BuildFrame(CmdAck, SimBytes{0, 1}, UnitToTool);  // receiver 2: not ours
  SimBytes badSum = a;
  badSum.back() ^= 1;
  const SimBytes tooLong{0xBC, 0x21, 0x07, 0x03, 0xFC};  // length 1020
  struct Case {
    const char* name;
    std::vector<SimBytes> pushes;
    std::vector<Expected> expected;
    std::size_t leftOver = 0;
  } cases[] = {
      {"one frame", {a}, {{Piece::Frame, a}}},
      {"two frames in one chunk", {Join({a, b})}, {{Piece::Frame, a}, {Piece::Frame, b}}},
      {"frame split over three chunks",
       {SimBytes(a.begin(), a.begin() + 3), SimBytes(a.begin() + 3, a.begin() + 9), SimBytes(a.begin() + 9, a.end())},
       {{Piece::Frame, a}}},
      {"noise before a frame", {Join({{0x00, 0x13, 0xFF}, a})}, {{Piece::Garbage, {0x00, 0x13, 0xFF}}, {Piece::Frame, a}}},
      {"bad sum, then a good frame", {Join({badSum, b})}, {{Piece::Garbage, badSum}, {Piece::Frame, b}}},
      {"length above 1019 is noise", {Join({tooLong, b})}, {{Piece::Garbage, tooLong}, {Piece::Frame, b}}},
      {"frame for another address", {Join({toTool, b})}, {{Piece::OtherAddress, toTool}, {Piece::Frame, b}}},
      {"a partial frame waits", {SimBytes(a.begin(), a.end() - 1)}, {}, a.size() - 1},
      {"a start byte inside noise is tried and dropped", {Join({{0xBC, 0x00}, b})},
       {{Piece::Garbage, {0xBC, 0x00}}, {Piece::Frame, b}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrameAssembler assembler;
    std::vector<Piece> got;
    for (const auto& push : c.pushes) {
      for (auto& p : assembler.Push(push, SimClock::now())) got.push_back(std::move(p));
    }
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].kind, c.expected[i].kind) << i;
      EXPECT_EQ(got[i].bytes, c.expected[i].bytes) << i;
    }
    EXPECT_EQ(assembler.Buffered(), c.leftOver);
  }
}

TEST(FrameAssembler, GivesUpAStalePartialAndFindsTheFrameBehindIt) {
  // A noise start byte announcing 16 payload bytes swallows the start of a real 14-byte frame.
  const SimBytes frame = Read16(0x10000);
  const SimBytes noise{0xBC, 0x21, 0x07, 0x00, 0x10};
  FrameAssembler assembler;
  const auto t0 = SimClock::now();
  EXPECT_TRUE(assembler.Push(Join({noise, frame}), t0).empty());
  ASSERT_TRUE(assembler.PendingSince());
  EXPECT_TRUE(assembler.Expire(t0 + 50ms, 100ms).empty()) << "not stale yet";
  const auto pieces = assembler.Expire(t0 + 100ms, 100ms);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].kind, Piece::Garbage);
  EXPECT_EQ(pieces[0].bytes, noise);
  EXPECT_EQ(pieces[1].kind, Piece::Frame);
  EXPECT_EQ(pieces[1].bytes, frame);
  EXPECT_EQ(assembler.Buffered(), 0u);
  EXPECT_FALSE(assembler.PendingSince());
}

TEST(FrameAssembler, RandomInputLosesNoByteAndNeverYieldsABadFrame) {
  std::mt19937 random(20240131);
  for (int round = 0; round < 200; ++round) {
    FrameAssembler assembler;
    std::size_t pushed = 0, accounted = 0;
    const auto account = [&](const std::vector<Piece>& pieces) {
      for (const auto& p : pieces) {
        accounted += p.bytes.size();
        if (p.kind == Piece::Frame) {
          ASSERT_EQ(CheckFrame(p.bytes, UnitAddress).outcome, FrameOutcome::Accepted);
          ASSERT_FALSE(CheckFrame(p.bytes, UnitAddress).trailingBytes);
        }
      }
    };
    const auto t0 = SimClock::now();
    const int chunks = 1 + static_cast<int>(random() % 8);
    for (int c = 0; c < chunks; ++c) {
      SimBytes chunk(random() % 64);
      for (auto& b : chunk) b = static_cast<std::uint8_t>(random() % 3 == 0 ? 0xBC : random());
      pushed += chunk.size();
      account(assembler.Push(chunk, t0));
    }
    // After the noise has gone stale, a real frame still comes through whole.
    account(assembler.Expire(t0 + 1s, 100ms));
    EXPECT_EQ(assembler.Buffered(), 0u);
    const SimBytes frame = Read16(0x10000 + static_cast<std::uint32_t>(round));
    const auto after = assembler.Push(frame, t0 + 2s);
    pushed += frame.size();
    account(after);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back().kind, Piece::Frame);
    EXPECT_EQ(after.back().bytes, frame);
    EXPECT_EQ(accounted + assembler.Buffered(), pushed) << "round " << round;
  }
}

// ---- Start images -------------------------------------------------------------------------

TEST(StartImage, NamedImagesDecodeAsTheirNamesSay) {
  struct Case {
    const char* name;
    bool valid;
  } cases[] = {{"default", true}, {"ventora", true}, {"invalid", false}, {"blank", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto image = StartImage(c.name);
    ASSERT_TRUE(image);
    EXPECT_EQ(DecodeConfigImage(*image, false).errors == 0, c.valid);
  }
  EXPECT_EQ(DecodeConfigImage(*StartImage("default"), false).record, DefaultConfig());
  EXPECT_EQ(DecodeConfigImage(*StartImage("ventora"), true).record, VentoraPreset());

  // "invalid" differs from the default only in its signature and the sum that covers it.
  const auto invalid = *StartImage("invalid");
  const auto good = *StartImage("default");
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 36; ++i) sum += invalid[i];
  EXPECT_EQ(invalid[36] << 16 | invalid[37] << 8 | invalid[38], static_cast<int>(sum));
  EXPECT_NE(invalid[3], good[3]);
  EXPECT_TRUE(std::equal(invalid.begin() + 39, invalid.end(), good.begin() + 39));
  EXPECT_EQ(*StartImage("blank"), [] { ConfigImage b; b.fill(0xFF); return b; }());
}

TEST(StartImage, FilesMustHoldExactly2032Bytes) {
  const std::string path = ::testing::TempDir() + "sim_image.bin";
  const auto write = [&](std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7));
  };
  write(2032);
  const auto image = StartImage("file:" + path);
  ASSERT_TRUE(image);
  EXPECT_EQ((*image)[2031], static_cast<std::uint8_t>(2031 * 7));
  for (std::size_t size : {0u, 2031u, 2033u}) {
    write(size);
    std::string error;
    EXPECT_FALSE(StartImage("file:" + path, &error)) << size;
    EXPECT_NE(error.find("2032"), std::string::npos) << error;
  }
  std::remove(path.c_str());
  std::string error;
  EXPECT_FALSE(StartImage("file:/nonexistent/zpi.bin", &error));
  EXPECT_FALSE(StartImage("Default", &error));
  EXPECT_FALSE(error.empty());
}

// ---- Command line -------------------------------------------------------------------------

std::optional<SimCommandLine> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  return ParseSimCommandLine(args, error);
}

TEST(SimCommandLine, OptionsReachTheUnit) {
  const auto line = Parse({"--kind", "41", "--version2=7", "--firmware", "2.45", "--restart-firmware", "3.1",
                           "--id", "0000ABCD,12345678:89abcdef", "--base", "0x08040000", "--mode", "0",
                           "--text-a", "HELLO", "--image", "ventora", "--ack-delay", "15",
                           "--restart-delay", "40", "--announce-period", "250", "--fault", "split@3:40",
                           "--fault", "hang-up@9", "-q"});
  ASSERT_TRUE(line);
  const SimOptions& o = line->options;
  EXPECT_EQ(o.kind, 41);
  EXPECT_EQ(o.versionByte2, 7);
  EXPECT_EQ(o.firmwareMajor, 2);
  EXPECT_EQ(o.firmwareMinor, 45);
  EXPECT_EQ(o.restartMajor, 3);
  EXPECT_EQ(o.restartMinor, 1);
  EXPECT_EQ(o.id, (std::array<std::uint32_t, 3>{0x89ABCDEF, 0x12345678, 0x0000ABCD}));  // lowest first
  EXPECT_EQ(o.configBaseAddress, 0x08040000u);
  EXPECT_EQ(o.mode, 0);
  EXPECT_EQ(o.textA, "HELLO");
  ASSERT_TRUE(o.memory);
  EXPECT_EQ(*o.memory, EncodeConfigImage(VentoraPreset()).image);
  EXPECT_EQ(o.ackDelay, 15ms);
  EXPECT_EQ(o.restartDelay, 40ms);
  EXPECT_EQ(o.announcePeriod, 250ms);
  ASSERT_EQ(o.faults.size(), 2u);
  EXPECT_EQ(o.faults[0].kind, SimFaultKind::SplitAnswer);
  EXPECT_EQ(o.faults[0].frame, 3u);
  EXPECT_EQ(o.faults[0].param, 40u);
  EXPECT_EQ(o.faults[1].kind, SimFaultKind::HangUp);
  EXPECT_TRUE(line->quiet);
  EXPECT_FALSE(line->help);

  const auto none = Parse({"--firmware", "none"});
  ASSERT_TRUE(none);
  EXPECT_EQ(none->options.firmwareMajor, 255);
  EXPECT_EQ(none->options.firmwareMinor, 255);
  EXPECT_TRUE(Parse({"--help"})->help);
}

TEST(SimCommandLine, BadValuesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad{
      {"--kind", "256"},          {"--kind", "-1"},           {"--kind"},
      {"--firmware", "2"},        {"--firmware", "2.256"},    {"--firmware", "a.b"},
      {"--id", "1,2"},            {"--id", "1,2,3,4"},        {"--id", "123456789,0,0"},
      {"--base", "0x100000000"},  {"--base", "12abc"},        {"--image", "nope"},
      {"--ack-delay", "-5"},      {"--announce-period", "0"}, {"--fault", "drop"},
      {"--fault", "drop@0"},      {"--fault", "melt@2"},      {"--fault", "split@2:x"},
      {"--colour", "red"},        {"stray"},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(Parse(args, &error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(SimCommandLine, RefusalsSayWhatWasWrong) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
      {{"--colour", "red"}, "unknown option --colour"},
      {{"--colour=red"}, "unknown option --colour"},
      {{"-x"}, "unknown option -x"},
      {{"stray"}, "unexpected argument \"stray\""},
      {{"--fault", "drop@1", "drop@2"}, "unexpected argument \"drop@2\""},  // one fault per --fault
      {{"--help", "--colour"}, "unknown option --colour"},
      {{"--kind"}, "--kind"},
      {{"--kind", "256"}, "--kind: bad value \"256\""},
      {{"--kind", "999", "--kind", "4"}, "--kind: bad value \"999\""},  // every use is checked
      {{"--base=0x1g"}, "--base: bad value \"0x1g\""},
      {{"--image", "nope"}, "--image: unknown image \"nope\""},
      {{"--fault", "melt@2"}, "--fault: bad fault \"melt@2\""},
  };
  for (const auto& [args, why] : refused) {
    std::string error;
    EXPECT_FALSE(Parse(args, &error)) << why;
    EXPECT_NE(error.find(why), std::string::npos) << error;
    EXPECT_NE(error.find("--help"), std::string::npos) << error;
  }
}

TEST(SimCommandLine, DefaultsTheLastUseAndTheFaultsInOrder) {
  const auto none = Parse({});
  ASSERT_TRUE(none);
  const SimOptions defaults;
  const SimOptions& o = none->options;
  EXPECT_EQ(std::tie(o.mode, o.kind, o.versionByte2, o.firmwareMajor, o.firmwareMinor, o.restartMajor,
                     o.restartMinor, o.id, o.configBaseAddress, o.textA, o.textB),
            std::tie(defaults.mode, defaults.kind, defaults.versionByte2, defaults.firmwareMajor,
                     defaults.firmwareMinor, defaults.restartMajor, defaults.restartMinor, defaults.id,
                     defaults.configBaseAddress, defaults.textA, defaults.textB));
  EXPECT_FALSE(o.memory);
  EXPECT_EQ(std::tie(o.ackDelay, o.restartDelay, o.announcePeriod),
            std::tie(defaults.ackDelay, defaults.restartDelay, defaults.announcePeriod));
  EXPECT_TRUE(o.faults.empty());
  EXPECT_FALSE(none->quiet || none->help);

  const auto line = Parse({"--kind", "3", "--fault", "drop@2", "--kind=41", "--fault=split@1", "--quiet"});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->options.kind, 41);
  ASSERT_EQ(line->options.faults.size(), 2u);
  EXPECT_EQ(line->options.faults[0].kind, SimFaultKind::DropAnswer);
  EXPECT_EQ(line->options.faults[1].kind, SimFaultKind::SplitAnswer);
  EXPECT_TRUE(line->quiet);
}

TEST(SimCommandLine, HelpGivesEachOptionItsValueAndDefault) {
  const std::string help = SimUsage();
  for (const char* text :
       {"--mode N", "--kind N", "(default 4)", "--version2 N", "--firmware MAJ.MIN", "\"none\": no firmware",
        "--restart-firmware MAJ.MIN", "--id W3,W2,W1", "(default 00000246,00C0FFEE,5A500001)", "--base ADDR",
        "(default 0x00010000)", "--text-a TEXT", "--text-b TEXT", "--image NAME", "file:PATH (exactly 2032 bytes)",
        "--ack-delay MS", "--restart-delay MS", "(default 300)", "--announce-period MS", "(default 1000)",
        "--fault KIND@N[:PARAM]", "-q,--quiet", "-h,--help", "Identity (what the unit announces):",
        "Timing (milliseconds):"})
    EXPECT_NE(help.find(text), std::string::npos) << text;
}

TEST(SimCommandLine, EveryFaultKindHasANameThatParsesBack) {
  for (int k = 0; k <= static_cast<int>(SimFaultKind::AlterWrite); ++k) {
    const auto kind = static_cast<SimFaultKind>(k);
    const std::string text = std::string(SimFaultName(kind)) + "@4";
    const auto fault = ParseSimFault(text, nullptr);
    ASSERT_TRUE(fault) << text;
    EXPECT_EQ(fault->kind, kind);
    EXPECT_EQ(fault->frame, 4u);
    EXPECT_NE(SimUsage().find(SimFaultName(kind)), std::string::npos) << "help lacks " << text;
  }
}

}  // namespace
