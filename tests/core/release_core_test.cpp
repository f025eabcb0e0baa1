// Release mode core: the identifier list's last-id/count logic, the two identifier formats,
// the scanner collection and the comparison.
#include "release/release_core.h"

// Std
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

// GoogleTest
#include <gtest/gtest.h>

namespace {

using Id = std::array<std::uint32_t, 3>;

bool Record(ReleaseState& state, const Id& id) { return RecordReleaseId(state, id[0], id[1], id[2]); }

TEST(ReleaseList, OnlyConsecutiveRepeatsAreSuppressed) {
  const Id a{0x11111111, 0x22222222, 0x33333333};
  const Id b{0x11111111, 0x22222222, 0x33333334};  // differs only in the lowest word
  ReleaseState state;
  struct Step {
    Id id;
    bool recorded;
    int count;
  };
  const std::vector<Step> steps{{a, true, 1}, {a, false, 1}, {b, true, 2}, {a, true, 3}, {a, false, 3}, {b, true, 4}};
  for (const Step& step : steps) {
    EXPECT_EQ(Record(state, step.id), step.recorded);
    EXPECT_EQ(state.Count, step.count);
    EXPECT_EQ(state.LastId, step.id);
  }
}

TEST(ReleaseList, ZeroIdentifierEqualsTheResetStateUntilAnotherWasRecorded) {
  ReleaseState state;
  EXPECT_FALSE(Record(state, {0, 0, 0}));
  EXPECT_EQ(state.Count, 0);
  EXPECT_TRUE(Record(state, {0, 0, 1}));
  EXPECT_TRUE(Record(state, {0, 0, 0}));
  EXPECT_EQ(state.Count, 2);

  ResetReleaseList(state);
  EXPECT_EQ(state.Count, 0);
  EXPECT_EQ(state.LastId, (Id{0, 0, 0}));
  EXPECT_FALSE(Record(state, {0, 0, 0}));
}

TEST(ReleaseList, ResetForgetsTheLastIdentifierButNotTheScan) {
  ReleaseState state;
  ASSERT_TRUE(Record(state, {1, 2, 3}));
  EXPECT_FALSE(ScannerFeed(state, '7', false).has_value());
  ResetReleaseList(state);
  EXPECT_TRUE(Record(state, {1, 2, 3}));  // the same unit is recorded again after "Limpar"
  EXPECT_EQ(state.Count, 1);
  EXPECT_EQ(state.ScanPos, 1);
  EXPECT_EQ(state.ScanChars[0], '7');
}

TEST(ReleaseIdFormat, EightUpperCaseDigitsPerWordHighestFirst) {
  const std::vector<std::tuple<Id, std::string, std::string>> cases{
      {{0, 0, 0}, "00000000 00000000 00000000", "000000000000000000000000"},
      {{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, "FFFFFFFF FFFFFFFF FFFFFFFF", "FFFFFFFFFFFFFFFFFFFFFFFF"},
      {{0x0123ABCD, 0x00000001, 0xDEADBEEF}, "0123ABCD 00000001 DEADBEEF", "0123ABCD00000001DEADBEEF"},
      {{0x80000000, 0x0000000A, 0x00F00F00}, "80000000 0000000A 00F00F00", "800000000000000A00F00F00"},
  };
  for (const auto& [id, line, text] : cases) {
    EXPECT_EQ(ReleaseIdLine(id[0], id[1], id[2]), line);
    EXPECT_EQ(ReleaseIdText(id[0], id[1], id[2]), text);
  }
}

TEST(Scanner, AcceptsOnlyMainDigitsAndLettersAToFWithoutCtrl) {
  int accepted = 0;
  for (unsigned key = 0; key <= 0xFFFF; ++key) {
    const auto code = static_cast<std::uint16_t>(key);
    EXPECT_FALSE(ScannerAccepts(code, true)) << key;
    if (ScannerAccepts(code, false)) {
      ++accepted;
      EXPECT_TRUE((key >= '0' && key <= '9') || (key >= 'A' && key <= 'F')) << key;
    }
  }
  EXPECT_EQ(accepted, 16);
  // Keypad digits (0x60-0x69), G and the high byte of a wider code are not taken.
  for (const std::uint16_t key : {0x60, 0x69, 0x47, 0x130, 0x141, 0x2F, 0x3A, 0x40})
    EXPECT_FALSE(ScannerAccepts(key, false)) << key;
}

std::optional<std::string> Feed(ReleaseState& state, const std::string& keys) {
  std::optional<std::string> last;
  for (const char key : keys)
    if (auto done = ScannerFeed(state, static_cast<std::uint8_t>(key), false))
      last = done;
  return last;
}

TEST(Scanner, TwentyFourKeysCompleteAScanAndTheNextStartsAfresh) {
  ReleaseState state;
  const std::string first = "0123456789ABCDEF01234567";
  std::optional<std::string> done;
  for (std::size_t i = 0; i < first.size(); ++i) {
    done = ScannerFeed(state, static_cast<std::uint8_t>(first[i]), false);
    EXPECT_EQ(done.has_value(), i + 1 == first.size()) << i;
  }
  ASSERT_TRUE(done);
  EXPECT_EQ(*done, first);
  EXPECT_EQ(state.ScanPos, 0);

  const std::string second = "FEDCBA987654321000000000";
  EXPECT_EQ(Feed(state, second), second);
}

TEST(Scanner, IgnoredKeysLeaveTheCollectionAsItWas) {
  ReleaseState state;
  ASSERT_FALSE(Feed(state, "ABC"));
  const ReleaseState before = state;
  for (const std::uint16_t key : {0x61, 0x47, 0x60, 0x7B, 0x0D, 0x20, 0x10, 0x11})
    EXPECT_FALSE(ScannerFeed(state, key, false));
  EXPECT_FALSE(ScannerFeed(state, '5', true));  // Ctrl held
  EXPECT_EQ(state.ScanPos, before.ScanPos);
  EXPECT_EQ(state.ScanChars, before.ScanChars);
}

TEST(Scanner, RestartAfterAnInterruptedScan) {
  ReleaseState state;
  ASSERT_FALSE(Feed(state, std::string(23, 'A')));
  RestartScanner(state);
  EXPECT_EQ(state.ScanPos, 0);
  EXPECT_EQ(state.ScanChars, (std::array<char, ScanLength + 1>{}));
  EXPECT_FALSE(Feed(state, std::string(23, 'B')));
  EXPECT_EQ(Feed(state, "C"), std::string(23, 'B') + "C");
}

TEST(Scanner, AWildPositionNeverWritesPastTheBuffer) {
  ReleaseState state;
  state.ScanPos = 200;  // only a fault elsewhere could do this
  EXPECT_FALSE(ScannerFeed(state, '1', false));
  EXPECT_EQ(state.ScanPos, 1);
  EXPECT_EQ(state.ScanChars[0], '1');
}

TEST(CompareIds, EqualDifferentAndNothingToCompare) {
  const std::vector<std::tuple<std::string, std::string, IdMatch>> cases{
      {"", "", IdMatch::Start},
      {"0123ABCD00000001DEADBEEF", "0123ABCD00000001DEADBEEF", IdMatch::Equal},
      {"0123ABCD00000001DEADBEEF", "0123ABCD00000001DEADBEEE", IdMatch::Different},
      {"0123ABCD00000001DEADBEEF", "0123abcd00000001deadbeef", IdMatch::Different},  // case matters
      {"0123ABCD00000001DEADBEEF", "", IdMatch::Different},
      {"", "0123ABCD00000001DEADBEEF", IdMatch::Different},
      {"0123ABCD", "0123ABCD00000001DEADBEEF", IdMatch::Different},
  };
  for (const auto& [usb, scanned, expected] : cases)
    EXPECT_EQ(CompareIds(usb, scanned), expected) << usb << " / " << scanned;
}

}  // namespace
