#include "ctl/reporter.h"

// lib
#include "protocol/service_rules.h"

// Third party
#include <nlohmann/json.hpp>

// Std
#include <algorithm>
#include <chrono>

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* Green = "\x1b[32m";
constexpr const char* Red = "\x1b[31m";
constexpr std::size_t IdWidth = 26;  // "00000246 00C0FFEE 5A500001"

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

}  // namespace

std::string FitToColumns(const std::string& text, std::size_t columns) {
  std::string out;
  std::size_t used = 0;
  bool painted = false;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == 0x1b && i + 1 < text.size() && text[i + 1] == '[') {  // a sequence: kept whole, no column
      std::size_t end = i + 2;
      while (end < text.size() && !(text[end] >= 0x40 && text[end] <= 0x7e)) ++end;
      end = std::min(end + 1, text.size());
      out.append(text, i, end - i);
      painted = true;
      i = end;
      continue;
    }
    std::size_t length = byte < 0x80 ? 1 : byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
    length = std::min(length, text.size() - i);
    if (used == columns) break;
    out.append(text, i, length);
    ++used;
    i += length;
  }
  if (painted) out += "\x1b[0m";
  return out;
}

Reporter::Reporter(Style style, std::FILE* events, std::FILE* results, bool verbose, TerminalShape terminal)
    : style_(style), events_(events), results_(results), verbose_(verbose), terminal_(terminal) {}

void Reporter::Widen(const std::string& port) { width_ = std::max(width_, port.size()); }

void Reporter::Units(const std::vector<std::string>& ports) {
  const std::lock_guard lock(mutex_);
  order_ = ports;
  for (const std::string& port : ports) {
    rows_[port].state = "waiting for the unit";
    Widen(port);
  }
  Redraw(true);
}

void Reporter::Plugged(const std::string& port) {
  const std::lock_guard lock(mutex_);
  station_ = true;
  if (style_ == Style::Json) {
    rows_.erase(port);  // a new unit: its milestones start afresh
    Event(Json{{"port", port}, {"event", "plugged"}}.dump());
    return;
  }
  Widen(port);
  if (std::find(order_.begin(), order_.end(), port) == order_.end()) order_.push_back(port);
  rows_[port] = Row();
  rows_[port].state = "waiting for the unit";
  Line(port, "plugged in");
}

void Reporter::Unplugged(const std::string& port) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"port", port}, {"event", "unplugged"}}.dump());
    return;
  }
  std::erase(order_, port);
  rows_.erase(port);
  Line(port, "unplugged");
}

void Reporter::PortNote(const std::string& port, const std::string& text) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"port", port}, {"event", "note"}, {"text", text}}.dump());
    return;
  }
  if (const auto row = rows_.find(port); row != rows_.end()) {
    row->second.phase.clear();
    row->second.state = text;
  }
  Line(port, text);
}

void Reporter::Totals(const std::string& text) {
  const std::lock_guard lock(mutex_);
  totals_ = text;
  Redraw(true);
}

void Reporter::Identified(const std::string& port, const TDeviceInfo& info) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"port", port},
               {"event", "identified"},
               {"kind", info.Version[0]},
               {"version", UnitVersionText(info)},
               {"firmware", FirmwareText(info)},
               {"id", UnitIdText(info)},
               {"mode", info.Mode == 0 ? "operating" : "service"}}
              .dump());
    return;
  }
  Row& row = rows_[port];
  row.id = UnitIdText(info);
  row.phase.clear();
  row.state = "identified, firmware " + FirmwareText(info);
  Line(port, IdentityLine(info, "  ") + (info.Mode == 0 ? "  (operating mode)" : ""));
}

void Reporter::Progress(const std::string& port, std::string_view phase, int position, int maximum) {
  const std::lock_guard lock(mutex_);
  Row& row = rows_[port];
  if (row.phase != phase) row.decile = -1;
  row.phase = std::string(phase);
  row.position = position;
  row.maximum = maximum;
  if (maximum <= 0 || position <= 0) return;
  const int decile = std::min(10, position * 10 / maximum);
  const bool milestone = decile != row.decile;
  row.decile = decile;
  switch (style_) {
    case Style::Json:
      if (milestone)
        Event(Json{{"port", port}, {"event", "progress"}, {"phase", phase}, {"percent", decile * 10},
                   {"position", position}, {"of", maximum}}
                  .dump());
      break;
    case Style::Lines:
      // Upload milestones only: the other phases take a fraction of a second.
      if (milestone && phase == "upload" && decile > 0 && decile < 10)
        Line(port, std::string(phase) + " " + std::to_string(decile * 10) + "%");
      break;
    case Style::Table:
      Redraw(false);
      break;
  }
}

void Reporter::ConfigRead(const std::string& port, bool valid) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"port", port}, {"event", "read"}, {"valid", valid}}.dump());
    return;
  }
  Line(port, valid ? "configuration read: valid" : "configuration read: invalid");
}

void Reporter::Written(const std::string& port, std::string_view what) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"port", port}, {"event", "written"}, {"configuration", what}}.dump());
    return;
  }
  Line(port, "configuration written (" + std::string(what) + ")");
}

void Reporter::Verified(const std::string& port) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"port", port}, {"event", "verified"}}.dump());
    return;
  }
  Line(port, "configuration read back and verified");
}

void Reporter::Log(const std::string& port, std::string_view line) {
  if (!verbose_) return;
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"port", port}, {"event", "log"}, {"line", line}}.dump());
    return;
  }
  Line(port, "| " + OneLine(std::string(line)));
}

void Reporter::Finished(const JobResult& r) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Json result{{"port", r.port}, {"event", "result"}, {"ok", r.ok}, {"code", r.code}};
    if (!r.ok) result["error"] = r.error;
    if (r.unit) result["id"] = UnitIdText(*r.unit);
    result["done"] = r.done;
    if (!r.unfinished.empty()) result["unfinished"] = r.unfinished;
    if (!r.notes.empty()) result["notes"] = r.notes;
    if (r.repeat) result["repeat"] = true;
    std::fprintf(results_, "%s\n", result.dump().c_str());
    std::fflush(results_);
    rows_.erase(r.port);  // only the milestones were kept, and the job is over: a station
    return;               // sees a new name for every unit on some benches (by-id links)
  }
  ClearTable();
  std::string text = r.port + std::string(width_ > r.port.size() ? width_ - r.port.size() : 0, ' ') + "  " +
                     (style_ == Style::Table ? Painted(r.ok ? "OK    " : "FAILED", r.ok ? Green : Red)
                                             : std::string(r.ok ? "OK    " : "FAILED")) +
                     "  ";
  if (r.unit) text += IdentityLine(*r.unit, "  ");
  if (!r.done.empty()) text += "  (" + Joined(r.done) + ")";
  if (r.repeat) text += "  repeat";
  if (!r.ok) {
    text += "\n    error " + std::to_string(r.code) + ": " + OneLine(r.error);
    if (!r.unfinished.empty()) text += "\n    left unfinished: " + r.unfinished;
  }
  for (const std::string& note : r.notes) text += "\n    note: " + note;
  std::fprintf(results_, "%s\n", text.c_str());
  std::fflush(results_);
  if (station_) {
    Row& row = rows_[r.port];
    row.phase.clear();
    row.result = r.ok ? 0 : 1;
    row.detail = r.ok ? Joined(r.done) : "error " + std::to_string(r.code) + ": " + OneLine(r.error);
    if (r.repeat) row.detail += "; repeat";
    for (const std::string& note : r.notes) row.detail += "; " + note;
    if (!r.ok && style_ == Style::Table && !ended_) std::fputc('\a', events_);  // a failure rings the bell
  } else {
    std::erase(order_, r.port);  // its result line says it all
    rows_.erase(r.port);
  }
  Redraw(true);
}

void Reporter::Note(const std::string& text) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"event", "note"}, {"text", text}}.dump());
    return;
  }
  ClearTable();
  std::fprintf(events_, "%s\n", text.c_str());
  std::fflush(events_);
  Redraw(true);
}

void Reporter::End() {
  const std::lock_guard lock(mutex_);
  ClearTable();
  std::fflush(events_);
  ended_ = true;
}

void Reporter::Line(const std::string& port, const std::string& text) {
  ClearTable();
  std::fprintf(events_, "%s%s  %s\n", port.c_str(), std::string(width_ > port.size() ? width_ - port.size() : 0, ' ').c_str(),
               text.c_str());
  std::fflush(events_);
  Redraw(true);
}

void Reporter::Event(const std::string& json) {
  std::fprintf(events_, "%s\n", json.c_str());
  std::fflush(events_);
}

void Reporter::ClearTable() {
  if (style_ != Style::Table || ended_) return;
  // From the start of the line: whatever the terminal put after the table (a "^C" echoed by
  // Ctrl+C) goes too, and nothing is written over half a row.
  if (drawn_ > 0)
    std::fprintf(events_, "\r\x1b[%zuA\x1b[J", drawn_);
  else
    std::fputs("\r\x1b[J", events_);
  drawn_ = 0;
}

std::string Reporter::Painted(const std::string& text, const char* colour) const {
  return terminal_.colour ? colour + text + "\x1b[0m" : text;
}

std::string Reporter::RowText(const std::string& port, const Row& row) const {
  std::string line = Padded(port, width_) + "  " + Padded(row.id, IdWidth) + "  ";
  if (row.result >= 0) {
    line += Painted(row.result == 0 ? "OK    " : "FAILED", row.result == 0 ? Green : Red) + "  " + row.detail;
  } else if (!row.phase.empty() && row.maximum > 0) {
    constexpr int Width = 20;
    const int filled = std::clamp(row.position * Width / row.maximum, 0, Width);
    const int percent = std::clamp(row.position * 100 / row.maximum, 0, 100);
    line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(Width - filled), '.') + "] " + std::to_string(percent) + "% " +
            row.phase;
  } else {
    line += row.state;
  }
  return line;
}

void Reporter::Redraw(bool force) {
  if (style_ != Style::Table || ended_) return;
  const long long now = NowMs();
  if (!force && now - lastDraw_ < 50) return;  // at most 20 frames a second
  lastDraw_ = now;
  ClearTable();
  // A row longer than the terminal would wrap, and a table taller than it would scroll: either
  // way the table could no longer be found again to be redrawn.
  const std::size_t columns = static_cast<std::size_t>(std::max(terminal_.columns - 1, 10));
  const std::size_t room = static_cast<std::size_t>(std::max(terminal_.rows - 2, 2)) - (totals_.empty() ? 0 : 1);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < order_.size(); ++i) {
    if (lines.size() + 1 == room && order_.size() - i > 1) {
      lines.push_back("... and " + std::to_string(order_.size() - i) + " more ports");
      break;
    }
    lines.push_back(RowText(order_[i], rows_.at(order_[i])));
  }
  if (!totals_.empty()) lines.push_back(totals_);
  for (const std::string& line : lines) std::fprintf(events_, "%s\n", FitToColumns(line, columns).c_str());
  drawn_ = lines.size();
  std::fflush(events_);
}
