#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

// A frame with any header values and a sum that is right for them.
Bytes RawFrame(std::uint8_t address, std::uint8_t command, std::uint16_t length, const Bytes& payload) {
  Bytes f = {FrameStart, address, command, static_cast<std::uint8_t>(length >> 8),
             static_cast<std::uint8_t>(length)};
  f.insert(f.end(), payload.begin(), payload.end());
  PutU24(f, FrameSum(f));
  return f;
}

Bytes Filled(std::size_t n, std::uint8_t first = 0) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), first);
  return b;
}

Bytes FromUnit(std::uint8_t command, const Bytes& payload) { return BuildFrame(command, payload, UnitToTool); }

}  // namespace

TEST(Frame, JumpFrameIsTheWorkedExample) {
  EXPECT_EQ(BuildFrame(CmdJump, {}), (Bytes{0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}));
}

TEST(Frame, WorkedExamplesByteForByteAndTheUnitAcceptsThem) {
  const struct {
    const char* name;
    std::uint8_t command;
    Bytes payload;
    Bytes frame;
  } table[] = {
      {"jump", CmdJump, {}, {0xBC, 0x21, 0x05, 0x00, 0x00, 0x00, 0x00, 0xE2}},
      {"read request",
       CmdConfigRead,
       ConfigReadRequestPayload(0x00010000, 500),
       {0xBC, 0x21, 0x07, 0x00, 0x06, 0x00, 0x01, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x01, 0xE0}},
      {"last firmware frame",
       CmdFirmwareBlock,
       {0x12, 0x34, 0x07, 0x60, 0x07, 0x60, 0xC0, 0x00, 0x78, 0xEB, 0x6A},
       {0xBC, 0x21, 0x01, 0x00, 0x0B, 0x12, 0x34, 0x07, 0x60, 0x07, 0x60, 0xC0, 0x00, 0x78, 0xEB, 0x6A, 0x00,
        0x04, 0x8A}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(BuildFrame(row.command, row.payload), row.frame);

    const CheckedFrame unit = CheckFrame(row.frame, UnitAddress);
    ASSERT_EQ(unit.outcome, FrameOutcome::Accepted);
    EXPECT_EQ(unit.command, row.command);
    EXPECT_EQ(unit.length, row.payload.size());
    EXPECT_TRUE(std::equal(unit.payload.begin(), unit.payload.end(), row.payload.begin(), row.payload.end()));
    EXPECT_FALSE(unit.trailingBytes);
    // The tool does not take its own frames.
    EXPECT_EQ(CheckFrame(row.frame).outcome, FrameOutcome::WrongDestination);
  }
  const auto block = ParseBlockPayload(table[2].payload);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->token, 0x1234);
  EXPECT_EQ(block->index, 1888);
  EXPECT_EQ(block->count, 1888);
  EXPECT_EQ(Bytes(block->data.begin(), block->data.end()), (Bytes{0xC0, 0x00, 0x78, 0xEB, 0x6A}));
  const auto request = ParseConfigReadRequest(table[1].payload);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->address, 0x00010000u);
  EXPECT_EQ(request->count, 500);
}

TEST(Frame, SumOfEveryByteValueIsTheLow24BitsBigEndian) {
  // All 256 values once: 0 + 1 + ... + 255 = 32640 = 0x007F80.
  const Bytes all = Filled(256);
  EXPECT_EQ(FrameSum(all), 0x7F80u);
  for (int v = 0; v < 256; ++v) {
    const Bytes one = {static_cast<std::uint8_t>(v)};
    const Bytes f = BuildFrame(0x40, one);
    const std::uint32_t sum = 0xBC + 0x21 + 0x40 + 0x00 + 0x01 + static_cast<std::uint32_t>(v);
    ASSERT_EQ(f.size(), 9u);
    EXPECT_EQ(f[6], (sum >> 16) & 0xFF);
    EXPECT_EQ(f[7], (sum >> 8) & 0xFF);
    EXPECT_EQ(f[8], sum & 0xFF);
  }
  // Wraps past 24 bits rather than spilling.
  EXPECT_EQ(FrameSum(Bytes(70000, 0xFF)), (70000u * 0xFF) & 0xFFFFFFu);
}

TEST(Frame, AcceptanceRulesAreTriedInOrder) {
  const Bytes empty = FromUnit(CmdRefusal, {});  // 8 bytes, empty payload
  Bytes badStartAndShort = {0x00, 0x12, 0x02, 0x00};
  Bytes badSumTooLong = RawFrame(0x12, CmdAck, 1020, {});
  badSumTooLong.back() ^= 0xFF;
  Bytes noStartWrongSum = empty;
  noStartWrongSum[0] = 0xBD;
  noStartWrongSum.back() ^= 1;
  Bytes badSumWrongDest = RawFrame(0x21, CmdAck, 2, {0, 1});
  badSumWrongDest.back() ^= 1;
  const Bytes ack = FromUnit(CmdAck, {0, 1});
  Bytes tooLongWithTruncation = {0xBC, 0x12, 0x02, 0x03, 0xFC, 0, 0, 0};  // L = 1020, 8 bytes

  const struct {
    const char* name;
    Bytes bytes;
    FrameOutcome outcome;
  } table[] = {
      {"nothing", {}, FrameOutcome::ShortRead},
      {"seven bytes", Bytes(empty.begin(), empty.end() - 1), FrameOutcome::ShortRead},
      {"eight bytes", empty, FrameOutcome::Accepted},
      {"short beats start byte", badStartAndShort, FrameOutcome::ShortRead},
      {"start byte beats sum", noStartWrongSum, FrameOutcome::NoStartByte},
      {"L = 1019", RawFrame(0x12, CmdConfigRead, 1019, Filled(1019, 7)), FrameOutcome::Accepted},
      {"L = 1020, right sum", RawFrame(0x12, CmdConfigRead, 1020, Filled(1020, 7)), FrameOutcome::TooLong},
      {"L = 1020, wrong sum", badSumTooLong, FrameOutcome::TooLong},
      {"too long beats truncation", tooLongWithTruncation, FrameOutcome::TooLong},
      {"L = 65535", {0xBC, 0x12, 0x02, 0xFF, 0xFF, 0, 0, 0}, FrameOutcome::TooLong},
      {"length past the bytes", {0xBC, 0x12, 0x02, 0x00, 0x05, 0, 0, 0, 0}, FrameOutcome::Truncated},
      {"one byte missing", Bytes(ack.begin(), ack.end() - 1), FrameOutcome::Truncated},
      {"sum beats destination", badSumWrongDest, FrameOutcome::BadChecksum},
      {"address 0x12", RawFrame(0x12, CmdAck, 2, {0, 1}), FrameOutcome::Accepted},
      {"address 0x02", RawFrame(0x02, CmdAck, 2, {0, 1}), FrameOutcome::Accepted},
      {"address 0xF2", RawFrame(0xF2, CmdAck, 2, {0, 1}), FrameOutcome::Accepted},
      {"address 0x21", RawFrame(0x21, CmdAck, 2, {0, 1}), FrameOutcome::WrongDestination},
      {"address 0x20", RawFrame(0x20, CmdAck, 2, {0, 1}), FrameOutcome::WrongDestination},
      {"address 0x23", RawFrame(0x23, CmdAck, 2, {0, 1}), FrameOutcome::WrongDestination},
  };
  for (const auto& row : table) {
    const CheckedFrame f = CheckFrame(row.bytes);
    EXPECT_EQ(f.outcome, row.outcome) << row.name;
    if (f.outcome != FrameOutcome::Accepted) {
      EXPECT_TRUE(f.payload.empty()) << row.name;
    }
  }
}

TEST(Frame, EveryPayloadBitMattersToTheSum) {
  const Bytes good = FromUnit(CmdDeviceInfo, Filled(45, 0x30));
  for (std::size_t i = 0; i < good.size(); ++i) {
    if (i == 0) continue;  // the start byte has its own outcome
    for (int bit = 0; bit < 8; ++bit) {
      Bytes bad = good;
      bad[i] = static_cast<std::uint8_t>(bad[i] ^ (1u << bit));
      const FrameOutcome o = CheckFrame(bad).outcome;
      EXPECT_NE(o, FrameOutcome::Accepted) << "byte " << i << " bit " << bit;
    }
  }
}

TEST(Frame, TwoFramesInOneEventGiveTheFirstAndNoteTheRest) {
  const Bytes first = FromUnit(CmdAck, {0x00, 0x07});
  const Bytes second = FromUnit(CmdAck, {0x00, 0x08});
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  const CheckedFrame f = CheckFrame(both);
  ASSERT_EQ(f.outcome, FrameOutcome::Accepted);
  EXPECT_TRUE(f.trailingBytes);
  EXPECT_EQ(ParseAck(f.payload), 7);
  EXPECT_EQ(f.payload.data(), both.data() + 5);

  // A single surplus byte counts too; an exact frame does not.
  Bytes plusOne = first;
  plusOne.push_back(0xBC);
  EXPECT_TRUE(CheckFrame(plusOne).trailingBytes);
  EXPECT_FALSE(CheckFrame(first).trailingBytes);
}

TEST(Frame, ASplitFrameIsJudgedInPieces) {
  const Bytes whole = FromUnit(CmdDeviceInfo, Filled(45));
  const Bytes head(whole.begin(), whole.begin() + 20);
  const Bytes tail(whole.begin() + 20, whole.end());
  EXPECT_EQ(CheckFrame(head).outcome, FrameOutcome::Truncated);
  EXPECT_EQ(CheckFrame(tail).outcome, FrameOutcome::NoStartByte);
  EXPECT_EQ(CheckFrame(Bytes(whole.begin(), whole.begin() + 5)).outcome, FrameOutcome::ShortRead);
}

TEST(Frame, DeviceInformationFieldsSitWhereTheUnitPutsThem) {
  Bytes p(45, 0);
  p[0] = 1;                                              // service mode
  for (int i = 0; i < 4; ++i) p[1 + i] = static_cast<std::uint8_t>(0x11 + i);  // ID word 1 (lowest)
  for (int i = 0; i < 4; ++i) p[5 + i] = static_cast<std::uint8_t>(0x21 + i);  // ID word 2
  for (int i = 0; i < 4; ++i) p[9 + i] = static_cast<std::uint8_t>(0x31 + i);  // ID word 3 (highest)
  std::fill(p.begin() + 13, p.begin() + 37, 'x');        // texts A and B, unused
  p[37] = 41;
  p[38] = 7;
  p[39] = 2;
  p[40] = 46;
  p[41] = 0x00;
  p[42] = 0x01;
  p[43] = 0x80;
  p[44] = 0x00;
  const auto info = ParseDeviceInfo(p);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Mode, 1);
  EXPECT_EQ(info->Id[0], 0x11121314u);
  EXPECT_EQ(info->Id[1], 0x21222324u);
  EXPECT_EQ(info->Id[2], 0x31323334u);
  EXPECT_EQ(info->Version, (std::array<std::uint8_t, 4>{41, 7, 2, 46}));
  EXPECT_EQ(info->ConfigBaseAddress, 0x00018000u);

  // The unit's side writes the same layout.
  const Bytes textA(12, 'x'), textB(20, 'x');  // B is cut to 12
  EXPECT_EQ(DeviceInfoPayload(*info, textA, textB), p);
  Bytes padded = p;
  std::fill(padded.begin() + 13, padded.begin() + 37, 0);
  EXPECT_EQ(DeviceInfoPayload(*info), padded);
}

TEST(Frame, PayloadAccessorsRefuseShortPayloads) {
  // Every accessor on every length from 0 to its minimum and a little past: never a read
  // outside the bytes (each case is its own exactly-sized allocation for the sanitizer).
  for (std::size_t n = 0; n <= 50; ++n) {
    const Bytes p = Filled(n, 1);
    EXPECT_EQ(ParseAck(p).has_value(), n >= 2) << n;
    EXPECT_EQ(ParseDeviceInfo(p).has_value(), n >= 45) << n;
    EXPECT_EQ(ParseConfigReadRequest(p).has_value(), n >= 6) << n;
    EXPECT_EQ(ParseBlockPayload(p).has_value(), n >= 6) << n;
    const auto block = ParseBlockPayload(p);
    if (block) {
      EXPECT_EQ(block->data.size(), n - 6);
    }
  }
  EXPECT_EQ(ParseAck(Bytes{0x07, 0x60, 0xFF}), 0x0760);
}

TEST(Frame, ConfigurationDataNeedsOneByteAndAnInsideCount) {
  const auto payload = [](std::uint16_t n, std::size_t dataBytes) {
    Bytes p = {0x00, 0x01, 0x05, 0xDC};  // address 0x000105DC
    PutU16(p, n);
    const Bytes data = Filled(dataBytes, 0xA0);
    p.insert(p.end(), data.begin(), data.end());
    return p;
  };
  const struct {
    const char* name;
    Bytes p;
    bool ok;
    std::size_t size;
  } table[] = {
      {"header only", payload(0, 0), false, 0},
      {"one byte", payload(1, 1), true, 1},
      {"n runs past the end", payload(3, 2), false, 0},
      {"n = 65535", payload(0xFFFF, 10), false, 0},
      {"n exact", payload(500, 500), true, 500},
      {"bytes beyond n are left out", payload(2, 5), true, 2},
      {"five bytes", Bytes{0, 0, 0, 0, 0}, false, 0},
  };
  for (const auto& row : table) {
    const auto c = ParseConfigData(row.p);
    ASSERT_EQ(c.has_value(), row.ok) << row.name;
    if (!c) continue;
    EXPECT_EQ(c->address, 0x000105DCu) << row.name;
    EXPECT_EQ(c->data.size(), row.size) << row.name;
    EXPECT_EQ(c->data.data(), row.p.data() + 6) << row.name;
  }
}

TEST(Frame, BigEndianHelpersStayInsideTheirSpan) {
  const Bytes b = {0x01, 0x02, 0x03, 0x04, 0x05};
  EXPECT_EQ(ReadU16(b, 3), 0x0405);
  EXPECT_FALSE(ReadU16(b, 4));
  EXPECT_FALSE(ReadU16(b, 5));
  EXPECT_FALSE(ReadU16(b, SIZE_MAX));
  EXPECT_EQ(ReadU32(b, 1), 0x02030405u);
  EXPECT_FALSE(ReadU32(b, 2));
  EXPECT_FALSE(ReadU32(b, SIZE_MAX - 1));
  Bytes out;
  PutU16(out, 0xABCD);
  PutU24(out, 0x123456);
  PutU32(out, 0xDEADBEEF);
  EXPECT_EQ(out, (Bytes{0xAB, 0xCD, 0x12, 0x34, 0x56, 0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(Frame, BuiltFramesOfEveryLengthCheckOut) {
  for (std::size_t n = 0; n <= MaxFramePayload; n += (n < 64 ? 1 : 37)) {
    const Bytes payload = Filled(n, static_cast<std::uint8_t>(n));
    const Bytes f = FromUnit(CmdConfigRead, payload);
    ASSERT_EQ(f.size(), n + FrameOverhead);
    const CheckedFrame c = CheckFrame(f);
    ASSERT_EQ(c.outcome, FrameOutcome::Accepted) << n;
    EXPECT_EQ(c.length, n);
    EXPECT_TRUE(std::equal(c.payload.begin(), c.payload.end(), payload.begin(), payload.end()));
  }
}

// Random and mutated byte strings through the check and every accessor. Under the
// sanitizers any read outside the bytes is a failure; the invariants catch the rest.
TEST(Frame, FuzzedBytesNeverReadOutsideAndAcceptedFramesAreConsistent) {
  std::mt19937 rng(20240611);
  const auto byte = [&] { return static_cast<std::uint8_t>(rng() & 0xFF); };
  const Bytes seeds[] = {
      FromUnit(CmdAck, {0x00, 0x01}),
      FromUnit(CmdDeviceInfo, Filled(45, 3)),
      FromUnit(CmdConfigRead, ConfigReadRequestPayload(0x10000, 500)),
      FromUnit(CmdConfigRead, Filled(506, 9)),
      FromUnit(CmdOperatingMode, {}),
  };
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    Bytes bytes;
    switch (round % 4) {
      case 0: {  // random noise, sometimes with a plausible start
        bytes.resize(rng() % 40);
        for (auto& b : bytes) b = byte();
        if (!bytes.empty() && rng() % 2) bytes[0] = FrameStart;
        break;
      }
      case 1: {  // a valid frame with a few bytes flipped
        bytes = seeds[rng() % std::size(seeds)];
        for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) bytes[rng() % bytes.size()] ^= byte();
        break;
      }
      case 2: {  // cut or extended
        bytes = seeds[rng() % std::size(seeds)];
        if (rng() % 2)
          bytes.resize(rng() % (bytes.size() + 1));
        else
          for (int k = static_cast<int>(rng() % 20); k > 0; --k) bytes.push_back(byte());
        break;
      }
      default: {  // random payload with a right sum, length field sometimes lying
        Bytes payload(rng() % 80);
        for (auto& b : payload) b = byte();
        const std::uint16_t length =
            rng() % 3 ? static_cast<std::uint16_t>(payload.size()) : static_cast<std::uint16_t>(rng() % 1100);
        bytes = RawFrame(static_cast<std::uint8_t>(byte() | (rng() % 2 ? 0x02 : 0)), byte(), length, payload);
        break;
      }
    }
    const CheckedFrame f = CheckFrame(bytes);
    if (f.outcome != FrameOutcome::Accepted) {
      ASSERT_TRUE(f.payload.empty());
      continue;
    }
    ++accepted;
    ASSERT_GE(bytes.size(), FrameOverhead + f.length);
    ASSERT_EQ(f.payload.size(), f.length);
    ASSERT_EQ(f.payload.data(), bytes.data() + 5);
    ASSERT_EQ(f.trailingBytes, bytes.size() > FrameOverhead + f.length);
    ASSERT_EQ(f.address & 0x0F, ToolAddress);
    const std::span<const std::uint8_t> all(bytes);
    ASSERT_EQ(FrameSum(all.first(5 + f.length)),
              std::uint32_t{bytes[5 + f.length]} << 16 | std::uint32_t{bytes[6 + f.length]} << 8 | bytes[7 + f.length]);
    (void)ParseAck(f.payload);
    (void)ParseDeviceInfo(f.payload);
    (void)ParseConfigReadRequest(f.payload);
    if (const auto c = ParseConfigData(f.payload)) {
      ASSERT_GE(c->data.data(), f.payload.data() + 6);
      ASSERT_LE(c->data.data() + c->data.size(), f.payload.data() + f.payload.size());
    }
    if (const auto b = ParseBlockPayload(f.payload)) {
      ASSERT_EQ(b->data.size(), f.payload.size() - 6);
    }
  }
  EXPECT_GT(accepted, 1000);  // the accepted path was exercised, not only the refusals
}
