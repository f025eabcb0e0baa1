#include "config/config_record.h"
#include "config/config_fields.h"
#include "support/random_record.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Head(const ConfigImage& image) { return Bytes(image.begin(), image.begin() + 39); }

// Rewrites the 24-bit checksum after the body the length field names.
void Reseal(ConfigImage& image) {
  const std::size_t L = (image[4] << 8 | image[5]) + 9;
  if (L > image.size()) return;  // no room for a checksum: left as it is
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 3 < L; ++i) sum += image[i];
  image[L - 3] = static_cast<std::uint8_t>(sum >> 16);
  image[L - 2] = static_cast<std::uint8_t>(sum >> 8);
  image[L - 1] = static_cast<std::uint8_t>(sum);
}

ConfigImage WithByte(ConfigImage image, std::size_t at, std::uint8_t value) {
  image[at] = value;
  Reseal(image);
  return image;
}

ConfigImage WithWord(ConfigImage image, std::size_t at, std::uint16_t value) {
  image[at] = static_cast<std::uint8_t>(value >> 8);
  image[at + 1] = static_cast<std::uint8_t>(value);
  Reseal(image);
  return image;
}

const ConfigImage& DefaultImage() {
  static const ConfigImage image = EncodeConfigImage(DefaultConfig()).image;
  return image;
}

}  // namespace

TEST(ConfigImage, StockRecordsEncodeToTheWorkedImages) {
  const EncodedConfig def = EncodeConfigImage(DefaultConfig());
  EXPECT_EQ(Head(def.image), (Bytes{0xCA, 0xFE, 0xF0, 0xDA, 0x00, 0x1E, 0x01, 0x02, 0x00, 0xB4, 0x04, 0x80, 0x00,
                                    0xC0, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x78, 0x05, 0x0B, 0x5A, 0x05, 0x0B, 0x11,
                                    0x94, 0x05, 0x0B, 0x06, 0x07, 0x0B, 0x28, 0x03, 0x84, 0x05, 0x00, 0x08, 0x55}));
  EXPECT_EQ(def.trailer, (TransferTrailer{0x53, 0x00, 0x07, 0xC9, 0xE9}));

  const EncodedConfig ven = EncodeConfigImage(VentoraPreset());
  EXPECT_EQ(Head(ven.image), (Bytes{0xCA, 0xFE, 0xF0, 0xDA, 0x00, 0x1E, 0x01, 0x02, 0x00, 0x3C, 0x04, 0x80, 0x00,
                                    0xC0, 0x0B, 0x0B, 0x01, 0x01, 0x03, 0x64, 0x0A, 0x03, 0x50, 0x0A, 0x03, 0x11,
                                    0x94, 0x05, 0x03, 0x01, 0x07, 0x03, 0x28, 0x03, 0x84, 0x05, 0x00, 0x07, 0x88}));
  EXPECT_EQ(ven.trailer, (TransferTrailer{0x10, 0x00, 0x07, 0xC9, 0x4E}));

  for (const ConfigImage* image : {&def.image, &ven.image})
    for (std::size_t i = 39; i < ConfigImageSize; ++i) ASSERT_EQ((*image)[i], 0xFF) << i;
}

TEST(ConfigImage, TrailerIsXorThenBigEndianSum) {
  EXPECT_EQ(MakeTrailer({}), (TransferTrailer{0, 0, 0, 0, 0}));
  const Bytes carries{0xFF, 0xFF, 0x01, 0x80};  // sum 0x27F carries into the next byte
  EXPECT_EQ(MakeTrailer(carries), (TransferTrailer{0x81, 0x00, 0x00, 0x02, 0x7F}));
  const Bytes many(70000, 0xFF);  // the sum needs more than 16 bits
  const std::uint32_t sum = 70000u * 255u;
  EXPECT_EQ(MakeTrailer(many), (TransferTrailer{0x00, static_cast<std::uint8_t>(sum >> 24),
                                                static_cast<std::uint8_t>(sum >> 16),
                                                static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)}));
}

// All 32 combinations of the five choices: the code is the two-digit decimal packing, and a
// code byte holding it decodes to the same choices whenever "during" stands alone.
TEST(ConfigImage, AlertEventCodeAllCombinations) {
  for (unsigned bits = 0; bits < 32; ++bits) {
    const AlertChoices c{.BZ_IN = (bits & 1) != 0, .BZ_OUT = (bits & 2) != 0, .BZ_WH = (bits & 4) != 0,
                         .EV_IN = (bits & 8) != 0, .EV_OUT = (bits & 16) != 0};
    const unsigned buzzer = (bits & 7), event = (bits >> 3) & 3;
    SCOPED_TRACE(bits);
    EXPECT_EQ(AlertEventCode(c), 10 * buzzer + event);
    // The field table's weights pack the same code for each condition.
    for (const Condition k : {Condition::VMX, Condition::VCH, Condition::RPX, Condition::OSC, Condition::BGL}) {
      ConfigRecord r;
      r.*FieldOf(k).InRecord.Alerts = c;
      EXPECT_EQ(CodeOf(r, k), AlertEventCode(c));
    }

    const bool consistent = !(c.BZ_WH && (c.BZ_IN || c.BZ_OUT));
    const DecodedConfig d = DecodeConfigImage(WithByte(DefaultImage(), 18, AlertEventCode(c)), false);
    EXPECT_EQ(d.errors, consistent ? 0u : 1u);
    if (consistent) {
      EXPECT_EQ(d.record.VMX_Alerts, c);
    }
  }
  EXPECT_EQ(AlertEventCode(false, false), 0);
  EXPECT_EQ(AlertEventCode(false, true), 1);
  EXPECT_EQ(AlertEventCode(true, false), 10);
  EXPECT_EQ(AlertEventCode(true, true), 11);
  for (const bool buzzer : {false, true})
    for (const bool event : {false, true}) {
      ConfigRecord r;
      r.BZ_ACP = r.BZ_ACN = buzzer;
      r.EV_ACP = r.EV_ACN = event;
      EXPECT_EQ(CodeOf(r, Condition::ACP), AlertEventCode(buzzer, event));
      EXPECT_EQ(CodeOf(r, Condition::ACN), AlertEventCode(buzzer, event));
    }
}

TEST(ConfigImage, StockRecordsDecodeBack) {
  for (const bool force : {false, true}) {
    const DecodedConfig v = DecodeConfigImage(EncodeConfigImage(VentoraPreset()).image, force);
    EXPECT_EQ(v.errors, 0u);
    EXPECT_EQ(v.record, VentoraPreset());
  }
  const DecodedConfig d = DecodeConfigImage(DefaultImage(), false);
  EXPECT_EQ(d.errors, 0u);
  EXPECT_EQ(d.record, DefaultConfig());
  // Against the preset the defaults differ in: PING; the tens digit of both two-choice
  // codes; both digits of the five condition codes; VMX, TVMX, VCH, TVCH and TOSC.
  EXPECT_EQ(DecodeConfigImage(DefaultImage(), true).errors, 1u + 2u + 10u + 5u);
}

TEST(ConfigImage, EncodeDecodeRoundTrip) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 3000; ++i) {
    const ConfigRecord r = RandomRecord(rng);
    const EncodedConfig e = EncodeConfigImage(r);
    ASSERT_EQ(e.trailer, MakeTrailer(e.image));
    const DecodedConfig d = DecodeConfigImage(e.image, false);
    ASSERT_EQ(d.errors, 0u) << i;
    ASSERT_EQ(d.record, r) << i;
    const DecodedConfig forced = DecodeConfigImage(e.image, true);
    ASSERT_EQ(forced.errors == 0, r == VentoraPreset()) << i;
  }
}

TEST(ConfigImage, ForcedPresetCountsEachDifference) {
  const ConfigImage ventora = EncodeConfigImage(VentoraPreset()).image;
  struct Case {
    std::size_t at;
    std::uint8_t value;
    unsigned plain;   // errors without the flag
    unsigned forced;  // errors with it
  };
  const Case cases[] = {
      {9, 10, 0, 1},     // PING 10 instead of 60
      {13, 0x60, 0, 1},  // B232 96 instead of 192
      {14, 12, 0, 1},    // ACP
      {15, 10, 0, 1},    // ACN
      {16, 11, 0, 1},    // buzzer on for acceleration
      {17, 0, 0, 1},     // event off for braking
      {18, 13, 0, 1},    // buzzer at entry on
      {21, 1, 0, 1},     // event at exit off
      {24, 43, 0, 1},    // buzzer during on
      {28, 2, 0, 1},     // event at entry off
      {31, 33, 0, 1},    // buzzer at entry and exit on
      {19, 101, 0, 1}, {20, 9, 0, 1}, {22, 81, 0, 1}, {23, 11, 0, 1}, {26, 0x95, 0, 1}, {27, 6, 0, 1},
      {29, 2, 0, 1},   {30, 8, 0, 1}, {32, 41, 0, 1}, {34, 0x85, 0, 1}, {35, 4, 0, 1},
      // Out-of-range digits count once as such and again against the preset.
      {18, 50, 1, 3},    // tens 5: out of range, not 0; units 0: not 3
      {16, 12, 1, 3},    // tens 1: not 0; units 2: out of range, not 1
      {11, 0x40, 2, 2},  // A232 1088 (not in the table, not 1152); the preset check skips A232
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    const ConfigImage image = WithByte(ventora, c.at, c.value);
    EXPECT_EQ(DecodeConfigImage(image, false).errors, c.plain);
    EXPECT_EQ(DecodeConfigImage(image, true).errors, c.forced);
  }
}

TEST(ConfigImage, DecodeRefusals) {
  struct Case {
    const char* name;
    ConfigImage image;
    unsigned errors;
  };
  ConfigImage badSignature = DefaultImage();
  badSignature[3] = 0x00;
  Reseal(badSignature);
  const ConfigImage longBody = WithWord(DefaultImage(), 4, 2024);
  const Case cases[] = {
      {"A232 57600 is in the table but not allowed", WithWord(DefaultImage(), 10, 576), 1},
      {"A232 500 is neither", WithWord(DefaultImage(), 10, 500), 2},
      {"B232 500", WithWord(DefaultImage(), 12, 500), 1},
      {"PING 0", WithWord(DefaultImage(), 8, 0), 1},
      {"PING, A232 and B232 all wrong", WithWord(WithWord(WithWord(DefaultImage(), 8, 7), 10, 96), 12, 1), 3},
      {"signature CA FE F0 00 with a good checksum", badSignature, 1},
      {"body length 2024 reaches past the image", longBody, 1},
      {"code 50: buzzer during with entry", WithByte(DefaultImage(), 18, 50), 1},
      {"code 14: event digit 4", WithByte(DefaultImage(), 21, 14), 1},
      {"code 74: both digits out of range", WithByte(DefaultImage(), 31, 74), 2},
      {"code 12 for harsh acceleration", WithByte(DefaultImage(), 16, 12), 1},
      {"code 20 for harsh braking", WithByte(DefaultImage(), 17, 20), 1},
      {"code 255 for harsh braking", WithByte(DefaultImage(), 17, 255), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeConfigImage(c.image, false).errors, c.errors);
  }
  // The checksum is not resealed here: exactly one error, the checksum's.
  ConfigImage corrupted = DefaultImage();
  corrupted[19] ^= 1;
  EXPECT_EQ(DecodeConfigImage(corrupted, false).errors, 1u);
}

TEST(ConfigImage, DecodeAcceptsValidCodesAndOddValues) {
  const DecodedConfig during = DecodeConfigImage(WithByte(DefaultImage(), 24, 43), false);
  EXPECT_EQ(during.errors, 0u);
  EXPECT_EQ(during.record.RPX_Alerts,
            (AlertChoices{.BZ_IN = false, .BZ_OUT = false, .BZ_WH = true, .EV_IN = true, .EV_OUT = true}));
  const DecodedConfig accel = DecodeConfigImage(WithByte(DefaultImage(), 16, 11), false);
  EXPECT_EQ(accel.errors, 0u);
  EXPECT_TRUE(accel.record.BZ_ACP && accel.record.EV_ACP);
  // Values are taken as they are: a speed of 200 decodes; the write refuses it later.
  const DecodedConfig fast = DecodeConfigImage(WithByte(DefaultImage(), 19, 200), false);
  EXPECT_EQ(fast.errors, 0u);
  EXPECT_EQ(fast.record.VMX, 200);
  // Bytes 6 and 7 are not examined.
  EXPECT_EQ(DecodeConfigImage(WithWord(DefaultImage(), 6, 0xABCD), false).errors, 0u);
}

TEST(ConfigImage, BodyLengthReachesTheLastByte) {
  // Body length 2023: the checksum sits in the last three bytes and covers 0..2028.
  ConfigImage image = WithWord(DefaultImage(), 4, 2023);
  const DecodedConfig d = DecodeConfigImage(image, false);
  EXPECT_EQ(d.errors, 0u);
  EXPECT_EQ(d.record, DefaultConfig());
  image[2031] ^= 1;
  EXPECT_EQ(DecodeConfigImage(image, false).errors, 1u);
  // A longer body than the tool writes: the checksum moves into the filler, and the fields
  // are still read from their fixed places.
  const DecodedConfig longer = DecodeConfigImage(WithWord(DefaultImage(), 4, 100), false);
  EXPECT_EQ(longer.errors, 0u);
  EXPECT_EQ(longer.record, DefaultConfig());
}

// Random images and mutations of valid ones: nothing outside the image is read (the
// sanitizers watch), and an image that passes yields a record that re-encodes to a passing
// image with the same content.
TEST(ConfigImage, DecodeFuzz) {
  std::mt19937 rng(7);
  const ConfigImage seeds[] = {DefaultImage(), EncodeConfigImage(VentoraPreset()).image};
  unsigned passed = 0;
  for (int i = 0; i < 20000; ++i) {
    ConfigImage image;
    if (i % 4 == 0) {
      for (auto& b : image) b = static_cast<std::uint8_t>(rng());
      image[0] = 0xCA, image[1] = 0xFE, image[2] = 0xF0, image[3] = 0xDA;
    } else {
      image = seeds[rng() % 2];
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) image[rng() % 40] = static_cast<std::uint8_t>(rng());
      if (rng() % 2) {
        if (rng() % 3 == 0) image[4] = static_cast<std::uint8_t>(rng() % 8), image[5] = static_cast<std::uint8_t>(rng());
        if ((image[4] << 8 | image[5]) + 9 <= static_cast<int>(ConfigImageSize)) Reseal(image);
      }
    }
    for (const bool force : {false, true}) {
      const DecodedConfig d = DecodeConfigImage(image, force);
      if (d.errors != 0) continue;
      ++passed;
      const ConfigRecord& r = d.record;
      ASSERT_GE(CodeIndex(NumericFields[0], r.PING), 0);
      ASSERT_EQ(r.A232, 1152);
      ASSERT_GE(CodeIndex(NumericFields[2], r.B232), 0);
      for (const AlertChoices* a : {&r.VMX_Alerts, &r.VCH_Alerts, &r.RPX_Alerts, &r.OSC_Alerts, &r.BGL_Alerts})
        ASSERT_FALSE(a->BZ_WH && (a->BZ_IN || a->BZ_OUT));
      if (force) {
        ASSERT_EQ(r, VentoraPreset());
      }
      const DecodedConfig again = DecodeConfigImage(EncodeConfigImage(r).image, force);
      ASSERT_EQ(again.errors, 0u);
      ASSERT_EQ(again.record, r);
    }
  }
  EXPECT_GT(passed, 1000u);  // the mutations must reach the field checks, not only the checksum
}

