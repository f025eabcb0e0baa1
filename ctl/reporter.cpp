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

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

}  // namespace

Reporter::Reporter(Style style, std::FILE* events, std::FILE* results, bool verbose)
    : style_(style), events_(events), results_(results), verbose_(verbose) {}

void Reporter::Units(const std::vector<std::string>& ports) {
  const std::lock_guard lock(mutex_);
  order_ = ports;
  for (const std::string& port : ports) {
    bars_[port].state = "waiting for the unit";
    width_ = std::max(width_, port.size());
  }
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
  Line(port, IdentityLine(info, "  ") +
                 (info.Mode == 0 ? "  (operating mode)" : ""));
  bars_[port].state = "identified";
  Redraw(true);
}

void Reporter::Progress(const std::string& port, std::string_view phase, int position, int maximum) {
  const std::lock_guard lock(mutex_);
  Bar& bar = bars_[port];
  if (bar.phase != phase) bar.decile = -1;
  bar.phase = std::string(phase);
  bar.position = position;
  bar.maximum = maximum;
  bar.state.clear();
  if (maximum <= 0 || position <= 0) return;
  const int decile = std::min(10, position * 10 / maximum);
  const bool milestone = decile != bar.decile;
  bar.decile = decile;
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
    case Style::Bars:
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
    std::fprintf(results_, "%s\n", result.dump().c_str());
    std::fflush(results_);
    return;
  }
  Bar& bar = bars_[r.port];
  bar.phase.clear();
  bar.state = r.ok ? "done" : "failed";
  ClearBars();
  std::string text = r.port + std::string(width_ > r.port.size() ? width_ - r.port.size() : 0, ' ') +
                     (r.ok ? "  OK      " : "  FAILED  ");
  if (r.unit) text += IdentityLine(*r.unit, "  ");
  if (!r.done.empty()) text += "  (" + Joined(r.done) + ")";
  if (!r.ok) {
    text += "\n    error " + std::to_string(r.code) + ": " + OneLine(r.error);
    if (!r.unfinished.empty()) text += "\n    left unfinished: " + r.unfinished;
  }
  for (const std::string& note : r.notes) text += "\n    note: " + note;
  std::fprintf(results_, "%s\n", text.c_str());
  std::fflush(results_);
  Redraw(true);
}

void Reporter::Note(const std::string& text) {
  const std::lock_guard lock(mutex_);
  if (style_ == Style::Json) {
    Event(Json{{"event", "note"}, {"text", text}}.dump());
    return;
  }
  ClearBars();
  std::fprintf(events_, "%s\n", text.c_str());
  std::fflush(events_);
  Redraw(true);
}

void Reporter::Line(const std::string& port, const std::string& text) {
  ClearBars();
  std::fprintf(events_, "%s%s  %s\n", port.c_str(), std::string(width_ > port.size() ? width_ - port.size() : 0, ' ').c_str(),
               text.c_str());
  std::fflush(events_);
  Redraw(true);
}

void Reporter::Event(const std::string& json) {
  std::fprintf(events_, "%s\n", json.c_str());
  std::fflush(events_);
}

void Reporter::ClearBars() {
  if (style_ != Style::Bars || drawn_ == 0) return;
  std::fprintf(events_, "\x1b[%zuA\x1b[J", drawn_);  // up to the first bar, erase to the end
  drawn_ = 0;
}

void Reporter::Redraw(bool force) {
  if (style_ != Style::Bars) return;
  const long long now = NowMs();
  if (!force && now - lastDraw_ < 50) return;  // at most 20 frames a second
  lastDraw_ = now;
  ClearBars();
  constexpr int Width = 30;
  for (const std::string& port : order_) {
    const Bar& bar = bars_[port];
    std::string line = port + std::string(width_ - port.size(), ' ') + "  ";
    if (!bar.phase.empty() && bar.maximum > 0) {
      const int filled = std::clamp(bar.position * Width / bar.maximum, 0, Width);
      const int percent = std::clamp(bar.position * 100 / bar.maximum, 0, 100);
      line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(Width - filled), '.') + "] " + std::to_string(percent) + "% " +
              bar.phase;
    } else {
      line += bar.state;
    }
    std::fprintf(events_, "%s\n", line.c_str());
  }
  drawn_ = order_.size();
  std::fflush(events_);
}
