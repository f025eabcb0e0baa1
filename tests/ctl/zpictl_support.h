#pragma once
// What the tests that run zpictl as a process share: simulated units, the program run to its
// end, files for one test, and its JSON lines read back.
#include "config/config_record.h"
#include "sim/sim_unit.h"
#include "support/process.h"

#include <gtest/gtest.h>

// Third party
#include <nlohmann/json.hpp>

// Std
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// POSIX
#include <unistd.h>

namespace ctl_test {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// ---- The units ------------------------------------------------------------------------------

struct UnitShape {
  std::uint8_t minor = 46;  // firmware 2.minor
  const char* image = "default";
  std::uint32_t serial = 1;  // the id's lowest word
};

inline SimOptions Options(UnitShape shape) {
  SimOptions o;
  o.firmwareMinor = shape.minor;
  o.memory = StartImage(shape.image);
  o.id[0] = 0x5A500000u + shape.serial;
  return o;
}

inline std::unique_ptr<SimUnit> Started(SimOptions options) {
  auto unit = std::make_unique<SimUnit>(std::move(options));
  unit->Start();
  return unit;
}

// The id as zpictl prints it, highest word first.
inline std::string IdOf(const SimUnit& unit) {
  const TDeviceInfo info = unit.Info();
  char text[32];
  std::snprintf(text, sizeof text, "%.8X %.8X %.8X", info.Id[2], info.Id[1], info.Id[0]);
  return text;
}

// No byte reached the unit: it never saw the port opened.
inline void ExpectUntouched(const SimUnit& unit, const std::string& what) {
  const SimCounters c = unit.Counters();
  EXPECT_EQ(c.connections, 0u) << what;
  EXPECT_EQ(c.frames, 0u) << what;
}

// ---- The program and its output -------------------------------------------------------------

inline Finished Zpictl(std::vector<std::string> args, std::vector<std::string> environment = {}) {
  return RunProgram(ZPICTL_PATH, std::move(args), std::move(environment), 60s);
}

// A configuration file for one test, removed after it.
class TempFile {
 public:
  explicit TempFile(const std::string& text) {
    std::string pattern = ::testing::TempDir() + "zpictl-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) close(fd);
    path_ = pattern;
    Write(text);
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  void Write(const std::string& text) const { std::ofstream(path_, std::ios::binary | std::ios::trunc) << text; }
  [[nodiscard]] std::string Text() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Every line of `text` as a JSON object; a line that is not one fails the test.
inline std::vector<Json> JsonLines(const std::string& text) {
  std::vector<Json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    Json j = Json::parse(line, nullptr, false);
    EXPECT_TRUE(j.is_object()) << "not a JSON object: " << line;
    if (j.is_object()) lines.push_back(std::move(j));
  }
  return lines;
}

// One port's events in order, a run of progress events of one phase as one: "identified",
// "progress upload", "read", "written", "verified", "result"...
inline std::vector<std::string> EventsOf(const std::vector<Json>& lines, const std::string& port) {
  std::vector<std::string> events;
  for (const Json& j : lines) {
    if (j.value("port", "") != port) continue;
    std::string event = j.value("event", "?");
    if (event == "progress") event += " " + j.value("phase", "?");
    if (events.empty() || events.back() != event || event.rfind("progress", 0) != 0) events.push_back(event);
  }
  return events;
}

// The port's "result" object; fails the test unless there is exactly one.
inline Json ResultOf(const std::vector<Json>& lines, const std::string& port) {
  Json result;
  int count = 0;
  for (const Json& j : lines)
    if (j.value("port", "") == port && j.value("event", "") == "result") {
      result = j;
      ++count;
    }
  EXPECT_EQ(count, 1) << "results for " << port;
  return result;
}

using Strings = std::vector<std::string>;

// A result as the reporter writes it. A text ending in "*" is a prefix: the rest varies (the
// system's own words, the firmware's frame count).
struct Outcome {
  int code = 0;
  std::string error{};       // empty when ok
  std::string unfinished{};  // empty when absent
  Strings done{};
  Strings notes{};
};

inline bool Matches(const std::string& text, const std::string& pattern) {
  if (pattern.ends_with('*')) return text.starts_with(pattern.substr(0, pattern.size() - 1));
  return text == pattern;
}

inline void ExpectResult(const Json& r, const Outcome& want, const std::string& port) {
  SCOPED_TRACE(port + ": " + r.dump());
  EXPECT_EQ(r.value("ok", want.code != 0), want.code == 0);
  EXPECT_EQ(r.value("code", -1), want.code);
  EXPECT_TRUE(Matches(r.value("error", ""), want.error)) << "error, wanted: " << want.error;
  EXPECT_TRUE(Matches(r.value("unfinished", ""), want.unfinished)) << "unfinished, wanted: " << want.unfinished;
  EXPECT_EQ(r.value("done", Strings{}), want.done);
  EXPECT_EQ(r.value("notes", Strings{}), want.notes);
}

}  // namespace ctl_test
