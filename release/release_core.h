#pragma once
// Release mode: the list of recorded unit identifiers and the bar-code scanner's keys.
// Qt-free.

// Std
#include <array>
#include <cstdint>
#include <optional>
#include <string>

constexpr std::size_t ScanLength = 24;

struct ReleaseState {
  std::array<std::uint32_t, 3> LastId{};  // display order: word 3, word 2, word 1
  std::int32_t Count = 0;
  std::array<char, ScanLength + 1> ScanChars{};
  std::uint8_t ScanPos = 0;
};
