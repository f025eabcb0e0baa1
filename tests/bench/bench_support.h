#pragma once
// What the benchmarks share: milliseconds of a duration, the median, minimum and maximum of a
// set of runs, an observer of zpictl's jobs that reports nothing, and a simulated unit that
// takes the whole service.
#include "ctl/unit_job.h"
#include "sim/sim_unit.h"

// Std
#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Spread {
  double median = 0, minimum = 0, maximum = 0;
};

inline Spread Of(std::vector<double> v) {
  if (v.empty()) return {};
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v.front(), v.back()};
}

class QuietObserver final : public JobObserver {
 public:
  void Identified(const std::string&, const TDeviceInfo&) override {}
  void Progress(const std::string&, std::string_view, int, int) override {}
  void ConfigRead(const std::string&, bool) override {}
  void Written(const std::string&, std::string_view) override {}
  void Verified(const std::string&) override {}
  void Log(const std::string&, std::string_view) override {}
  void Finished(const JobResult&) override {}
};

// A unit at firmware 2.45 with an invalid configuration: upload, restart, read, write and
// verification; quick to restart and to announce itself.
inline SimOptions WholeServiceUnit(std::uint32_t serial, std::chrono::milliseconds ackDelay = {}) {
  SimOptions options;
  options.firmwareMinor = 45;
  options.memory = StartImage("invalid");
  options.restartDelay = std::chrono::milliseconds(50);
  options.settleDelay = std::chrono::milliseconds(5);
  options.ackDelay = ackDelay;
  options.id[0] = 0x5A500000u + serial;
  return options;
}

}  // namespace bench
