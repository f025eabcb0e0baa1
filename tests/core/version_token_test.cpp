#include "update/old_executables.h"
#include "update/version_page.h"
#include "update/version_token.h"

#include <gtest/gtest.h>

// Std
#include <fstream>
#include <random>
#include <set>
#include <string>

// Found by GoogleTest next to ToolVersion.
void PrintTo(const ToolVersion& v, std::ostream* os) {
  *os << v.Major << '.' << v.Minor << '.' << v.Revision;
}

namespace {

const std::string OwnToken = "#*$(002.046.066@@002.046.066)$*#";

std::string Padded(const std::string& text, std::size_t length, char fill = ' ') {
  std::string out = text;
  out.resize(length, fill);
  return out;
}

const ToolVersion Own{2, 46, 'B'};

struct TokenCase {
  const char* what;
  std::string text;
  std::optional<ToolVersion> expected;
};

TEST(VersionToken, LengthPlaceAndValues) {
  const TokenCase cases[] = {
      // More than 32 and less than 500 characters.
      {"token alone, 32", OwnToken, std::nullopt},
      {"token and a line end, 33", OwnToken + "\n", Own},
      {"499", Padded(OwnToken, 499), Own},
      {"500", Padded(OwnToken, 500), std::nullopt},
      {"empty", "", std::nullopt},
      // Only the first "#" is tried, and the whole token must follow it.
      {"token inside a page", "<pre>" + OwnToken + "</pre>", Own},
      {"no #", Padded(OwnToken.substr(1), 40), std::nullopt},
      {"# just before the token", "#" + OwnToken, std::nullopt},
      {"# far before the token", "a # b " + OwnToken, std::nullopt},
      {"# after the token", OwnToken + " #", Own},
      {"token cut at the end", "0123" + OwnToken.substr(0, 31), std::nullopt},
      {"token exactly at the end", "0" + OwnToken, Own},
      {"NUL bytes around", std::string("\0\0", 2) + OwnToken + std::string("\0", 1), Own},
      // Values are read from the first copy.
      {"newer", "#*$(002.047.067@@002.047.067)$*#\r\n", ToolVersion{2, 47, 'C'}},
      {"older", "#*$(002.045.066@@002.045.066)$*#\r\n", ToolVersion{2, 45, 'B'}},
      {"largest", "#*$(999.999.999@@999.999.999)$*#\r\n", ToolVersion{999, 999, 999}},
      {"zeros", "#*$(000.000.000@@000.000.000)$*#\r\n", ToolVersion{0, 0, 0}},
  };
  for (const TokenCase& c : cases) EXPECT_EQ(ParseVersionToken(c.text), c.expected) << c.what;
  EXPECT_EQ(ParseVersionToken(OwnToken + "\n"), OwnVersion);
}

constexpr std::size_t FixedPositions[] = {0, 1, 2, 3, 7, 11, 15, 16, 20, 24, 28, 29, 30, 31};
constexpr std::size_t DigitPositions[] = {4, 5, 6, 8, 9, 10, 12, 13, 14};
constexpr std::size_t CopyOffset = 13;  // second copy of a digit: 13 places on

TEST(VersionToken, EveryFixedCharacterCounts) {
  for (std::size_t at : FixedPositions) {
    std::string text = OwnToken + " ";
    text[at] = at == 0 ? 'x' : '%';
    EXPECT_FALSE(ParseVersionToken(text)) << at;
  }
}

TEST(VersionToken, CopiesMustAgreeAndHoldDigits) {
  for (std::size_t at : DigitPositions) {
    std::string differ = OwnToken + " ";
    differ[at + CopyOffset] = differ[at] == '9' ? '8' : static_cast<char>(differ[at] + 1);
    EXPECT_FALSE(ParseVersionToken(differ)) << "second copy differs at " << at;
    differ = OwnToken + " ";
    differ[at] = differ[at] == '9' ? '8' : static_cast<char>(differ[at] + 1);
    EXPECT_FALSE(ParseVersionToken(differ)) << "first copy differs at " << at;
    for (char bad : {'a', ' ', '-', ':', '/', '\0'}) {
      std::string nonDigit = OwnToken + " ";
      nonDigit[at] = nonDigit[at + CopyOffset] = bad;
      EXPECT_FALSE(ParseVersionToken(nonDigit)) << "'" << bad << "' at " << at;
    }
  }
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

struct PageCase {
  const char* what;
  std::string contentType;  // empty: none
  std::string reply;
  std::string bodyHtml;
};

TEST(VersionPage, BodyHtmlAsABrowserGivesIt) {
  const std::string pre = "<pre>" + OwnToken + "</pre>";
  const PageCase cases[] = {
      // Plain text: inside the pre element, markup characters escaped, line ends kept.
      {"text", "text/plain", OwnToken, pre},
      {"markup characters", "text/plain; charset=utf-8", "a<b> & c\r\n", "<pre>a&lt;b&gt; &amp; c\r\n</pre>"},
      {"empty", "text/plain", "", "<pre></pre>"},
      {"a page sent as text", "text/plain", "<body>x</body>", "<pre>&lt;body&gt;x&lt;/body&gt;</pre>"},
      {"another type", "application/json", "{}", "<pre>{}</pre>"},
      // HTML: the body element's inner text, wherever the head put its "#".
      {"body", "text/html", "<html><head><style>p{color:#fff}</style></head><body>x</body></html>", "x"},
      {"type in capitals", " TEXT/HTML ;charset=iso-8859-1", "<body>x</body>", "x"},
      {"xhtml", "application/xhtml+xml", "<body>x</body>", "x"},
      {"tags in any case, attributes", "text/html", "<BODY bgcolor=\"#fff\" title='a>b'>\nx\n</Body>", "\nx\n"},
      {"a longer tag name", "text/html", "<bodyx>a</bodyx><body>y</body>", "y"},
      {"no end tag", "text/html", "<body>x\n</HTML>\n", "x\n"},
      {"no end tags at all", "text/html", "<body>x\n", "x\n"},
      {"start tag never closes", "text/html", "<head></head><body class=\"x>y", ""},
      {"no body tag: after the head", "text/html", "<html><head><title>#</title></head>\n x\n</html>", "x\n"},
      {"no body tag: after the html tag", "text/html", "<html lang=pt>\r\n x</html>", "x"},
      {"no tags at all", "text/html", "  x", "x"},
      // No type, or one that says nothing: HTML when it opens like HTML.
      {"no type, text", "", OwnToken, pre},
      {"no type, HTML", "", " \r\n<!DOCTYPE html><html><body>x</body></html>", "x"},
      {"octet stream, HTML", "application/octet-stream", "<HTML>\nx</HTML>", "x"},
      {"no type, another tag", "", "<pre>x</pre>", "<pre>&lt;pre&gt;x&lt;/pre&gt;</pre>"},
  };
  for (const PageCase& c : cases) EXPECT_EQ(PageBodyHtml(c.reply, c.contentType), c.bodyHtml) << c.what;
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
  std::set<std::string> keep{"ZPiTool v2.46.B.exe",  // the running one
                             "ZPiTool v2.47.C.exe",     "ZPiTool v2.45.B.exe.bak", "ZPiTool v2.45.B",
                             " ZPiTool v2.44.B.exe",    "notes.txt"};
#ifndef _WIN32
  keep.insert("zpitool v2.45.b.exe");  // another file only where names are case-sensitive
#endif
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

// A technician's folder often has accents (C:\\Users\\João\\Área de Trabalho).
TEST_F(OldExecutablesTest, AFolderWithAccentsInItsNameIsCleanedToo) {
  const std::filesystem::path accented = folder_ / std::filesystem::path(u8"Área de Trabalho João");
  std::filesystem::create_directories(accented);
  std::ofstream(accented / "ZPiTool v2.45.B.exe") << "x";
  std::ofstream(accented / "ZPiTool v2.46.B.exe") << "x";
  DeleteOldExecutablesIn(accented);
  EXPECT_FALSE(std::filesystem::exists(accented / "ZPiTool v2.45.B.exe"));
  EXPECT_TRUE(std::filesystem::exists(accented / "ZPiTool v2.46.B.exe"));
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
