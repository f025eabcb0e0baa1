// Scale of zpictl against simulated units on pseudo-terminals: the whole service (firmware
// upload, restart, read, the invalid configuration replaced, written and read back) of 1, 4,
// 8 and 16 units at once, with a 1 ms answer delay (about a real unit on USB full speed) and
// with none (CPU-bound: the units share the machine's cores with the tool), as `zpictl service`
// serves them (a job per unit, each on its own thread) and as `zpictl station` does (the same
// jobs, started as the units' links appear in a watched folder). Runs are interleaved, so that
// other work on the machine slows them alike; each cell is the median [minimum-maximum], each
// ratio the median over one unit's median. Then the CPU that the station's watch takes with
// no unit plugged in. Asserts nothing. Build it in Release (scripts/station-bench.sh).
//
//   station_bench [--runs N] [--idle SECONDS]   (defaults 5 and 15)
#include "bench/bench_support.h"
#include "ctl/reporter.h"
#include "ctl/station.h"
#include "ctl/unit_job.h"
#include "sim/sim_unit.h"
#include "support/process.h"

// Std
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// POSIX
#include <sys/resource.h>
#include <unistd.h>

using bench::Clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using bench::Ms;
using bench::Of;
using bench::QuietObserver;
using bench::Spread;

std::string Cell(const Spread& s) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f [%.0f-%.0f]", s.median, s.minimum, s.maximum);
  return text;
}

// CPU time of this process so far (every thread: the tool's and the simulated units').
double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

std::vector<std::unique_ptr<SimUnit>> Units(int count, std::chrono::milliseconds delay) {
  std::vector<std::unique_ptr<SimUnit>> units;
  for (int i = 0; i < count; ++i) {
    units.push_back(std::make_unique<SimUnit>(bench::WholeServiceUnit(static_cast<std::uint32_t>(i), delay)));
    units.back()->Start();
  }
  return units;
}

struct Timed {
  double ms = 0;
  double cpuMs = 0;
};

// As `zpictl service PORT...`: from the start of the jobs to the end of the last one.
Timed AsService(int count, std::chrono::milliseconds delay) {
  const auto units = Units(count, delay);
  QuietObserver observer;
  std::vector<std::unique_ptr<UnitJob>> jobs;
  for (const auto& unit : units) {
    JobRequest request;
    request.port = unit->DevicePath();
    jobs.push_back(std::make_unique<UnitJob>(request, observer));
  }
  const double cpu0 = CpuMs();
  const auto t0 = Clock::now();
  std::vector<JobResult> results(jobs.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < jobs.size(); ++i) threads.emplace_back([&, i] { results[i] = jobs[i]->Run(); });
  for (std::thread& thread : threads) thread.join();
  const Timed t{Ms(Clock::now() - t0), CpuMs() - cpu0};
  for (const JobResult& r : results)
    if (!r.ok) throw std::runtime_error(r.port + ": " + r.error);
  return t;
}

// As `zpictl station --ports FOLDER/*`, already watching: from the units' links appearing to
// the last unit's result.
Timed AtStation(int count, std::chrono::milliseconds delay) {
  const auto units = Units(count, delay);
  char pattern[] = "/tmp/zpi-bench-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("no folder for the links");
  const fs::path folder = pattern;
  std::FILE* nowhere = std::fopen("/dev/null", "w");
  Reporter reporter(Reporter::Style::Lines, nowhere, nowhere, false);
  std::atomic<int> stops{0}, results{0}, failed{0};
  Clock::time_point last{};
  StationSettings settings;
  settings.patterns = {(folder / "*").string()};
  settings.afterResult = [&](const JobResult& r) {
    if (!r.ok) ++failed;
    if (++results == count) {
      last = Clock::now();
      stops = 1;
    }
  };
  Station station(settings, reporter, nullptr);
  std::thread running([&] { station.Run(stops); });
  std::this_thread::sleep_for(300ms);  // watching, with nothing plugged in
  const double cpu0 = CpuMs();
  const auto t0 = Clock::now();
  for (int i = 0; i < count; ++i) fs::create_symlink(units[i]->DevicePath(), folder / ("hub" + std::to_string(i)));
  running.join();
  const Timed t{Ms(last - t0), CpuMs() - cpu0};
  std::fclose(nowhere);
  fs::remove_all(folder);
  if (failed > 0) throw std::runtime_error(std::to_string(failed.load()) + " units failed at the station");
  return t;
}

// The CPU share of one core that `zpictl station` takes over `seconds` with nothing plugged in.
double IdleCpuPercent(const std::vector<std::string>& args, int seconds) {
  Process zpictl(ZPICTL_PATH, args);
  if (!zpictl.Started()) throw std::runtime_error("zpictl did not start");
  const auto ticks = [&] {
    std::ifstream stat("/proc/" + std::to_string(zpictl.Pid()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // utime and stime: the 14th and 15th fields, counted after the command's closing parenthesis.
    std::size_t at = text.rfind(')');
    long long utime = 0, stime = 0;
    for (int field = 3; field <= 15 && at != std::string::npos; ++field) {
      at = text.find(' ', at + 1);
      if (field == 14) utime = std::atoll(text.c_str() + at + 1);
      if (field == 15) stime = std::atoll(text.c_str() + at + 1);
    }
    return utime + stime;
  };
  zpictl.ReadUntil([] { return false; }, 1000ms);  // past its start-up
  const long long before = ticks();
  const auto t0 = Clock::now();
  zpictl.ReadUntil([] { return false; }, std::chrono::seconds(seconds));
  const long long used = ticks() - before;
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  zpictl.Signal(SIGINT);
  zpictl.Wait(5s);
  return 100.0 * static_cast<double>(used) / static_cast<double>(sysconf(_SC_CLK_TCK)) / wall;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5, idle = 15;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--idle") == 0) idle = std::max(1, std::atoi(argv[i + 1]));
  }
  const int counts[] = {1, 4, 8, 16};
  const std::chrono::milliseconds delays[] = {1ms, 0ms};
  const struct {
    const char* name;
    std::function<Timed(int, std::chrono::milliseconds)> run;
  } modes[] = {{"service", AsService}, {"station", AtStation}};

  // [mode][delay][count] -> runs
  std::vector<double> ms[2][2][4], cpu[2][2][4];
  for (int r = 0; r < runs; ++r)
    for (int d = 0; d < 2; ++d)
      for (int c = 0; c < 4; ++c)
        for (int m = 0; m < 2; ++m) {
          const Timed t = modes[m].run(counts[c], delays[d]);
          ms[m][d][c].push_back(t.ms);
          cpu[m][d][c].push_back(t.cpuMs);
        }

  std::printf("whole service of each unit (upload, restart, read, write, verify); ms: median [min-max] of %d "
              "interleaved runs;\nratio: median over one unit's median; cpu: the process's CPU time over the wall "
              "time (2.00 = both cores)\n",
              runs);
  for (int d = 0; d < 2; ++d) {
    std::printf("\nanswer delay %lld ms\n%-8s", static_cast<long long>(delays[d].count()), "units");
    for (const auto& mode : modes) std::printf("  %-24s %-6s %-5s", mode.name, "ratio", "cpu");
    std::printf("\n");
    for (int c = 0; c < 4; ++c) {
      std::printf("%-8d", counts[c]);
      for (int m = 0; m < 2; ++m) {
        const Spread s = Of(ms[m][d][c]);
        const double one = Of(ms[m][d][0]).median;
        const double load = Of(cpu[m][d][c]).median / std::max(s.median, 1.0);
        std::printf("  %-24s %5.2fx %5.2f", Cell(s).c_str(), one > 0 ? s.median / one : 0.0, load);
      }
      std::printf("\n");
    }
  }

  char folder[] = "/tmp/zpi-idle-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const double watched = IdleCpuPercent({"station", "--ports", std::string(folder) + "/*"}, idle);
  const double list = IdleCpuPercent({"station", "--new-only"}, idle);
  fs::remove_all(folder);
  std::printf("\nthe station's watch with no unit plugged in, over %d s: %.2f %% of one core with --ports "
              "(an empty folder), %.2f %% over the whole port list\n",
              idle, watched, list);
  return 0;
}
