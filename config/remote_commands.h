#pragma once
// The text commands that configure a unit remotely through its tracker: "#C", a mnemonic,
// the fields in brackets, a two-digit exclusive-OR checksum, "_" padding and a label.
// The tool only lists them. Qt-free.

// lib
#include "config/panel_values.h"

// Std
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

constexpr std::size_t RemoteLabelColumn = 25;  // labels start at the 26th character

// Appends the exclusive OR of every byte as two upper-case hex digits; empty stays empty.
void AppendChecksum(std::string& command);
// Pads with "_" to 25 characters (a longer line gets none), then appends the label.
void AppendLabel(std::string& line, std::string_view label);

struct RemoteListing {
  std::vector<std::string> Lines;      // the header, then one line per group (UTF-8)
  std::vector<ConfigEdit> Emptied;     // edit boxes whose text was refused, in order
};
// The listing for what the panel shows. Each group yields its command or the failure line
// of its first refused field; nothing here stops the listing.
[[nodiscard]] RemoteListing ListRemoteCommands(const ConfigPanelValues& values);
