#pragma once
// The service journal: one JSON object per line and per unit served, appended. Each record is
// written whole with one append and flushed to disk before the unit's result is shown as
// final, so a power cut leaves at most a cut last line, which every reader skips and reports.
// The file is opened for appending only: two writers on one machine never interleave within a
// line. Qt-free.

// lib
#include "ctl/unit_job.h"

// Std
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct JournalRecord {
  std::string time;     // when the unit's job ended: UTC, ISO 8601 with milliseconds
  std::string tool;     // zpictl's version
  std::string host;
  std::string command;  // "station", "service", "write" or "read"
  std::string port;
  std::string id;       // empty: the unit never announced itself
  int kind = -1;        // -1: unknown
  std::string versionBefore, versionAfter;  // "4.1.2.45", "4.1.2.46"
  std::string written;  // "default", "ventora", a file's name; empty: nothing written
  std::string sha256;   // of the configuration image written
  bool verified = false;
  bool ok = false;
  int code = 0;
  std::string message;  // why it failed
  std::string unfinished;
  std::vector<std::string> done, notes;
  bool repeat = false;  // the station served this id before, in the same run
  std::vector<std::pair<std::string, long long>> durations;  // milliseconds per step, "total" last
};

// The record of a finished job, ended at `at`.
[[nodiscard]] JournalRecord RecordOf(const JobResult& result, std::string_view command,
                                     std::chrono::system_clock::time_point at);
// The record as one line of JSON, without its newline.
[[nodiscard]] std::string JournalLine(const JournalRecord& record);
// A line read back; empty with `why` set when it is not a record.
[[nodiscard]] std::optional<JournalRecord> ParseJournalLine(std::string_view line, std::string* why = nullptr);

// "2024-01-31T14:05:09.123Z".
[[nodiscard]] std::string UtcText(std::chrono::system_clock::time_point at);
[[nodiscard]] std::string Sha256Hex(std::span<const std::uint8_t> data);
[[nodiscard]] std::string HostName();

class Journal {
 public:
  // Opens (or creates) `path` for appending only; throws std::runtime_error saying why not.
  explicit Journal(std::string path);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Appends the line and its newline in one write and flushes them to disk. Any thread. After
  // a failure every later append fails too, so that a cut line stays the last one.
  [[nodiscard]] bool Append(const std::string& line, std::string& error);
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::mutex mutex_;
  std::string failed_;  // why the last append failed
#if defined(_WIN32)
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Journals read back: the records in file order, and what was skipped, by file and line.
struct JournalProblem {
  std::string file;
  std::size_t line = 0;  // from 1; 0: the file itself
  std::string what;
};
struct JournalContents {
  std::vector<JournalRecord> records;
  std::vector<JournalProblem> problems;
};
void ReadJournal(const std::string& path, JournalContents& into);
