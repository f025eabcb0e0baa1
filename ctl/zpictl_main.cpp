// zpictl: the tool's service from the command line, for several units at once.
//
//   zpictl list
//   zpictl info PORT... [--timeout S]
//   zpictl service PORT... [--ventora | --config FILE]
//   zpictl read PORT [-o FILE]
//   zpictl write PORT... FILE
//   zpictl commands FILE
//
// Exit status: 0 every unit succeeded; 1 a unit failed (its result says why); 2 bad usage or
// a bad FILE, and then nothing was sent to any unit.
#include "config/config_file.h"
#include "config/panel_values.h"
#include "config/remote_commands.h"
#include "ctl/reporter.h"
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
#include <unistd.h>
#endif

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted = true; }

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

void Usage(const std::string& text) { std::fprintf(stderr, "zpictl: %s\n", text.c_str()); }

// The file's refusals, one per line; false when there are any.
bool CheckedFile(const std::string& path, std::optional<ConfigRecord>& record) {
  const ConfigFileResult file = LoadConfigFile(path);
  for (const std::string& error : file.errors) std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
  record = file.record;
  return file.record.has_value();
}

// Runs one job per port, each on its own thread; Ctrl+C interrupts them all.
std::vector<JobResult> RunJobs(std::vector<JobRequest> requests, Reporter& reporter) {
  std::vector<std::string> ports;
  for (const JobRequest& request : requests) ports.push_back(request.port);
  reporter.Units(ports);
  std::vector<std::unique_ptr<UnitJob>> jobs;
  for (JobRequest& request : requests) jobs.push_back(std::make_unique<UnitJob>(std::move(request), reporter));
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
    if (interrupted && !told) {
      told = true;
      reporter.Note("interrupted: closing every port");
      for (const auto& job : jobs) job->Interrupt();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (std::thread& thread : threads) thread.join();
  return results;
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
  std::string configPath;
  bool ventora = false;
  service->add_option("PORT", ports, "The units' serial ports")->required();
  CLI::Option* ventoraFlag =
      service->add_flag("--ventora", ventora, "Force the Ventora preset (as the window's option does)");
  service->add_option("--config", configPath, "Write this configuration file to every unit, even over a valid one")
      ->excludes(ventoraFlag)
      ->check(CLI::ExistingFile);
  timeoutOption(service);

  std::string readPort, outputPath;
  CLI::App* read = app.add_subcommand("read", "A unit's configuration as a configuration file");
  read->add_option("PORT", readPort, "The unit's serial port")->required();
  read->add_option("-o,--output", outputPath, "The file to write (standard output when not given)");
  timeoutOption(read);

  std::vector<std::string> writeArgs;
  CLI::App* write = app.add_subcommand(
      "write", "Check FILE with the panel's rules, write it to every unit, read it back and verify it");
  write->add_option("PORT... FILE", writeArgs, "The units' serial ports, then the configuration file")
      ->required()
      ->expected(2, -1);
  timeoutOption(write);

  std::string listingPath;
  CLI::App* commands = app.add_subcommand("commands", "The remote configuration commands for FILE, as the window lists them");
  commands->add_option("FILE", listingPath, "A configuration file")->required()->check(CLI::ExistingFile);

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

  JobRequest base;
  base.identityTimeout = std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
  std::vector<JobRequest> requests;
  std::optional<ConfigRecord> record;
  if (info->parsed()) {
    base.command = JobCommand::Info;
  } else if (service->parsed()) {
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

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  // The configuration file of `read` goes to standard output; its events then go to standard
  // error, as do people's progress and messages in every command.
  const bool fileOnStdout = read->parsed() && outputPath.empty();
  std::FILE* eventStream = json && !fileOnStdout ? stdout : stderr;
  std::FILE* resultStream = fileOnStdout ? stderr : stdout;
  const Reporter::Style style = json ? Reporter::Style::Json
                                     : (IsTerminal(stderr) ? Reporter::Style::Bars : Reporter::Style::Lines);
  Reporter reporter(style, eventStream, resultStream, verbose);

  const std::vector<JobResult> results = RunJobs(std::move(requests), reporter);
  std::size_t ok = 0;
  for (const JobResult& result : results) ok += result.ok ? 1 : 0;
  if (results.size() > 1)
    reporter.Note(std::to_string(ok) + " of " + std::to_string(results.size()) + " units succeeded");
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
