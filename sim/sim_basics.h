#pragma once
// What every piece of the simulated unit speaks in: its clock, its bytes, its log lines.

// Std
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using SimClock = std::chrono::steady_clock;
using SimBytes = std::vector<std::uint8_t>;

// One line of the unit's log, printf-style (cut at 255 characters).
template <typename... Args>
[[nodiscard]] std::string SimLogLine(const char* format, Args... args) {
  char line[256];
  std::snprintf(line, sizeof line, format, args...);
  return line;
}
