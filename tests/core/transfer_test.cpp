// The transfer engine's arithmetic: slicing, the tick state machine, the token, the read
// requests and where read answers land; the identity rules; the carried firmware image.
#include "protocol/service_rules.h"
#include "transfer/firmware.h"
#include "transfer/transfer_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

std::vector<std::uint8_t> Counting(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), std::uint8_t{0});
  return v;
}

TransferState Prepared(const std::vector<std::uint8_t>& data) {
  TransferState s;
  s.Kind = TransferConfig;
  s.Data = data;
  s.Length = static_cast<std::uint32_t>(data.size());
  s.Trailer = {0xC0, 0x00, 0x78, 0xEB, 0x6A};
  s.BlockCount = TransferBlockCount(s.Length);
  s.Token = 0x1234;
  return s;
}

std::size_t DataBytes(const std::vector<std::uint8_t>& payload) { return payload.size() - 6; }

}  // namespace

TEST(BlockSlicing, CountsAndSizesOfEveryLength) {
  struct Case {
    std::uint32_t length, count, lastDataIndex, lastDataBytes;
  };
  const Case cases[] = {
      {0, 1, 0, 0},          // the trailer frame alone
      {48, 2, 1, 48},        {49, 3, 2, 1},        {96, 3, 2, 48},
      {2032, 44, 43, 16},    {90548, 1888, 1887, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const auto data = Counting(c.length);
    const TransferState s = Prepared(data);
    ASSERT_EQ(s.BlockCount, c.count);
    std::size_t total = 0;
    for (std::uint32_t i = 1; i < s.BlockCount; ++i) {
      const auto p = BlockFramePayload(s, i);
      EXPECT_EQ(DataBytes(p), i == c.lastDataIndex ? c.lastDataBytes : 48u) << "frame " << i;
      // The slice is the data from (i - 1) x 48 on.
      EXPECT_EQ(p[6], data[(i - 1) * 48]);
      total += DataBytes(p);
    }
    EXPECT_EQ(total, c.length);
    const auto trailer = BlockFramePayload(s, s.BlockCount);
    EXPECT_EQ(std::vector<std::uint8_t>(trailer.begin() + 6, trailer.end()),
              (std::vector<std::uint8_t>{0xC0, 0x00, 0x78, 0xEB, 0x6A}));
  }
}

TEST(BlockSlicing, HeaderCarriesTokenIndexAndCount) {
  const auto data = Counting(100);
  const auto p = BlockFramePayload(Prepared(data), 2);
  EXPECT_EQ(p[0], 0x12);
  EXPECT_EQ(p[1], 0x34);
  EXPECT_EQ(p[3], 2);
  EXPECT_EQ(p[5], 4);  // 48 + 48 + 4, plus the trailer frame
}

TEST(BlockSlicing, NeverReadsPastTheDataInHand) {
  const auto data = Counting(10);
  TransferState s = Prepared(data);
  s.Length = 5000;  // claims more than the span holds
  s.BlockCount = TransferBlockCount(s.Length);
  for (std::uint32_t i = 0; i <= s.BlockCount + 2; ++i) (void)BlockFramePayload(s, i);
  EXPECT_EQ(DataBytes(BlockFramePayload(s, 1)), 10u);
  EXPECT_EQ(DataBytes(BlockFramePayload(s, 2)), 0u);
}

TEST(TransferTick, FirstTickSendsFrameOneThenAdvancesOnlyOnItsAcknowledgement) {
  const auto data = Counting(100);
  TransferState s = Prepared(data);
  s.LastAckIndex = NoAckIndex;
  EXPECT_TRUE(TransferTick(s).send);
  EXPECT_EQ(s.Index, 1u);
  // An acknowledgement of another index: the same frame goes out again.
  s.Acknowledged = true;
  s.LastAckIndex = 7;
  EXPECT_TRUE(TransferTick(s).send);
  EXPECT_EQ(s.Index, 1u);
  s.Acknowledged = true;
  s.LastAckIndex = 1;
  EXPECT_TRUE(TransferTick(s).send);
  EXPECT_EQ(s.Index, 2u);
  EXPECT_FALSE(s.Acknowledged);
}

TEST(TransferTick, SilenceResendsAtThreeFiveSevenAndGivesUpAtTen) {
  const auto data = Counting(100);
  TransferState s = Prepared(data);
  (void)TransferTick(s);  // frame 1
  std::vector<int> sends, giveUps;
  for (int tick = 1; tick <= 10; ++tick) {
    const TickOutcome out = TransferTick(s);
    if (out.send) sends.push_back(tick);
    if (out.giveUp) giveUps.push_back(tick);
  }
  EXPECT_EQ(sends, (std::vector<int>{3, 5, 7}));
  EXPECT_EQ(giveUps, (std::vector<int>{10}));
  EXPECT_EQ(s.Index, 1u);
}

TEST(TransferTick, NeverStepsPastTheLastFrame) {
  TransferState s = Prepared({});
  EXPECT_TRUE(TransferTick(s).send);
  EXPECT_EQ(s.Index, 1u);
  s.Acknowledged = true;
  s.LastAckIndex = 1;
  (void)TransferTick(s);
  EXPECT_EQ(s.Index, 1u);
}

TEST(TransferToken, WorkedExampleAndShiftRotation) {
  std::uint8_t shift = 5;
  const auto never = [] { return 0xDEADu; };
  EXPECT_EQ(MakeTransferToken(0xFFFF, "31/01/202414:05:09", shift, never), 0x4000u);
  EXPECT_EQ(shift, 6);
  std::vector<int> seen;
  for (int i = 0; i < 8; ++i) {
    seen.push_back(shift);
    (void)MakeTransferToken(0xFFFF, "x", shift, never);
  }
  EXPECT_EQ(seen, (std::vector<int>{6, 7, 8, 9, 10, 11, 5, 6}));
}

TEST(TransferToken, ZeroProductFallsBackToTheGeneratorWithinTheMask) {
  std::uint8_t shift = 5;
  // Short text: the missing characters count as 0, so the product is 0.
  EXPECT_EQ(MakeTransferToken(0xFFFF, "12", shift, [] { return 0x12345u; }), 0x12345u % 0xFFFF);
  EXPECT_EQ(MakeTransferToken(0, "12", shift, [] { return 7u; }), 0u);
}

TEST(ConfigReadRequests, FiveRequestsCoverTheArea) {
  std::uint32_t bytes = 0;
  for (std::uint32_t i = 1; i <= ReadBlockCount; ++i) {
    const ConfigReadRequest r = ReadRequestFor(i, 0x00010000);
    EXPECT_EQ(r.address, 0x00010000 + (i - 1) * 500);
    EXPECT_EQ(r.count, i == 5 ? 32 : 500);
    bytes += r.count;
  }
  EXPECT_EQ(ReadBlockCount, 5u);
  EXPECT_EQ(bytes, 2032u);
}

TEST(ConfigReadAnswers, LandAtTheirOffsetOrAreDropped) {
  const std::vector<std::uint8_t> bytes(500, 0xAB);
  struct Case {
    std::uint32_t address;
    std::size_t n;
    std::optional<std::uint32_t> block;
  };
  const std::uint32_t base = 0x8000;
  const Case cases[] = {
      {base, 500, 1},         {base + 1500, 500, 4}, {base + 2000, 32, 5},
      {base + 1999, 33, 4},   {base + 2000, 33, std::nullopt},  // one byte past the end
      {base - 1, 1, std::nullopt}, {base + 5000, 1, std::nullopt},
      {base + 10, 3, 1},  // a short answer still acknowledges its block
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address - base);
    ConfigImage image{};
    const auto block = PlaceConfigData(image, base, ConfigData{c.address, std::span(bytes).first(c.n)});
    EXPECT_EQ(block, c.block);
    const auto written = std::count(image.begin(), image.end(), 0xAB);
    EXPECT_EQ(written, block ? static_cast<std::ptrdiff_t>(c.n) : 0);
  }
}

TEST(IdentityRules, FirmwareAndKindDecideWhatHappens) {
  struct Case {
    std::uint8_t kind, major, minor;
    IdentityAction action;
    bool release;
  };
  const Case cases[] = {
      {4, 2, 45, IdentityAction::UploadFirmware, false}, {3, 2, 45, IdentityAction::UploadFirmware, false},
      {41, 2, 45, IdentityAction::UploadFirmware, false}, {4, 2, 46, IdentityAction::ReadConfig, true},
      {41, 2, 46, IdentityAction::ReadConfig, true},    {3, 2, 46, IdentityAction::ReadConfig, false},
      {4, 2, 200, IdentityAction::ReadConfig, false},   {4, 3, 0, IdentityAction::ReadConfig, false},
      {4, 255, 255, IdentityAction::UploadFirmware, false}, {4, 255, 0, IdentityAction::ReadConfig, false},
      {4, 99, 0, IdentityAction::UploadFirmware, false}, {4, 1, 99, IdentityAction::UploadFirmware, false},
      {1, 2, 46, IdentityAction::Discontinued, false},  {2, 1, 0, IdentityAction::Discontinued, false},
      {5, 2, 45, IdentityAction::None, false},          {0, 0, 0, IdentityAction::None, false},
  };
  for (const Case& c : cases) {
    TDeviceInfo info;
    info.Mode = 1;
    info.Version = {c.kind, 0, c.major, c.minor};
    EXPECT_EQ(ActionFor(info), c.action) << int(c.kind) << " " << int(c.major) << "." << int(c.minor);
    EXPECT_EQ(IsCurrentReleaseUnit(info), c.release) << int(c.kind) << " " << int(c.major) << "." << int(c.minor);
  }
}

TEST(IdentityRules, IdentityLineShowsHighestWordFirst) {
  TDeviceInfo info;
  info.Version = {4, 7, 2, 46};
  info.Id = {0x00000001, 0xABCDEF01, 0x0000FFFF};
  EXPECT_EQ(IdentityLine(info), "ZPi v4.7.2.46\r\nId: 0000FFFF ABCDEF01 00000001");
  EXPECT_EQ(IdentityLine(info, "  "), "ZPi v4.7.2.46  Id: 0000FFFF ABCDEF01 00000001");
  info.Version = {41, 255, 255, 255};
  EXPECT_EQ(FirmwareText(info), "255.255");
  EXPECT_EQ(UnitVersionText(info), "41.255.255.255");
}

TEST(FirmwareImage, AgreesWithItsTrailer) {
  const auto image = FirmwareImage();
  ASSERT_EQ(image.size(), 90548u);
  std::uint8_t x = 0;
  std::uint32_t sum = 0;
  for (std::uint8_t b : image) {
    x ^= b;
    sum += b;
  }
  EXPECT_EQ(MakeTrailer(image), FirmwareTrailer());
  EXPECT_EQ(FirmwareTrailer(), (TransferTrailer{0xC0, 0x00, 0x78, 0xEB, 0x6A}));
  EXPECT_EQ(x, 0xC0);
  EXPECT_EQ(sum, 0x0078EB6Au);
}
