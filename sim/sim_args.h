#pragma once
// zpisim's command line: options for every behaviour of the simulated unit. Qt-free.

// lib
#include "sim/sim_model.h"

// Std
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct SimCommandLine {
  SimOptions options;
  std::string dump;  // where to write the unit's memory when zpisim ends; empty: nowhere
  bool quiet = false;
  bool help = false;
};

// Parses the arguments after the program name. Empty, with `error` set, on a bad one.
[[nodiscard]] std::optional<SimCommandLine> ParseSimCommandLine(std::span<const std::string> args,
                                                                std::string* error);
// "drop@3", "split@5:40": a fault kind, the frame it applies to and an optional parameter.
[[nodiscard]] std::optional<SimFault> ParseSimFault(std::string_view text, std::string* error);
[[nodiscard]] const char* SimFaultName(SimFaultKind kind);
// The text of `zpisim --help`.
[[nodiscard]] std::string SimUsage();
