#pragma once
// The tool's own version, shown in the caption and compared by the version check. Qt-free.

constexpr int ToolMajor = 2;
constexpr int ToolMinor = 46;
constexpr char ToolRevision = 'B';
