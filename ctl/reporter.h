#pragma once
// How zpictl tells what its jobs do: for people, one progress bar per unit on a terminal or
// plain lines when the output goes elsewhere; for programs, one JSON object per line for each
// event of each unit. Thread-safe: every job reports from its own thread.

// lib
#include "config/config_file.h"
#include "ctl/unit_job.h"

// Std
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class Reporter final : public JobObserver {
 public:
  enum class Style {
    Lines,  // plain lines
    Bars,   // a progress bar per unit, redrawn in place (a terminal)
    Json,   // one JSON object per line
  };
  // `events`: where progress and events go; `results`: where each unit's result goes.
  Reporter(Style style, std::FILE* events, std::FILE* results, bool verbose);

  // The units, in the order their bars are drawn.
  void Units(const std::vector<std::string>& ports);

  void Identified(const std::string& port, const TDeviceInfo& info) override;
  void Progress(const std::string& port, std::string_view phase, int position, int maximum) override;
  void ConfigRead(const std::string& port, bool valid) override;
  void Written(const std::string& port, std::string_view what) override;
  void Verified(const std::string& port) override;
  void Log(const std::string& port, std::string_view line) override;
  void Finished(const JobResult& result) override;

  // One line (or one JSON object) about the run, not about a unit.
  void Note(const std::string& text);

 private:
  struct Bar {
    std::string phase;
    int position = 0;
    int maximum = 0;
    int decile = -1;    // the last milestone reported (tenths)
    std::string state;  // what the bar shows after its numbers
  };
  void Line(const std::string& port, const std::string& text);  // a plain line about a unit
  void Event(const std::string& json);
  void Redraw(bool force);
  void ClearBars();

  Style style_;
  std::FILE* events_;
  std::FILE* results_;
  bool verbose_;
  std::mutex mutex_;
  std::vector<std::string> order_;
  std::map<std::string, Bar> bars_;
  std::size_t drawn_ = 0;  // bar lines on the screen now
  long long lastDraw_ = 0;
  std::size_t width_ = 0;  // the longest port name
};
