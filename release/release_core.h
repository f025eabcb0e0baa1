#pragma once
// Release mode: the list of recorded unit identifiers and the bar-code scanner's keys.
// Qt-free.

// Std
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr std::size_t ScanLength = 24;

struct ReleaseState {
  std::array<std::uint32_t, 3> LastId{};  // display order: word 3, word 2, word 1
  std::int32_t Count = 0;
  std::array<char, ScanLength + 1> ScanChars{};
  std::uint8_t ScanPos = 0;
};

// Records an identifier unless it equals the one recorded last; true when recorded (the
// count has gone up by one).
[[nodiscard]] bool RecordReleaseId(ReleaseState& state, std::uint32_t word3, std::uint32_t word2,
                                   std::uint32_t word1);
// "Limpar": last identifier 0, 0, 0 and count 0. The scanner collection stays.
void ResetReleaseList(ReleaseState& state);

// "%.8X %.8X %.8X" and "%.8X%.8X%.8X".
[[nodiscard]] std::string ReleaseIdLine(std::uint32_t word3, std::uint32_t word2, std::uint32_t word1);
[[nodiscard]] std::string ReleaseIdText(std::uint32_t word3, std::uint32_t word2, std::uint32_t word1);

// Whether the scanner takes a key: main-keyboard digits 0x30-0x39 and letters A-F
// 0x41-0x46, without Ctrl.
[[nodiscard]] bool ScannerAccepts(std::uint16_t key, bool ctrl);
// Offers one key to the collection. Returns the 24 characters when this key completed them
// (the collection then starts again).
[[nodiscard]] std::optional<std::string> ScannerFeed(ReleaseState& state, std::uint16_t key, bool ctrl);
void RestartScanner(ReleaseState& state);

// The USB identifier beside the scanned one. Two empty fields compare nothing: Start.
enum class IdMatch { Start, Equal, Different };
[[nodiscard]] IdMatch CompareIds(std::string_view usb, std::string_view scanned);
