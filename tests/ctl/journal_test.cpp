// The station's pieces without a unit: the journal's records written and read back, appends
// from two writers at once, the report, the --since bounds, the port watch over a folder of
// links, and rows cut to a terminal's width.
#include "config/config_record.h"
#include "ctl/journal.h"
#include "ctl/port_watch.h"
#include "ctl/report.h"
#include "ctl/reporter.h"
#include "ctl/zpictl_support.h"
#include "protocol/service_rules.h"

// Std
#include <filesystem>
#include <thread>

// POSIX
#include <fcntl.h>
#include <stdlib.h>

namespace {

using namespace ctl_test;
namespace fs = std::filesystem;

TDeviceInfo Identity(std::uint8_t minor, std::uint32_t serial) {
  TDeviceInfo info;
  info.Mode = 1;
  info.Id = {0x5A500000u + serial, 0x00C0FFEEu, 0x00000246u};
  info.Version = {4, 1, 2, minor};
  return info;
}

JournalRecord Record(std::string time, std::uint32_t serial, int code, std::string port = "/dev/ttyACM0") {
  JournalRecord r;
  r.time = std::move(time);
  r.port = std::move(port);
  if (serial) r.id = UnitIdText(Identity(46, serial));
  r.ok = code == 0;
  r.code = code;
  r.versionAfter = "4.1.2.46";
  return r;
}

TEST(Journal, ARecordSaysWhatHappenedToTheUnitAndReadsBackTheSame) {
  JobResult r;
  r.port = "/dev/ttyACM0";
  r.ok = true;
  r.first = Identity(45, 1);
  r.unit = Identity(46, 1);
  r.done = {"identified", "upload", "read", "write default", "verify"};
  r.notes = {std::string(LastAckLostNote)};
  r.written = "default";
  r.writtenImage = EncodeConfigImage(DefaultConfig()).image;
  r.verified = true;
  r.steps = {{"identify", 20ms}, {"upload", 1500ms}, {"restart", 300ms}, {"read", 5ms}, {"write", 30ms}, {"verify", 5ms}};
  r.took = 1860ms;
  JournalRecord record = RecordOf(r, "station", std::chrono::system_clock::time_point(1706709909123ms));
  record.host = "bench";  // the machine's own name otherwise
  const std::string line = JournalLine(record);
  EXPECT_EQ(line,
            "{\"time\":\"2024-01-31T14:05:09.123Z\",\"tool\":\"2.46.B\",\"host\":\"bench\",\"command\":\"station\","
            "\"port\":\"/dev/ttyACM0\",\"id\":\"00000246 00C0FFEE 5A500001\",\"kind\":4,\"version_before\":\"4.1.2.45\","
            "\"version_after\":\"4.1.2.46\",\"written\":\"default\",\"sha256\":\"" +
                Sha256Hex(*r.writtenImage) +
                "\",\"verified\":true,\"ok\":true,\"code\":0,\"message\":\"\",\"unfinished\":\"\","
                "\"done\":[\"identified\",\"upload\",\"read\",\"write default\",\"verify\"],"
                "\"notes\":[\"upload completed; last acknowledgement lost\"],\"repeat\":false,"
                "\"durations_ms\":{\"identify\":20,\"upload\":1500,\"restart\":300,\"read\":5,\"write\":30,"
                "\"verify\":5,\"total\":1860}}");
  const std::optional<JournalRecord> back = ParseJournalLine(line);
  ASSERT_TRUE(back);
  EXPECT_EQ(JournalLine(*back), line);

  // A unit that never announced itself: no id, kind or versions.
  JobResult silent;
  silent.port = "COM3";
  silent.code = JobNoAnnouncement;
  silent.error = "the unit did not announce itself";
  const std::string none = JournalLine(RecordOf(silent, "service", std::chrono::system_clock::time_point()));
  EXPECT_NE(none.find("\"id\":null,\"kind\":null,\"version_before\":null,\"version_after\":null,\"written\":null,"
                      "\"sha256\":null"),
            std::string::npos)
      << none;
  EXPECT_EQ(Sha256Hex(std::vector<std::uint8_t>{'a', 'b', 'c'}),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Journal, ALineThatIsNotARecordIsRefusedWithItsReason) {
  const struct {
    const char* line;
    const char* why;
  } cases[] = {
      {"{\"time\":\"2024-01-31T14:05:09.123Z\",\"port\":\"/dev/tt", "not JSON"},
      {"[1,2]", "not a JSON object"},
      {"{\"port\":\"p\",\"ok\":true,\"code\":0}", "not a record: no \"time\""},
      {"{\"time\":\"2024-01-31T14:05:09.123Z\",\"port\":\"p\",\"ok\":\"yes\",\"code\":0}",
       "not a record: \"ok\" is not what a record holds there"},
      {"{\"time\":\"2024-01-31T14:05:09.123Z\",\"port\":\"p\",\"ok\":true,\"code\":1e300}",
       "not a record: \"code\" is not what a record holds there"},
      {"{\"time\":\"2024-01-31T14:05:09.123Z\",\"port\":\"p\",\"ok\":true,\"code\":99999999999}",
       "not a record: \"code\" is out of range"},
      {"{\"time\":\"yesterday\",\"port\":\"p\",\"ok\":true,\"code\":0}",
       "not a record: \"time\" is not a UTC time such as 2024-01-31T14:05:09.123Z"},
      {"{\"time\":\"2024-01-31T14:05:09.123Z\",\"port\":\"p\",\"ok\":true,\"code\":0,\"done\":[1]}",
       "not a record: \"done\" is not what a record holds there"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(ParseJournalLine(c.line, &why)) << c.line;
    EXPECT_EQ(why, c.why) << c.line;
  }
}

TEST(Journal, ReadBackSkipsAndNamesWhatIsNotARecord) {
  const std::string good = JournalLine(Record("2024-01-31T14:05:09.123Z", 1, 0));
  TempFile file(good + "\n\ngarbage\r\n" + good + "\r\n" + good.substr(0, 40));
  JournalContents contents;
  ReadJournal(file.Path(), contents);
  ReadJournal(file.Path() + ".missing", contents);
  EXPECT_EQ(contents.records.size(), 2u);
  ASSERT_EQ(contents.problems.size(), 3u);
  EXPECT_EQ(contents.problems[0].line, 3u);
  EXPECT_EQ(contents.problems[0].what, "not JSON; skipped");
  EXPECT_EQ(contents.problems[1].line, 5u);
  EXPECT_EQ(contents.problems[1].what, "a cut last line (its writer stopped part way through it); skipped");
  EXPECT_EQ(contents.problems[2].line, 0u);
  EXPECT_EQ(contents.problems[2].what, "cannot be read: No such file or directory");
}

TEST(Journal, TwoWritersOnOneFileNeverInterleaveWithinALine) {
  TempFile file("");
  constexpr int Each = 300;
  {
    Journal first(file.Path()), second(file.Path());
    const auto write = [](Journal& journal, std::uint32_t serial) {
      std::string error;
      for (int i = 0; i < Each; ++i)
        ASSERT_TRUE(journal.Append(JournalLine(Record("2024-01-31T14:05:09.123Z", serial, 0)), error)) << error;
    };
    std::thread a(write, std::ref(first), 1), b(write, std::ref(second), 2);
    a.join();
    b.join();
  }
  JournalContents contents;
  ReadJournal(file.Path(), contents);
  EXPECT_TRUE(contents.problems.empty());
  EXPECT_EQ(contents.records.size(), 2u * Each);
}

TEST(Report, CountsByResultAndDayNamesRepeatsAndEachUnitsLastRecord) {
  std::vector<JournalRecord> records = {Record("2024-01-31T09:00:00.000Z", 1, 2), Record("2024-01-30T17:00:00.000Z", 2, 0),
                                        Record("2024-01-31T09:30:00.000Z", 1, 0, "/dev/ttyACM1"),
                                        Record("2024-01-31T10:00:00.000Z", 0, 11)};
  records[0].message = "ERRO #0x02: A operação não foi concluida!";
  records[2].written = "frota, \"B\".json";
  records[2].verified = true;
  records[2].notes = {std::string(LastAckLostNote)};
  const std::vector<JournalRecord> ordered = RecordsSince(records, "");
  EXPECT_EQ(ReportText(ordered),
            "4 records of 2 units, from 2024-01-30T17:00:00.000Z to 2024-01-31T10:00:00.000Z (UTC)\n"
            "1 of them names no unit (it never announced itself)\n"
            "\n"
            "By result:\n"
            "      2  succeeded\n"
            "      1  code 2: the unit stopped acknowledging (ERRO #0x02)\n"
            "      1  code 11: no announcement in time\n"
            "\n"
            "By day (UTC):   units  succeeded  failed\n"
            "  2024-01-30        1          1       0\n"
            "  2024-01-31        3          1       2\n"
            "\n"
            "Served more than once:\n"
            "  00000246 00C0FFEE 5A500001  2 times: 2024-01-31T09:00:00 FAILED 2, 2024-01-31T09:30:00 OK\n"
            "\n"
            "Each unit's last record:\n"
            "  id                          time                      result     port          version    written, "
            "verified\n"
            "  00000246 00C0FFEE 5A500001  2024-01-31T09:30:00.000Z  OK         /dev/ttyACM1  4.1.2.46   frota, "
            "\"B\".json, verified\n"
            "      note: upload completed; last acknowledgement lost\n"
            "  00000246 00C0FFEE 5A500002  2024-01-30T17:00:00.000Z  OK         /dev/ttyACM0  4.1.2.46   -\n");
  const std::string csv = ReportCsv(ordered);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
            "id,times_served,time,port,ok,code,message,kind,version_before,version_after,written,sha256,verified,"
            "notes,repeat,command,host,tool,total_ms");
  EXPECT_NE(csv.find("\r\n00000246 00C0FFEE 5A500001,2,2024-01-31T09:30:00.000Z,/dev/ttyACM1,yes,0,,,,4.1.2.46,"
                     "\"frota, \"\"B\"\".json\",,yes,upload completed; last acknowledgement lost,no,,,,0\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\r\n,1,2024-01-31T10:00:00.000Z,/dev/ttyACM0,no,11,"), std::string::npos) << csv;
  // What a spreadsheet would run as a formula stays text.
  JournalRecord formula;
  formula.port = "=HYPERLINK(\"http://x\")";
  formula.written = "-1+1.json";
  const std::string cells = ReportCsv({formula});
  EXPECT_NE(cells.find(",\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << cells;
  EXPECT_NE(cells.find(",'-1+1.json,"), std::string::npos) << cells;
  EXPECT_EQ(RecordsSince(records, *SinceBound("2024-01-31T09:30")).size(), 2u);
  EXPECT_EQ(ReportText({}), "No records.\n");
}

TEST(Report, SinceTakesADateOrATimeInUtcAndNothingElse) {
  const struct {
    const char* text;
    const char* bound;  // null: refused
  } cases[] = {
      {"2024-01-31", "2024-01-31"},
      {"2024-01-31T14:05", "2024-01-31T14:05"},
      {"2024-01-31T14:05:09Z", "2024-01-31T14:05:09"},
      {"2024-01-31T14:05:09.123", "2024-01-31T14:05:09.123"},
      {"2024-1-31", nullptr},
      {"2024-13-01", nullptr},
      {"2024-01-31 14:05", nullptr},
      {"31/01/2024", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> bound = SinceBound(c.text);
    EXPECT_EQ(bound.value_or("refused"), c.bound ? c.bound : "refused") << c.text;
  }
}

TEST(PortWatch, FollowsLinksAfreshAndTakesCharacterDevicesOnly) {
  std::string pattern = ::testing::TempDir() + "zpi-watch-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  auto a = Started(Options({.serial = 1}));
  auto b = Started(Options({.serial = 2}));
  fs::create_symlink(a->DevicePath(), folder / "hub1");
  fs::create_symlink(a->DevicePath(), folder / "hub1-again");  // one unit, two names: served once
  fs::create_symlink(b->DevicePath(), folder / "hub2");
  fs::create_symlink("/nonexistent/pts/99", folder / "hub3");  // leads nowhere
  TempFile text("not a device");
  fs::create_symlink(text.Path(), folder / "hub4");
  const PortWatch watch({(folder / "hub*").string(), (folder / "none-*").string()});
  const auto names = [&] {
    std::vector<std::string> out;
    for (const WatchedPort& p : watch.Look()) out.push_back(fs::path(p.name).filename().string() + " " + p.device);
    return out;
  };
  EXPECT_EQ(names(), (Strings{"hub1 " + a->DevicePath(), "hub2 " + b->DevicePath()}));
  b->Stop();  // its device goes: the link dangles
  EXPECT_EQ(names(), (Strings{"hub1 " + a->DevicePath()}));
  EXPECT_EQ(watch.Describe(), (folder / "hub*").string() + ", " + (folder / "none-*").string());

  // The whole port list, as `zpictl list` has it, with the names it gives.
  const char* extra = std::getenv("ZPITOOL_EXTRA_PORTS");
  const std::string saved = extra ? extra : "";
  setenv("ZPITOOL_EXTRA_PORTS", ((folder / "hub1").string() + ":" + a->DevicePath()).c_str(), 1);
  const PortWatch list({});
  const std::vector<WatchedPort> listed = list.Look();
  if (extra)
    setenv("ZPITOOL_EXTRA_PORTS", saved.c_str(), 1);
  else
    unsetenv("ZPITOOL_EXTRA_PORTS");
  EXPECT_EQ(std::count_if(listed.begin(), listed.end(), [&](const WatchedPort& p) { return p.device == a->DevicePath(); }),
            1);
  EXPECT_EQ(list.Describe(), "the port list");
  fs::remove_all(folder);
}

TEST(PortWatch, WildcardsAsAShellMatchesThem) {
  const struct {
    const char* pattern;
    const char* name;
    bool fold, matches;
  } cases[] = {
      {"COM1?", "COM12", true, true},      {"COM1?", "COM1", true, false},      {"com*", "COM3", true, true},
      {"com*", "COM3", false, false},      {"*ACM[0-3]", "ttyACM2", false, true}, {"*ACM[!0-3]", "ttyACM2", false, false},
      {"*ACM[!0-3]", "ttyACM7", false, true}, {"a*b*c", "aXbYbZc", false, true}, {"a*b*c", "aXbYbZ", false, false},
      {"[", "[", false, true},             {"*", "", false, true},              {"?", "", false, false},
  };
  for (const auto& c : cases) EXPECT_EQ(WildcardMatch(c.pattern, c.name, c.fold), c.matches) << c.pattern << " " << c.name;
}

TEST(LiveView, ARowIsCutToTheTerminalsWidthKeepingItsColoursAndCharactersWhole) {
  const struct {
    std::string text;
    std::size_t columns;
    std::string fitted;
  } cases[] = {
      {"short", 10, "short"},
      {"0123456789abc", 10, "0123456789"},
      {"ab\x1b[31m" "FAILED\x1b[0m  error", 8, "ab\x1b[31m" "FAILED\x1b[0m\x1b[0m"},
      {"operação concluida", 7, "operaçã"},
  };
  for (const auto& c : cases) EXPECT_EQ(FitToColumns(c.text, c.columns), c.fitted) << c.text;
}

}  // namespace
