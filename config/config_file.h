#pragma once
// A configuration as a file: a JSON object with a format version and one key per field of
// the record, named as the record names it. PING in seconds, A232 and B232 in baud, the
// limits as numbers, the choices as true or false:
//
//   {"format": 1, "PING": 180, "A232": 115200, "B232": 19200, "ACP": 11, ..., "BZ_ACP": true, ...}
//
// Reading checks every key (all required, none unknown, none twice), every type, and every
// value with the panel's write rules and messages and against its place in the image. A file
// written from a record that passes those checks reads back as the same record. Qt-free.

// lib
#include "config/config_record.h"

// Std
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr int ConfigFileFormat = 1;
constexpr std::size_t ConfigFileMaxSize = 64 * 1024;

struct ConfigFileResult {
  std::optional<ConfigRecord> record;  // set when the file passed every check
  std::vector<std::string> errors;     // one line per refusal, naming the key
};

// Checks and reads the text of a configuration file.
[[nodiscard]] ConfigFileResult ParseConfigFile(std::string_view text);
// Reads and checks the file at `path` (its size is limited before it is read).
[[nodiscard]] ConfigFileResult LoadConfigFile(const std::string& path);

// The file's text for a record: the keys in image order, then the choices, two-space indented.
[[nodiscard]] std::string ConfigFileText(const ConfigRecord& record);

// One of the tool's messages on one line: "\r\n" (and a lone line feed) inside becomes a blank.
[[nodiscard]] std::string OneLine(std::string text);
