// zpictl: the tool's service from the command line, for several units at once.
//
//   zpictl list
//   zpictl info PORT... [--timeout S]
//   zpictl service PORT... [--ventora | --config FILE] [--journal FILE]
//   zpictl station [--ventora | --config FILE] [--journal FILE] [--ports PATTERN]... [--new-only]
//   zpictl read PORT [-o FILE] [--journal FILE]
//   zpictl write PORT... FILE [--journal FILE]
//   zpictl commands FILE
//   zpictl report JOURNAL... [--csv] [--since DATE]
//
// Exit status: 0 every unit succeeded; 1 a unit failed (its result says why); 2 bad usage, a
// bad FILE or a journal that cannot be opened, and then nothing was sent to any unit.
#include "config/config_file.h"
#include "config/panel_values.h"
#include "config/remote_commands.h"
#include "ctl/journal.h"
#include "ctl/report.h"
#include "ctl/reporter.h"
#include "ctl/station.h"
#include "ctl/unit_job.h"
#include "serial/comport.h"

// Third party
#include <CLI/CLI.hpp>

// Std
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// Ctrl+C presses (and SIGTERM).
std::atomic<int> interrupts{0};

extern "C" void OnInterrupt(int signal) {
  interrupts.fetch_add(1);
  std::signal(signal, OnInterrupt);  // Windows resets the handler before it runs it
}

bool IsTerminal(std::FILE* stream) {
#if defined(_WIN32)
  if (!_isatty(_fileno(stream))) return false;
  // Bars need the console to take escape sequences.
  HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return GetConsoleMode(console, &mode) && SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
  return isatty(fileno(stream)) != 0;
#endif
}

TerminalShape ShapeOf(std::FILE* stream) {
  TerminalShape shape;
#if defined(_WIN32)
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), &info)) {
    shape.columns = info.srWindow.Right - info.srWindow.Left + 1;
    shape.rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  }
#else
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    shape.columns = size.ws_col;
    shape.rows = size.ws_row;
  }
#endif
  shape.colour = std::getenv("NO_COLOR") == nullptr;
  return shape;
}

void Usage(const std::string& text) { std::fprintf(stderr, "zpictl: %s\n", text.c_str()); }

// The file's refusals, one per line; false when there are any.
bool CheckedFile(const std::string& path, std::optional<ConfigRecord>& record) {
  const ConfigFileResult file = LoadConfigFile(path);
  for (const std::string& error : file.errors) std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
  record = file.record;
  return file.record.has_value();
}

// Writes each unit's record to the journal, flushed, before its result is shown.
class Journaling final : public JobObserver {
 public:
  Journaling(JobObserver& shown, Journal& journal, std::string command)
      : shown_(shown), journal_(journal), command_(std::move(command)) {}
  void Identified(const std::string& port, const TDeviceInfo& info) override { shown_.Identified(port, info); }
  void Progress(const std::string& port, std::string_view phase, int position, int maximum) override {
    shown_.Progress(port, phase, position, maximum);
  }
  void ConfigRead(const std::string& port, bool valid) override { shown_.ConfigRead(port, valid); }
  void Written(const std::string& port, std::string_view what) override { shown_.Written(port, what); }
  void Verified(const std::string& port) override { shown_.Verified(port); }
  void Log(const std::string& port, std::string_view line) override { shown_.Log(port, line); }
  void Finished(const JobResult& finished) override {
    JobResult r = finished;
    std::string error;
    if (!journal_.Append(JournalLine(RecordOf(r, command_, std::chrono::system_clock::now())), error)) {
      r.notes.push_back("no journal record: " + error);
      failed_ = true;
    }
    shown_.Finished(r);
  }
  [[nodiscard]] bool Failed() const { return failed_; }

 private:
  JobObserver& shown_;
  Journal& journal_;
  std::string command_;
  std::atomic<bool> failed_{false};
};

// Runs one job per port, each on its own thread; Ctrl+C interrupts them all.
std::vector<JobResult> RunJobs(std::vector<JobRequest> requests, Reporter& reporter, JobObserver& observer) {
  std::vector<std::string> ports;
  for (const JobRequest& request : requests) ports.push_back(request.port);
  reporter.Units(ports);
  std::vector<std::unique_ptr<UnitJob>> jobs;
  for (JobRequest& request : requests) jobs.push_back(std::make_unique<UnitJob>(std::move(request), observer));
  std::vector<JobResult> results(jobs.size());
  std::atomic<std::size_t> running{jobs.size()};
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < jobs.size(); ++i)
    threads.emplace_back([&, i] {
      results[i] = jobs[i]->Run();
      --running;
    });
  bool told = false;
  while (running > 0) {
    if (interrupts > 0 && !told) {
      told = true;
      reporter.Note("interrupted: closing every port");
      for (const auto& job : jobs) job->Interrupt();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (std::thread& thread : threads) thread.join();
  reporter.End();
  return results;
}

// `zpictl report`: the journals' records at or after `since`, as text or CSV; what was skipped
// goes to standard error by file and line.
int Report(const std::vector<std::string>& paths, bool csv, const std::string& since) {
  JournalContents contents;
  for (const std::string& path : paths) ReadJournal(path, contents);
  for (const JournalProblem& p : contents.problems)
    std::fprintf(stderr, "%s%s: %s\n", p.file.c_str(), p.line > 0 ? (":" + std::to_string(p.line)).c_str() : "",
                 p.what.c_str());
  const std::vector<JournalRecord> records = RecordsSince(std::move(contents.records), since);
  const std::string text = csv ? ReportCsv(records) : ReportText(records);
  std::fwrite(text.data(), 1, text.size(), stdout);
  const bool unreadable = std::any_of(contents.problems.begin(), contents.problems.end(),
                                      [](const JournalProblem& p) { return p.line == 0; });
  return unreadable ? ExitFailed : ExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zpictl: services ZPi units from the command line, several at once."};
  app.require_subcommand(1);
  app.fallthrough();  // --json and --verbose also after the command, where scripts put them
  bool json = false, verbose = false;
  double timeout = 10;
  app.add_flag("--json", json, "One JSON object per line for each event of each unit");
  app.add_flag("-v,--verbose", verbose, "Also each unit's log lines, as the window shows them");
  const auto timeoutOption = [&](CLI::App* command) {
    command->add_option("--timeout", timeout, "Seconds to wait for a unit's announcement")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
  };

  CLI::App* list = app.add_subcommand("list", "The serial ports, as the window lists them");

  std::vector<std::string> ports;
  CLI::App* info = app.add_subcommand("info", "Each unit's kind, firmware, id and mode");
  info->add_option("PORT", ports, "The units' serial ports")->required();
  timeoutOption(info);

  CLI::App* service = app.add_subcommand(
      "service", "The window's automatic service for every port in parallel: identity, firmware upload when older "
                 "than 2.46, configuration read, an invalid configuration replaced; every write read back and "
                 "verified");
  std::string configPath, journalPath;
  bool ventora = false;
  const auto journalOption = [&](CLI::App* command) {
    command->add_option("--journal", journalPath,
                        "Append a record of every unit served to this file (one JSON object per line)");
  };
  const auto serviceOptions = [&](CLI::App* command) {
    CLI::Option* ventoraFlag =
        command->add_flag("--ventora", ventora, "Force the Ventora preset (as the window's option does)");
    command->add_option("--config", configPath, "Write this configuration file to every unit, even over a valid one")
        ->excludes(ventoraFlag)
        ->check(CLI::ExistingFile);
    timeoutOption(command);
    journalOption(command);
  };
  service->add_option("PORT", ports, "The units' serial ports")->required();
  serviceOptions(service);

  std::vector<std::string> patterns;
  bool newOnly = false;
  CLI::App* station = app.add_subcommand(
      "station", "Serve every unit plugged in, hands-free, until Ctrl+C: each port that appears gets the service; "
                 "a served unit's port is left alone until it is unplugged");
  serviceOptions(station);
  station->add_option("--ports", patterns,
                      "Watch the device paths that match this shell pattern instead of the port list "
                      "(e.g. '/dev/serial/by-id/*'; on Windows 'COM1?'); repeatable");
  station->add_flag("--new-only", newOnly, "Leave alone the ports there at the start");

  std::string readPort, outputPath;
  CLI::App* read = app.add_subcommand("read", "A unit's configuration as a configuration file");
  read->add_option("PORT", readPort, "The unit's serial port")->required();
  read->add_option("-o,--output", outputPath, "The file to write (standard output when not given)");
  timeoutOption(read);
  journalOption(read);

  std::vector<std::string> writeArgs;
  CLI::App* write = app.add_subcommand(
      "write", "Check FILE with the panel's rules, write it to every unit, read it back and verify it");
  write->add_option("PORT... FILE", writeArgs, "The units' serial ports, then the configuration file")
      ->required()
      ->expected(2, -1);
  timeoutOption(write);
  journalOption(write);

  std::string listingPath;
  CLI::App* commands = app.add_subcommand("commands", "The remote configuration commands for FILE, as the window lists them");
  commands->add_option("FILE", listingPath, "A configuration file")->required()->check(CLI::ExistingFile);

  std::vector<std::string> journals;
  bool csv = false;
  std::string sinceText;
  CLI::App* report = app.add_subcommand(
      "report", "What journals say: counts by result and by day, the units served more than once, each unit's last "
                "record");
  report->add_option("JOURNAL", journals, "Journal files")->required();
  report->add_flag("--csv", csv, "One row per unit, for a spreadsheet");
  report->add_option("--since", sinceText, "Only records from this UTC date or time on (2024-01-31, 2024-01-31T14:05)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? ExitOk : ExitUsage;
  }

  if (list->parsed()) {
    std::vector<std::string> names;
    try {
      EnumComPorts(names);
    } catch (const EComPort& e) {
      Usage(std::string("the port list cannot be read: ") + e.what());
      return ExitFailed;
    }
    for (const std::string& name : names) std::printf("%s\n", name.c_str());
    return ExitOk;
  }

  if (commands->parsed()) {
    std::optional<ConfigRecord> record;
    if (!CheckedFile(listingPath, record)) return ExitUsage;
    for (const std::string& line : ListRemoteCommands(PanelValuesOf(*record)).Lines) std::printf("%s\n", line.c_str());
    return ExitOk;
  }

  if (report->parsed()) {
    std::string since;
    if (!sinceText.empty()) {
      const std::optional<std::string> bound = SinceBound(sinceText);
      if (!bound) {
        Usage("--since " + sinceText + ": not a date such as 2024-01-31 or a time such as 2024-01-31T14:05");
        return ExitUsage;
      }
      since = *bound;
    }
    return Report(journals, csv, since);
  }

  JobRequest base;
  base.identityTimeout = std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
  std::vector<JobRequest> requests;
  std::optional<ConfigRecord> record;
  if (info->parsed()) {
    base.command = JobCommand::Info;
  } else if (service->parsed() || station->parsed()) {
    base.command = JobCommand::Service;
    base.ventora = ventora;
    if (!configPath.empty()) {
      if (!CheckedFile(configPath, record)) return ExitUsage;
      base.record = record;
      base.recordName = configPath;
    }
  } else if (read->parsed()) {
    base.command = JobCommand::Read;
    ports = {readPort};
  } else if (write->parsed()) {
    base.command = JobCommand::Write;
    const std::string path = writeArgs.back();
    ports.assign(writeArgs.begin(), writeArgs.end() - 1);
    if (!CheckedFile(path, record)) return ExitUsage;
    base.record = record;
    base.recordName = path;
  }
  std::set<std::string> distinct;
  for (const std::string& port : ports) {
    if (!distinct.insert(port).second) {
      Usage("the port " + port + " is given twice");
      return ExitUsage;
    }
    JobRequest request = base;
    request.port = port;
    requests.push_back(std::move(request));
  }

  // Like a bad FILE, a journal that cannot be written to is refused before any port is opened.
  std::unique_ptr<Journal> journal;
  if (!journalPath.empty()) {
    try {
      journal = std::make_unique<Journal>(journalPath);
    } catch (const std::exception& e) {
      Usage(e.what());
      return ExitUsage;
    }
  }

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  // The configuration file of `read` goes to standard output; its events then go to standard
  // error, as do people's progress and messages in every command.
  const bool fileOnStdout = read->parsed() && outputPath.empty();
  std::FILE* eventStream = json && !fileOnStdout ? stdout : stderr;
  std::FILE* resultStream = fileOnStdout ? stderr : stdout;
  const Reporter::Style style = json ? Reporter::Style::Json
                                     : (IsTerminal(stderr) ? Reporter::Style::Table : Reporter::Style::Lines);
  Reporter reporter(style, eventStream, resultStream, verbose, ShapeOf(stderr));

  if (station->parsed()) {
    StationSettings settings;
    settings.job = base;
    settings.patterns = patterns;
    settings.newOnly = newOnly;
    Station served(std::move(settings), reporter, journal.get());
    return served.Run(interrupts);
  }

  std::unique_ptr<Journaling> journaling;
  if (journal) journaling = std::make_unique<Journaling>(reporter, *journal, read->parsed() ? "read" : write->parsed() ? "write" : "service");
  const std::vector<JobResult> results =
      RunJobs(std::move(requests), reporter, journaling ? static_cast<JobObserver&>(*journaling) : reporter);
  std::size_t ok = 0;
  for (const JobResult& result : results) ok += result.ok ? 1 : 0;
  if (results.size() > 1)
    reporter.Note(std::to_string(ok) + " of " + std::to_string(results.size()) + " units succeeded");
  if (journaling && journaling->Failed()) {
    Usage("the journal " + journalPath + " cannot be written: some units have no record");
    return ExitFailed;
  }
  if (ok != results.size()) return ExitFailed;
  if (!read->parsed()) return ExitOk;

  // read: the unit's configuration as a file. A value the panel would refuse (a unit may hold
  // a speed of 200) is kept as read, and said, since `write` will refuse the file until it is
  // corrected.
  const std::string text = ConfigFileText(*results.front().read);
  for (const std::string& refusal : ParseConfigFile(text).errors)
    reporter.Note("warning: the unit holds " + refusal + "; write refuses this file until it is corrected");
  if (outputPath.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return ExitOk;
  }
  std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    Usage("cannot write " + outputPath);
    return ExitFailed;
  }
  return ExitOk;
}
