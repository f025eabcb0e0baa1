#pragma once
// Copies of older versions of the tool, removed from the tool's folder at start-up.

// Std
#include <array>
#include <filesystem>
#include <string_view>

inline constexpr std::array<std::string_view, 4> OldExecutables{
    "ZPiTool v2.45.B.exe", "ZPiTool v2.46.A.exe", "ZPiTool v2.44.B.exe", "ZPiTool v2.45.A.exe"};

// Deletes the old executables found in folder, in list order. Only files (or links) of
// exactly those names go; a folder of the same name stays. Failures are ignored.
void DeleteOldExecutablesIn(const std::filesystem::path& folder);
