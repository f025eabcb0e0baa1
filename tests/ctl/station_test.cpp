// zpictl station as a production line runs it: units plugged into and unplugged from a folder
// of links to simulated units (the station watches it with --ports), its JSON lines read as
// they come, its journal read back; and the live view on a terminal of its own.
#include "config/config_record.h"
#include "ctl/journal.h"
#include "ctl/zpictl_support.h"
#include "support/terminal_screen.h"

// Std
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

// POSIX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace {

using namespace ctl_test;
namespace fs = std::filesystem;

// A bench: a folder of links, one per unit plugged in, named like the ports of a hub.
class Bench {
 public:
  Bench() {
    std::string pattern = ::testing::TempDir() + "zpi-bench-XXXXXX";
    folder_ = mkdtemp(pattern.data()) ? pattern : "";
  }
  ~Bench() {
    units_.clear();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  [[nodiscard]] std::string Pattern() const { return folder_ + "/*"; }
  [[nodiscard]] std::string Port(const std::string& name) const { return folder_ + "/" + name; }

  SimUnit& Plug(const std::string& name, SimOptions options) {
    auto unit = Started(std::move(options));
    fs::create_symlink(unit->DevicePath(), Port(name));
    SimUnit& plugged = *unit;
    units_[name] = std::move(unit);
    return plugged;
  }
  // The link goes and the unit's line hangs up.
  void Unplug(const std::string& name) {
    fs::remove(Port(name));
    if (const auto it = units_.find(name); it != units_.end()) {
      it->second->Stop();
      retired_.push_back(std::move(it->second));  // kept for its counters
      units_.erase(it);
    }
  }

 private:
  std::string folder_;
  std::map<std::string, std::unique_ptr<SimUnit>> units_;
  std::vector<std::unique_ptr<SimUnit>> retired_;
};

// The station as a process with its JSON lines.
class StationRun {
 public:
  StationRun(const Bench& bench, Strings options) : process_(ZPICTL_PATH, Args(bench, std::move(options))) {}

  // Waits for the `nth` (from 1) event of `kind` about `port` (any port when empty).
  Json Await(const std::string& kind, const std::string& port = "", int nth = 1,
             std::chrono::milliseconds timeout = 20s) {
    Json found;
    const bool came = process_.ReadUntil(
        [&] {
          int seen = 0;
          for (const Json& j : Complete()) {
            if (j.value("event", "") != kind || (!port.empty() && j.value("port", "") != port)) continue;
            if (++seen == nth) {
              found = j;
              return true;
            }
          }
          return false;
        },
        timeout);
    EXPECT_TRUE(came) << "no " << kind << " #" << nth << " for " << port << "\n" << process_.Out() << process_.Err();
    return found;
  }
  Process& Program() { return process_; }
  [[nodiscard]] std::vector<Json> Events() const { return Complete(); }

 private:
  static Strings Args(const Bench& bench, Strings options) {
    Strings args{"station", "--ports", bench.Pattern(), "--json"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
  }
  // The whole lines so far, each a JSON object.
  [[nodiscard]] std::vector<Json> Complete() const {
    const std::string& out = process_.Out();
    return JsonLines(out.substr(0, out.rfind('\n') + 1));
  }
  Process process_;
};

SimOptions Unit(UnitShape shape, std::chrono::milliseconds ackDelay = 0ms) {
  SimOptions o = Options(shape);
  o.ackDelay = ackDelay;
  return o;
}

std::vector<JournalRecord> RecordsIn(const std::string& path, std::vector<JournalProblem>* problems = nullptr) {
  JournalContents contents;
  ReadJournal(path, contents);
  if (problems) *problems = contents.problems;
  return contents.records;
}

// ---- A day at the station -------------------------------------------------------------------

TEST(Station, ServesUnitsAsTheyArePluggedInAndUnplugged) {
  Bench bench;
  TempFile journal("");
  bench.Plug("hub1", Unit({.serial = 1}));  // there at the start
  StationRun station(bench, {"--journal", journal.Path()});
  const std::string hub1 = bench.Port("hub1"), hub2 = bench.Port("hub2"), hub3 = bench.Port("hub3");
  EXPECT_NE(station.Await("note").value("text", "").find("1 port is there now and served too"), std::string::npos);
  ExpectResult(station.Await("result", hub1), {.done = {"identified", "read"}}, "there at the start");

  // Plugged in mid-run.
  const SimUnit& invalid = bench.Plug("hub2", Unit({.image = "invalid", .serial = 2}));
  ExpectResult(station.Await("result", hub2), {.done = {"identified", "read", "write default", "verify"}}, "mid-run");
  EXPECT_EQ(invalid.Memory(), EncodeConfigImage(DefaultConfig()).image);

  // Unplugged mid-upload, and another unit plugged into the same port.
  bench.Plug("hub3", Unit({.minor = 45, .serial = 3}, 2ms));
  station.Await("progress", hub3);
  bench.Unplug("hub3");
  ExpectResult(station.Await("result", hub3),
               {.code = 14,
                .error = "the port closed: the unit was unplugged (the port hung up)",
                .unfinished = "firmware upload at frame *",
                .done = {"identified"}},
               "unplugged mid-upload");
  station.Await("unplugged", hub3);
  bench.Plug("hub3", Unit({.serial = 4}));
  ExpectResult(station.Await("result", hub3, 2), {.done = {"identified", "read"}}, "the next one on that port");

  // The first unit again, on another port: served again, and marked as a repeat.
  bench.Unplug("hub1");
  station.Await("unplugged", hub1);
  bench.Plug("hub1", Unit({.serial = 1}));
  const Json repeat = station.Await("result", hub1, 2);
  EXPECT_TRUE(repeat.value("repeat", false)) << repeat.dump();
  EXPECT_FALSE(station.Await("result", hub2).value("repeat", false));

  station.Program().Signal(SIGINT);
  EXPECT_EQ(station.Program().Wait(10s), 1) << "one unit failed";
  const std::string last = station.Events().back().value("text", "");
  EXPECT_TRUE(last.starts_with("station: 5 units served in ") && last.ends_with(": 4 succeeded, 1 failed, 1 repeat"))
      << last;

  // The journal: one record per unit, in the order their results were shown.
  const std::vector<JournalRecord> records = RecordsIn(journal.Path());
  ASSERT_EQ(records.size(), 5u);
  const struct {
    std::string port, id;
    int code;
    bool repeat;
  } expected[] = {{hub1, "00000246 00C0FFEE 5A500001", 0, false},
                  {hub2, "00000246 00C0FFEE 5A500002", 0, false},
                  {hub3, "00000246 00C0FFEE 5A500003", 14, false},
                  {hub3, "00000246 00C0FFEE 5A500004", 0, false},
                  {hub1, "00000246 00C0FFEE 5A500001", 0, true}};
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].port, expected[i].port);
    EXPECT_EQ(records[i].id, expected[i].id);
    EXPECT_EQ(records[i].code, expected[i].code);
    EXPECT_EQ(records[i].repeat, expected[i].repeat);
    EXPECT_EQ(records[i].command, "station");
  }
  EXPECT_EQ(records[1].written, "default");
  EXPECT_EQ(records[1].sha256, Sha256Hex(EncodeConfigImage(DefaultConfig()).image));
  EXPECT_TRUE(records[1].verified);
  EXPECT_EQ(records[2].versionBefore, "4.1.2.45");
  EXPECT_NE(records[2].unfinished, "");
}

TEST(Station, CtrlCStopsTakingUnitsAndASecondInterruptsThoseInFlight) {
  for (const int presses : {1, 2}) {
    SCOPED_TRACE(std::to_string(presses) + " presses");
    Bench bench;
    bench.Plug("hub1", Unit({.minor = 45, .serial = 1}, 2ms));
    StationRun station(bench, {});
    station.Await("progress", bench.Port("hub1"));
    station.Program().Signal(SIGINT);
    const Json stopping = station.Await("note", "", 3);
    EXPECT_NE(stopping.value("text", "").find("stopping: no new units; waiting for 1 unit in flight"), std::string::npos)
        << stopping.dump();
    const SimUnit& late = bench.Plug("hub2", Unit({.serial = 2}));
    if (presses == 2) station.Program().Signal(SIGINT);
    EXPECT_EQ(station.Program().Wait(20s), presses == 1 ? 0 : 1);
    const Json result = ResultOf(station.Events(), bench.Port("hub1"));
    if (presses == 1)
      ExpectResult(result, {.done = {"identified", "upload", "read"}}, "finished");
    else
      ExpectResult(result, {.code = 17, .error = "interrupted", .unfinished = "firmware upload at frame *", .done = {"identified"}},
                   "interrupted");
    ExpectUntouched(late, "plugged in after Ctrl+C");
  }
}

// ---- Ports where no unit is served ------------------------------------------------------------

TEST(Station, PortsWithoutAUnitToServeAreSaidOnceAndNotCounted) {
  Bench bench;
  TempFile journal("");
  const SimUnit& before = bench.Plug("old", Unit({.serial = 1}));  // there at the start, left alone
  SimOptions mute = Unit({.serial = 2});
  mute.settleDelay = 60s;  // never announces itself
  StationRun station(bench, {"--new-only", "--timeout", "0.5", "--journal", journal.Path()});
  EXPECT_NE(station.Await("note").value("text", "").find("1 port is there now, left alone (--new-only)"),
            std::string::npos);
  bench.Plug("mute", mute);
  EXPECT_EQ(station.Await("note", bench.Port("mute")).value("text", ""),
            "no unit announced itself within 0.5 s; left alone until it is unplugged");

  // Held by another program: said once, tried again now and then, served once it is let go.
  bench.Plug("held", Unit({.serial = 3}));
  const int holder = open(bench.Port("held").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  EXPECT_EQ(station.Await("note", bench.Port("held")).value("text", "").rfind("the port cannot be opened: ", 0), 0u);
  station.Await("plugged", bench.Port("held"));
  std::this_thread::sleep_for(2500ms);  // at least one more try while it is held
  close(holder);
  ExpectResult(station.Await("result", bench.Port("held"), 1, 10s), {.done = {"identified", "read"}}, "let go");

  station.Program().Signal(SIGINT);
  EXPECT_EQ(station.Program().Wait(10s), 0) << "no unit failed";
  const std::vector<Json> events = station.Events();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [&](const Json& j) {
                            return j.value("port", "") == bench.Port("held") && j.value("event", "") == "note";
                          }),
            1);
  EXPECT_NE(events.back().value("text", "").find("1 unit served"), std::string::npos) << events.back().dump();
  EXPECT_EQ(RecordsIn(journal.Path()).size(), 1u) << "a record per unit, none per port";
  ExpectUntouched(before, "--new-only");
}

TEST(Station, AJournalThatCannotBeWrittenStopsTheStation) {
  // Read-only before the start: refused like a bad file, before any port is opened.
  {
    Bench bench;
    const SimUnit& unit = bench.Plug("hub1", Unit({}));
    TempFile journal("");
    chmod(journal.Path().c_str(), 0444);
    // Root writes through a mode: the file is then made immutable too, where that is allowed.
    int flags = 0;
    const int fd = open(journal.Path().c_str(), O_RDONLY);
    const bool immutable = geteuid() == 0 && fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                           (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (geteuid() != 0 || immutable) {
      const Finished run = Zpictl({"station", "--ports", bench.Pattern(), "--journal", journal.Path()});
      EXPECT_EQ(run.status, 2);
      EXPECT_NE(run.err.find("zpictl: the journal " + journal.Path() + " cannot be opened for appending: "),
                std::string::npos)
          << run.err;
      ExpectUntouched(unit, "a read-only journal");
    } else {
      ADD_FAILURE() << "as root, a read-only file needs the immutable flag, which this file system refused";
    }
    if (immutable) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) close(fd);
  }
  // Full once running: the unit in hand is told it has no record, and no other unit is taken.
  Bench bench;
  bench.Plug("hub1", Unit({.serial = 1}));
  StationRun station(bench, {"--journal", "/dev/full"});
  const Json first = station.Await("result", bench.Port("hub1"));
  ExpectResult(first, {.done = {"identified", "read"}, .notes = {"no journal record: No space left on device"}},
               "the record could not be written");
  const SimUnit& next = bench.Plug("hub2", Unit({.serial = 2}));
  EXPECT_EQ(station.Program().Wait(10s), 1);
  EXPECT_NE(station.Program().Out().find("the journal /dev/full cannot be written (No space left on device): the "
                                         "station stops, since a unit served without its record breaks the record"),
            std::string::npos)
      << station.Program().Out();
  ExpectUntouched(next, "after the journal failed");
}

// ---- The journal after a kill -------------------------------------------------------------------

TEST(Station, AJournalKeepsOnlyWholeRecordsWhenTheStationIsKilledAtAnyMoment) {
  TempFile journal("");
  std::random_device seeder;
  const unsigned seed = seeder();
  std::mt19937 random(seed);
  std::size_t before = 0;
  std::string outcome;
  for (int round = 0; round < 5; ++round) {
    Bench bench;  // three units whose records come at different moments
    const auto serial = [&](int i) { return static_cast<std::uint32_t>(round * 3 + i); };
    bench.Plug("hub0", Unit({.serial = serial(0)}));
    bench.Plug("hub1", Unit({.image = "invalid", .serial = serial(1)}, 1ms));
    bench.Plug("hub2", Unit({.minor = 45, .serial = serial(2)}));
    StationRun station(bench, {"--journal", journal.Path()});
    const auto after = std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 2000)(random));
    std::this_thread::sleep_for(after);
    station.Program().Signal(SIGKILL);
    EXPECT_EQ(station.Program().Wait(10s), 128 + SIGKILL);
    std::vector<JournalProblem> problems;
    const std::size_t now = RecordsIn(journal.Path(), &problems).size();
    EXPECT_TRUE(problems.empty()) << "round " << round << ": " << problems.front().what;
    EXPECT_TRUE(journal.Text().empty() || journal.Text().back() == '\n') << "round " << round << ": a line cut short";
    outcome += (outcome.empty() ? "" : ", ") + std::to_string(now - before) + " after " +
               std::to_string(after.count()) + " ms";
    before = now;
  }
  RecordProperty("records_per_kill", outcome);
  std::printf("kill test (seed %u): records written per kill: %s; every line whole\n", seed, outcome.c_str());

  // A cut last line, as a power cut could leave one: skipped and said, the rest still read.
  std::ofstream(journal.Path(), std::ios::app) << "{\"time\":\"2024-01-31T14:05:09.123Z\",\"port\":\"/dev/tt";
  const std::string cutLine = std::to_string(before + 1);
  const Finished report = Zpictl({"report", journal.Path()});
  EXPECT_EQ(report.status, 0);
  EXPECT_EQ(report.err,
            journal.Path() + ":" + cutLine + ": a cut last line (its writer stopped part way through it); skipped\n");
  EXPECT_NE(report.out.find(std::to_string(before) + " records of "), std::string::npos) << report.out;
  // The next writer starts on a line of its own: its record is not lost behind the cut one.
  auto unit = Started(Unit({.serial = 99}));
  EXPECT_EQ(Zpictl({"service", unit->DevicePath(), "--journal", journal.Path()}).status, 0);
  const Finished again = Zpictl({"report", journal.Path()});
  EXPECT_EQ(again.err, journal.Path() + ":" + cutLine + ": not JSON; skipped\n");
  EXPECT_NE(again.out.find(std::to_string(before + 1) + " records of "), std::string::npos) << again.out;
}

// ---- The live view on a terminal --------------------------------------------------------------

// The screen a program left, on a terminal of 100 by 30.
struct Screen {
  std::vector<std::string> lines;
  std::size_t bells = 0;
  int status = -1;
};

Screen OnTerminal(Process& program, std::chrono::milliseconds timeout) {
  Screen screen;
  screen.status = program.Wait(timeout);
  TerminalScreen terminal(100, 30);
  terminal.Feed(program.Out());
  screen.lines = terminal.Lines();
  screen.bells = terminal.Bells();
  return screen;
}

std::string Text(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(LiveView, LeavesTheScreenCleanWhenItEndsOrIsInterrupted) {
  const struct {
    const char* name;
    bool interrupt;
    std::string last;
  } cases[] = {{"run to its end", false, "2 of 2 units succeeded"},
               {"Ctrl+C typed mid-upload", true, "0 of 2 units succeeded"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto a = Started(Unit({.minor = 45, .serial = 1}, c.interrupt ? 2ms : 0ms));
    auto b = Started(Unit({.minor = 45, .serial = 2}, c.interrupt ? 2ms : 0ms));
    Process zpictl(ZPICTL_PATH, {"service", a->DevicePath(), b->DevicePath()}, {}, {100, 30});
    if (c.interrupt) {
      ASSERT_TRUE(zpictl.ReadUntil([&] { return zpictl.Out().find("% upload") != std::string::npos; }, 20s));
      zpictl.Type("\x03");
    }
    const Screen screen = OnTerminal(zpictl, 30s);
    const std::string text = Text(screen.lines);
    ASSERT_FALSE(screen.lines.empty());
    EXPECT_EQ(screen.lines.back(), c.last) << text << "nothing stays under the summary";
    for (const std::string& line : screen.lines) {
      EXPECT_EQ(line.find("] "), std::string::npos) << "a progress row is left: " << line;
      if (line.find("interrupted: closing every port") != std::string::npos) {
        EXPECT_EQ(line, "interrupted: closing every port") << "written over a row";
      }
    }
    EXPECT_EQ(std::count(screen.lines.begin(), screen.lines.end(), "interrupted: closing every port"),
              c.interrupt ? 1 : 0)
        << text;
  }
}

TEST(LiveView, TheStationsTableShowsEachUnitAndItsResultAndRingsForAFailure) {
  Bench bench;
  SimOptions operating = Unit({.serial = 2});
  operating.mode = 0;
  Process zpictl(ZPICTL_PATH, {"station", "--ports", bench.Pattern()}, {"NO_COLOR=1"}, {100, 30});
  ASSERT_TRUE(zpictl.ReadUntil([&] { return zpictl.Out().find("served 0") != std::string::npos; }, 10s));
  bench.Plug("hub1", Unit({.serial = 1}));
  bench.Plug("hub2", operating);
  ASSERT_TRUE(zpictl.ReadUntil([&] { return zpictl.Out().find("served 2") != std::string::npos; }, 20s));
  TerminalScreen live(100, 30);
  live.Feed(zpictl.Out());
  const std::vector<std::string> table = live.Lines();
  const std::string text = Text(table);
  ASSERT_GE(table.size(), 3u) << text;
  EXPECT_EQ(table[table.size() - 3], bench.Port("hub1") + "  00000246 00C0FFEE 5A500001  OK      identified, read")
      << text;
  const std::string failed = bench.Port("hub2") +
                             "  00000246 00C0FFEE 5A500002  FAILED  error 12: the unit is in operating mode: "
                             "disconnect every harness, connect the USB cable alone and try again";
  const std::string cut = failed.substr(0, 99);
  EXPECT_EQ(table[table.size() - 2], cut.substr(0, cut.find_last_not_of(' ') + 1)) << text << "cut at the terminal's width";
  EXPECT_EQ(table.back().rfind("served 2   succeeded 1   failed 1", 0), 0u) << text;
  EXPECT_EQ(live.Bells(), 1u);

  zpictl.Type("\x03");
  const Screen screen = OnTerminal(zpictl, 10s);
  ASSERT_FALSE(screen.lines.empty());
  EXPECT_EQ(screen.status, 1);
  EXPECT_EQ(screen.lines.back().rfind("station: 2 units served in ", 0), 0u) << Text(screen.lines);
  for (const std::string& line : screen.lines) EXPECT_EQ(line.find("units/hour"), std::string::npos) << line;
}

}  // namespace
