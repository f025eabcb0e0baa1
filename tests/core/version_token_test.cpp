#include "update/version_token.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>
#include <string>

#include "update/old_executables.h"

namespace {

const std::string OwnToken = "#*$(002.046.066@@002.046.066)$*#";

std::string Padded(const std::string& text, std::size_t length, char fill = ' ') {
  std::string out = text;
  out.resize(length, fill);
  return out;
}

std::string WithChar(std::string text, std::size_t at, char c) {
  text[at] = c;
  return text;
}

struct TokenCase {
  const char* what;
  std::string text;
  std::optional<ToolVersion> expected;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.what; }

class VersionTokenTable : public ::testing::TestWithParam<TokenCase> {};

TEST_P(VersionTokenTable, Parses) {
  const TokenCase& c = GetParam();
  const auto got = ParseVersionToken(c.text);
  ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.what;
  if (got) {
    EXPECT_EQ(got->Major, c.expected->Major) << c.what;
    EXPECT_EQ(got->Minor, c.expected->Minor) << c.what;
    EXPECT_EQ(got->Revision, c.expected->Revision) << c.what;
  }
}

const ToolVersion Own{2, 46, 'B'};

INSTANTIATE_TEST_SUITE_P(
    Rules, VersionTokenTable,
    ::testing::Values(
        // Length: more than 32 and less than 500.
        TokenCase{"token alone, 32 characters", OwnToken, std::nullopt},
        TokenCase{"token and a line end, 33", OwnToken + "\n", Own},
        TokenCase{"token after text", "<pre>" + OwnToken + "</pre>", Own},
        TokenCase{"499 characters", Padded(OwnToken, 499), Own},
        TokenCase{"500 characters", Padded(OwnToken, 500), std::nullopt},
        TokenCase{"much longer", Padded(OwnToken, 5000), std::nullopt},
        TokenCase{"empty", "", std::nullopt},
        // The first "#" and enough room after it.
        TokenCase{"no # at all", Padded("*$(002.046.066@@002.046.066)$*", 40), std::nullopt},
        TokenCase{"# in front of the token", "#x" + OwnToken, std::nullopt},
        TokenCase{"# far before the token", "a # b " + OwnToken, std::nullopt},
        TokenCase{"token cut at the end", "0123" + OwnToken.substr(0, 31), std::nullopt},
        TokenCase{"token exactly at the end", "0" + OwnToken, Own},
        TokenCase{"# after the token is fine", OwnToken + " #", Own},
        // Fixed characters.
        TokenCase{"head", WithChar(OwnToken, 1, '+') + " ", std::nullopt},
        TokenCase{"head (", WithChar(OwnToken, 3, '[') + " ", std::nullopt},
        TokenCase{"first dot", WithChar(OwnToken, 7, ',') + " ", std::nullopt},
        TokenCase{"second dot", WithChar(OwnToken, 11, ',') + " ", std::nullopt},
        TokenCase{"middle", WithChar(OwnToken, 16, 'A') + " ", std::nullopt},
        TokenCase{"third dot", WithChar(OwnToken, 20, ':') + " ", std::nullopt},
        TokenCase{"fourth dot", WithChar(OwnToken, 24, ':') + " ", std::nullopt},
        TokenCase{"tail )", WithChar(OwnToken, 28, '}') + " ", std::nullopt},
        TokenCase{"tail #", WithChar(OwnToken, 31, '!') + " ", std::nullopt},
        // The two copies must agree digit by digit.
        TokenCase{"copies differ in major", "#*$(002.046.066@@003.046.066)$*# ", std::nullopt},
        TokenCase{"copies differ in minor", "#*$(002.046.066@@002.045.066)$*# ", std::nullopt},
        TokenCase{"copies differ in revision", "#*$(002.046.066@@002.046.067)$*# ", std::nullopt},
        TokenCase{"first copy differs", "#*$(102.046.066@@002.046.066)$*# ", std::nullopt},
        // Digits only, in both copies alike.
        TokenCase{"non-digit in major", "#*$(0a2.046.066@@0a2.046.066)$*# ", std::nullopt},
        TokenCase{"blank in minor", "#*$(002. 46.066@@002. 46.066)$*# ", std::nullopt},
        TokenCase{"sign in revision", "#*$(002.046.-66@@002.046.-66)$*# ", std::nullopt},
        TokenCase{"character past 9", "#*$(002.046.06:@@002.046.06:)$*# ", std::nullopt},
        // Values.
        TokenCase{"newer", "#*$(002.047.067@@002.047.067)$*#\r\n", ToolVersion{2, 47, 'C'}},
        TokenCase{"older", "#*$(002.045.066@@002.045.066)$*#\r\n", ToolVersion{2, 45, 'B'}},
        TokenCase{"largest", "#*$(999.999.999@@999.999.999)$*#\r\n", ToolVersion{999, 999, 999}},
        TokenCase{"zeros", "#*$(000.000.000@@000.000.000)$*#\r\n", ToolVersion{0, 0, 0}},
        TokenCase{"NUL bytes around", std::string("\0\0", 2) + OwnToken + std::string("\0", 1),
                  Own}),
    [](const ::testing::TestParamInfo<TokenCase>& param) { return std::to_string(param.index); });

TEST(VersionToken, OwnTokenIsTheOwnVersion) {
  const auto got = ParseVersionToken(OwnToken + "\n");
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, OwnVersion);
}

TEST(VersionToken, RandomBytesNeverCrashAndRarelyPass) {
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 700);
  for (int round = 0; round < 20000; ++round) {
    std::string text(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : text) c = static_cast<char>(byte(random));
    // Every other round, plant a token with random damage so the later rules are reached.
    if (round % 2 == 0 && text.size() > 40) {
      std::string token = OwnToken;
      token[static_cast<std::size_t>(byte(random)) % token.size()] =
          static_cast<char>(byte(random));
      text.replace(text.size() / 3, token.size(), token);
    }
    const auto got = ParseVersionToken(text);
    if (got) {
      EXPECT_GE(got->Major, 0);
      EXPECT_LE(got->Major, 999);
      EXPECT_LE(got->Minor, 999);
      EXPECT_LE(got->Revision, 999);
    }
  }
}

TEST(DownloadPath, BuiltFromTheServersVersion) {
  EXPECT_EQ(DownloadPath({2, 47, 'C'}), "/files/ZPiTool v2.47.C.exe");
  EXPECT_EQ(DownloadPath({2, 45, 'B'}), "/files/ZPiTool v2.45.B.exe");
  EXPECT_EQ(DownloadPath({999, 0, '9'}), "/files/ZPiTool v999.0.9.exe");
  EXPECT_EQ(DownloadPath({3, 1, 'a'}), "/files/ZPiTool v3.1.a.exe");
}

TEST(DownloadPath, NoPathForARevisionThatIsNoLetterOrDigit) {
  const std::initializer_list<int> unusable{0,    10,  32,  '#', '%', '.', '/', '?',
                                            '\\', 127, 128, 231, 255, 256, 999};
  for (int revision : unusable) EXPECT_FALSE(DownloadPath({2, 47, revision})) << revision;
}

class OldExecutablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ =
        std::filesystem::temp_directory_path() /
        (std::string("zpi_cleanup_") + info->name() + "_" + std::to_string(std::random_device{}()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  void Touch(const std::string& name) { std::ofstream(folder_ / name) << "x"; }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      names.insert(entry.path().filename().string());
    return names;
  }
  std::filesystem::path folder_;
};

TEST_F(OldExecutablesTest, RemovesExactlyTheFourOldNames) {
  const std::set<std::string> keep{"ZPiTool v2.46.B.exe",  // the running one
                                   "ZPiTool v2.47.C.exe",     "zpitool v2.45.b.exe",
                                   "ZPiTool v2.45.B.exe.bak", "ZPiTool v2.45.B",
                                   " ZPiTool v2.44.B.exe",    "notes.txt"};
  for (const auto& name : keep) Touch(name);
  for (std::string_view name : OldExecutables) Touch(std::string(name));
  std::filesystem::create_directories(folder_ / "sub");
  std::ofstream(folder_ / "sub" / "ZPiTool v2.45.A.exe") << "x";

  DeleteOldExecutablesIn(folder_);

  std::set<std::string> expected = keep;
  expected.insert("sub");
  EXPECT_EQ(Names(), expected);
  EXPECT_TRUE(std::filesystem::exists(folder_ / "sub" / "ZPiTool v2.45.A.exe"));
}

TEST_F(OldExecutablesTest, SomeOrNoneMissingIsQuiet) {
  Touch("ZPiTool v2.44.B.exe");
  DeleteOldExecutablesIn(folder_);
  EXPECT_TRUE(Names().empty());
  DeleteOldExecutablesIn(folder_);  // nothing left: still fine
  DeleteOldExecutablesIn(folder_ / "missing");
  EXPECT_TRUE(Names().empty());
}

TEST_F(OldExecutablesTest, AFolderWithAnOldNameStays) {
  std::filesystem::create_directories(folder_ / "ZPiTool v2.46.A.exe");
  Touch("ZPiTool v2.45.A.exe");
  DeleteOldExecutablesIn(folder_);
  EXPECT_EQ(Names(), std::set<std::string>{"ZPiTool v2.46.A.exe"});
}

TEST(OldExecutables, AnEmptyFolderNameTouchesNothing) {
  // An empty folder must not fall back on the working directory.
  const auto here = std::filesystem::current_path();
  const auto probe = here / "ZPiTool v2.45.B.exe";
  const bool existed = std::filesystem::exists(probe);
  if (!existed) std::ofstream(probe) << "x";
  DeleteOldExecutablesIn({});
  EXPECT_TRUE(std::filesystem::exists(probe));
  if (!existed) std::filesystem::remove(probe);
}

}  // namespace
