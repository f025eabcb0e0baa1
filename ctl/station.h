#pragma once
// `zpictl station`: serves every unit plugged in, hands-free. It looks at the ports a few
// times a second; a port that appears gets the service at once, on a thread of its own; a
// port whose unit has been served is left alone until it disappears (the unit unplugged), and
// what appears there later is another unit. Each unit's record goes to the journal, flushed,
// before its result is shown; a journal that cannot be written stops the station before the
// next unit is taken. Qt-free.

// lib
#include "ctl/journal.h"
#include "ctl/port_watch.h"
#include "ctl/reporter.h"
#include "ctl/unit_job.h"

// Std
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct StationSettings {
  JobRequest job;                     // the service every unit gets (the port aside)
  std::vector<std::string> patterns;  // none: the whole port list
  bool newOnly = false;               // the ports there at the start are left alone
  std::chrono::milliseconds look{250};
  std::chrono::milliseconds retry{2000};  // a port that could not be opened is tried again
  std::function<void(const JobResult&)> afterResult;  // each unit's result, once it is shown
};

class Station final : private JobObserver {
 public:
  Station(StationSettings settings, Reporter& reporter, Journal* journal);
  ~Station() override;
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Serves units until `stops` (Ctrl+C, counted by the caller) is 1 and the units in flight
  // have finished, or 2 (they are interrupted), or the journal fails. The exit status: 0 when
  // every unit served succeeded (and has its record), 1 otherwise.
  int Run(const std::atomic<int>& stops);

 private:
  enum class State {
    Busy,        // a job runs
    Served,      // left alone until it disappears
    Skipped,     // there at the start, with --new-only
    Unopenable,  // tried again now and then, said once
  };
  struct Port {
    State state = State::Busy;
    std::string device;
    std::unique_ptr<UnitJob> job;
    std::thread thread;
    bool finished = false;  // the job's thread is done
    State after = State::Served;
    bool gone = false;      // it disappeared while its job ran
    bool toldUnopenable = false;
    std::chrono::steady_clock::time_point retryAt{};
    bool identified = false;  // the job's first identity was seen
    bool repeat = false;
  };

  // JobObserver, from the jobs' threads.
  void Identified(const std::string& port, const TDeviceInfo& info) override;
  void Progress(const std::string& port, std::string_view phase, int position, int maximum) override;
  void ConfigRead(const std::string& port, bool valid) override;
  void Written(const std::string& port, std::string_view what) override;
  void Verified(const std::string& port) override;
  void Log(const std::string& port, std::string_view line) override;
  void Finished(const JobResult& result) override;

  void Start(const std::string& name, Port& port);  // under the lock
  void Reap();
  // The ports there now; nothing when the port list cannot be read (said once).
  std::optional<std::vector<WatchedPort>> Look();
  // Takes the ports there (the first look: --new-only leaves them alone); `taking`: new units
  // get a job.
  void Take(const std::vector<WatchedPort>& there, bool first, bool taking);
  [[nodiscard]] std::size_t InFlight() const;  // under the lock
  [[nodiscard]] std::string TotalsText() const;  // under the lock

  StationSettings settings_;
  Reporter& reporter_;
  Journal* journal_;
  PortWatch watch_;
  mutable std::mutex mutex_;
  std::condition_variable woken_;
  std::map<std::string, Port> ports_;
  std::set<std::string> ids_;  // every unit id seen this run
  std::size_t served_ = 0, succeeded_ = 0, failed_ = 0, repeats_ = 0;
  std::string journalError_;
  std::string listError_;  // the port list could not be read (said once)
  std::chrono::steady_clock::time_point started_{};
  std::optional<std::chrono::steady_clock::time_point> firstUnit_;
};
