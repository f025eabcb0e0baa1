#pragma once
// How zpictl tells what its jobs do: for people, a live table with a row per unit on a
// terminal, or plain lines when the output goes elsewhere; for programs, one JSON object per
// line for each event of each unit. Thread-safe: every job reports from its own thread.
//
// The live table is redrawn in place under everything else that is written, and leaves the
// screen clean: a line written above it (a result, a note) first takes the table away from the
// start of its line, so nothing is written over half a row, and End takes it away for good.

// lib
#include "config/config_file.h"
#include "ctl/unit_job.h"

// Std
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// What the live table may use of the terminal.
struct TerminalShape {
  int columns = 80;
  int rows = 24;
  bool colour = true;
};

class Reporter final : public JobObserver {
 public:
  enum class Style {
    Lines,  // plain lines
    Table,  // a live row per unit, redrawn in place (a terminal)
    Json,   // one JSON object per line
  };
  // `events`: where progress and events go (and the table); `results`: each unit's result.
  Reporter(Style style, std::FILE* events, std::FILE* results, bool verbose, TerminalShape terminal = {});

  // `service` and the other commands: a row for each of these ports, in this order, until its
  // result is shown.
  void Units(const std::vector<std::string>& ports);
  // The station: a unit plugged in gets a row, which keeps its result until it is unplugged.
  void Plugged(const std::string& port);
  void Unplugged(const std::string& port);
  // About a port where no unit was served (it cannot be opened, nothing announced itself).
  void PortNote(const std::string& port, const std::string& text);
  // The running totals under the station's rows.
  void Totals(const std::string& text);

  void Identified(const std::string& port, const TDeviceInfo& info) override;
  void Progress(const std::string& port, std::string_view phase, int position, int maximum) override;
  void ConfigRead(const std::string& port, bool valid) override;
  void Written(const std::string& port, std::string_view what) override;
  void Verified(const std::string& port) override;
  void Log(const std::string& port, std::string_view line) override;
  void Finished(const JobResult& result) override;

  // One line (or one JSON object) about the run, not about a unit.
  void Note(const std::string& text);
  // Takes the live table away for good: what is written after stands alone.
  void End();

 private:
  struct Row {
    std::string id;     // once the unit announced itself
    std::string phase;  // with a progress bar while it runs
    int position = 0;
    int maximum = 0;
    int decile = -1;    // the last milestone reported (tenths)
    std::string state;  // what the row shows without a bar
    int result = -1;    // -1 running; 0 OK; 1 FAILED
    std::string detail;  // after the result
  };
  void Line(const std::string& port, const std::string& text);  // a plain line about a unit
  void Event(const std::string& json);
  void Redraw(bool force);
  void ClearTable();
  void Widen(const std::string& port);
  [[nodiscard]] std::string RowText(const std::string& port, const Row& row) const;
  [[nodiscard]] std::string Painted(const std::string& text, const char* colour) const;

  Style style_;
  std::FILE* events_;
  std::FILE* results_;
  bool verbose_;
  TerminalShape terminal_;
  bool station_ = false;  // rows keep their results
  bool ended_ = false;
  std::mutex mutex_;
  std::vector<std::string> order_;
  std::map<std::string, Row> rows_;
  std::string totals_;
  std::size_t drawn_ = 0;  // table lines on the screen now
  long long lastDraw_ = 0;
  std::size_t width_ = 0;  // the longest port name
};

// The first `columns` characters of `text`, its colour sequences not counted and kept whole,
// never cutting a character in two.
[[nodiscard]] std::string FitToColumns(const std::string& text, std::size_t columns);
