#pragma once
// The version token in the vendor's version file and the download it leads to.
// Qt-free: the window's version check (app/version_check.cpp) calls these.

// lib
#include "update/tool_version.h"

// Std
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

struct ToolVersion {
  int Major = 0;
  int Minor = 0;
  int Revision = 0;  // the revision letter as its character code
  friend constexpr bool operator==(const ToolVersion&, const ToolVersion&) = default;
};

// This tool, as its caption shows it.
inline constexpr ToolVersion OwnVersion{ToolMajor, ToolMinor, ToolRevision};

// "#*$(MMM.mmm.RRR@@MMM.mmm.RRR)$*#", each group three decimal digits.
inline constexpr std::size_t VersionTokenLength = 32;
// Texts of this length or longer are not looked at.
inline constexpr std::size_t VersionTextLimit = 500;

// Finds and reads the token in the version file's text. Only the first "#" of the text is
// tried; the text must be longer than the token and shorter than VersionTextLimit.
[[nodiscard]] std::optional<ToolVersion> ParseVersionToken(std::string_view text);

// "/files/ZPiTool v2.47.C.exe". None when the revision is not an ASCII letter or digit:
// any other character code (0, a separator, "?", "#", above 127) cannot stand in the
// file name, so there is nothing sound to offer.
[[nodiscard]] std::optional<std::string> DownloadPath(const ToolVersion& version);

// "/files/zpitool.ver"
inline constexpr std::string_view VersionFilePath = "/files/zpitool.ver";
