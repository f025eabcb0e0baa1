#include "ctl/station.h"

// lib
#include "protocol/service_rules.h"
#include "serial/comport.h"

// Std
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

std::string Seconds(std::chrono::milliseconds ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms.count()) / 1000.0);
  return text;
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A port where no unit was served: nothing announced itself there, or it could not be opened,
// or it went before anything announced itself. Such a port is said once and is not a unit.
bool NoUnitThere(const JobResult& r) {
  if (r.unit) return false;
  return r.code == JobPortUnavailable || r.code == JobNoAnnouncement || r.code == JobUnplugged ||
         r.code == JobInterrupted;
}

}  // namespace

Station::Station(StationSettings settings, Reporter& reporter, Journal* journal)
    : settings_(std::move(settings)), reporter_(reporter), journal_(journal), watch_(settings_.patterns) {}

Station::~Station() {
  // Run joins every job before it returns; a station left by an exception still must not
  // leave a thread running on a port.
  for (auto& [name, port] : ports_) {
    if (!port.thread.joinable()) continue;
    port.job->Interrupt();
    port.thread.join();
  }
}

// ---- What the jobs report -----------------------------------------------------------------

void Station::Identified(const std::string& name, const TDeviceInfo& info) {
  {
    const std::lock_guard lock(mutex_);
    const auto it = ports_.find(name);
    if (it != ports_.end() && !it->second.identified) {
      it->second.identified = true;
      it->second.repeat = !ids_.insert(UnitIdText(info)).second;
    }
  }
  reporter_.Identified(name, info);
}

void Station::Progress(const std::string& port, std::string_view phase, int position, int maximum) {
  reporter_.Progress(port, phase, position, maximum);
}
void Station::ConfigRead(const std::string& port, bool valid) { reporter_.ConfigRead(port, valid); }
void Station::Written(const std::string& port, std::string_view what) { reporter_.Written(port, what); }
void Station::Verified(const std::string& port) { reporter_.Verified(port); }
void Station::Log(const std::string& port, std::string_view line) { reporter_.Log(port, line); }

void Station::Finished(const JobResult& finished) {
  JobResult r = finished;
  bool tellUnopenable = false;
  {
    const std::lock_guard lock(mutex_);
    Port& port = ports_.at(r.port);
    r.repeat = port.repeat;
    if (NoUnitThere(r)) {
      port.after = r.code == JobPortUnavailable ? State::Unopenable : State::Served;
      tellUnopenable = r.code == JobPortUnavailable && !port.toldUnopenable;
      if (tellUnopenable) port.toldUnopenable = true;
      port.retryAt = Clock::now() + settings_.retry;
    }
  }
  if (NoUnitThere(r)) {
    if (r.code == JobNoAnnouncement)
      reporter_.PortNote(r.port, "no unit announced itself within " + Seconds(settings_.job.identityTimeout) +
                                     "; left alone until it is unplugged");
    else if (tellUnopenable)
      reporter_.PortNote(r.port, r.error + "; tried again every " + Seconds(settings_.retry) + ", said once");
    else if (r.code != JobPortUnavailable)
      reporter_.PortNote(r.port, r.error + " before any unit announced itself");
  } else {
    // The record first, flushed: only then is the result final.
    if (journal_) {
      std::string error;
      if (!journal_->Append(JournalLine(RecordOf(r, "station", std::chrono::system_clock::now())), error)) {
        r.notes.push_back("no journal record: " + error);
        const std::lock_guard lock(mutex_);
        if (journalError_.empty()) journalError_ = error;
      }
    }
    {
      const std::lock_guard lock(mutex_);
      ++served_;
      ++(r.ok ? succeeded_ : failed_);
      if (r.repeat) ++repeats_;
    }
    reporter_.Finished(r);
    std::string totals;
    {
      const std::lock_guard lock(mutex_);
      totals = TotalsText();
    }
    reporter_.Totals(totals);
    if (settings_.afterResult) settings_.afterResult(r);
  }
  {
    const std::lock_guard lock(mutex_);
    ports_.at(r.port).finished = true;
  }
  woken_.notify_all();
}

// ---- The station's own loop ---------------------------------------------------------------

std::size_t Station::InFlight() const {
  std::size_t busy = 0;
  for (const auto& [name, port] : ports_) busy += port.state == State::Busy ? 1 : 0;
  return busy;
}

std::string Station::TotalsText() const {
  std::string text = "served " + std::to_string(served_) + "   succeeded " + std::to_string(succeeded_) +
                     "   failed " + std::to_string(failed_);
  if (repeats_ > 0) text += "   repeats " + std::to_string(repeats_);
  if (firstUnit_ && served_ > 0) {
    const double hours = std::chrono::duration<double>(Clock::now() - *firstUnit_).count() / 3600.0;
    if (hours > 0) {
      char rate[32];
      std::snprintf(rate, sizeof rate, "   %.0f units/hour", static_cast<double>(served_) / hours);
      text += rate;
    }
  }
  return text;
}

void Station::Start(const std::string& name, Port& port) {
  port.state = State::Busy;
  port.finished = false;
  port.identified = false;
  port.repeat = false;
  port.after = State::Served;
  if (!firstUnit_) firstUnit_ = Clock::now();
  JobRequest request = settings_.job;
  request.port = name;
  port.job = std::make_unique<UnitJob>(std::move(request), static_cast<JobObserver&>(*this));
  UnitJob* job = port.job.get();
  port.thread = std::thread([job] { job->Run(); });
}

void Station::Reap() {
  std::vector<std::string> unplugged;
  {
    const std::lock_guard lock(mutex_);
    for (auto it = ports_.begin(); it != ports_.end();) {
      Port& port = it->second;
      if (port.state != State::Busy || !port.finished) {
        ++it;
        continue;
      }
      port.thread.join();
      port.job.reset();
      port.state = port.after;
      if (port.gone) {
        unplugged.push_back(it->first);
        it = ports_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const std::string& name : unplugged) reporter_.Unplugged(name);
}

std::optional<std::vector<WatchedPort>> Station::Look() {
  try {
    std::vector<WatchedPort> there = watch_.Look();
    listError_.clear();
    return there;
  } catch (const EComPort& e) {
    // Said once; the ports already known are kept until the list can be read again.
    if (listError_.empty()) reporter_.Note(std::string("the port list cannot be read: ") + e.what());
    listError_ = e.what();
    return std::nullopt;
  }
}

void Station::Take(const std::vector<WatchedPort>& there, bool first, bool taking) {
  std::map<std::string, std::string> devices;
  for (const WatchedPort& p : there) devices[p.name] = p.device;

  std::vector<std::string> unplugged, plugged;
  {
    const std::lock_guard lock(mutex_);
    for (auto it = ports_.begin(); it != ports_.end();) {
      const auto now = devices.find(it->first);
      if (now != devices.end() && now->second == it->second.device) {
        ++it;
        continue;
      }
      // Gone, or another device behind the same name: the unit there was unplugged.
      if (it->second.state == State::Busy) {
        it->second.gone = true;
        ++it;
        continue;
      }
      if (it->second.state != State::Skipped) unplugged.push_back(it->first);
      it = ports_.erase(it);
    }
    // Once the journal has failed no unit is taken: it would go without its record.
    taking = taking && journalError_.empty();
    const auto now = Clock::now();
    for (const WatchedPort& p : there) {
      auto it = ports_.find(p.name);
      if (it == ports_.end()) {
        if (!taking) continue;
        Port& port = ports_[p.name];
        port.device = p.device;
        if (first && settings_.newOnly) {
          port.state = State::Skipped;
          continue;
        }
        plugged.push_back(p.name);
        Start(p.name, port);
      } else if (taking && it->second.state == State::Unopenable && now >= it->second.retryAt) {
        Start(p.name, it->second);
      }
    }
  }
  for (const std::string& name : unplugged) reporter_.Unplugged(name);
  for (const std::string& name : plugged) reporter_.Plugged(name);
}

int Station::Run(const std::atomic<int>& stops) {
  started_ = Clock::now();
  // The ports there at the start are those of the first look, which takes them (or not).
  std::optional<std::vector<WatchedPort>> there = Look();
  const std::size_t present = there ? there->size() : 0;
  reporter_.Note("station: watching " + watch_.Describe() + " every " + Seconds(settings_.look) + "; " +
                 Plural(present, "port is", "ports are") + " there now" +
                 (present == 0         ? std::string()
                  : settings_.newOnly ? ", left alone (--new-only)"
                                      : " and served too (--new-only leaves them alone)"));
  reporter_.Note("Ctrl+C stops taking units; a second Ctrl+C interrupts those in flight.");
  reporter_.Totals("served 0");

  bool stopping = false, interrupted = false, first = true;
  for (;;) {
    Reap();
    const int pressed = stops.load();
    std::string journalError;
    std::size_t inFlight;
    {
      const std::lock_guard lock(mutex_);
      journalError = journalError_;
      inFlight = InFlight();
    }
    if (!stopping && (pressed >= 1 || !journalError.empty())) {
      stopping = true;
      if (!journalError.empty())
        reporter_.Note("the journal " + journal_->Path() + " cannot be written (" + journalError +
                       "): the station stops, since a unit served without its record breaks the record");
      else
        reporter_.Note("stopping: no new units" +
                       (inFlight > 0 ? "; waiting for " + Plural(inFlight, "unit", "units") +
                                           " in flight (Ctrl+C again interrupts them)"
                                     : std::string()));
    }
    if (pressed >= 2 && !interrupted) {
      interrupted = true;
      reporter_.Note("interrupted: closing every port");
      const std::lock_guard lock(mutex_);
      for (auto& [name, port] : ports_)
        if (port.state == State::Busy) port.job->Interrupt();
    }
    if (stopping && inFlight == 0) break;
    if (!first) there = Look();
    if (there) Take(*there, first, !stopping);
    first = false;
    std::unique_lock lock(mutex_);
    woken_.wait_for(lock, settings_.look, [&] {
      for (const auto& [name, port] : ports_)
        if (port.state == State::Busy && port.finished) return true;
      return false;
    });
  }

  reporter_.End();
  const std::lock_guard lock(mutex_);
  const auto took = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count();
  char duration[32];
  std::snprintf(duration, sizeof duration, "%lld:%02lld:%02lld", static_cast<long long>(took / 3600),
                static_cast<long long>(took / 60 % 60), static_cast<long long>(took % 60));
  reporter_.Note("station: " + Plural(served_, "unit", "units") + " served in " + duration + ": " +
                 std::to_string(succeeded_) + " succeeded, " + std::to_string(failed_) + " failed" +
                 (repeats_ > 0 ? ", " + Plural(repeats_, "repeat", "repeats") : std::string()));
  return failed_ > 0 || !journalError_.empty() ? 1 : 0;
}
