#include "release/release_core.h"

// Std
#include <cstdio>

bool RecordReleaseId(ReleaseState& state, std::uint32_t word3, std::uint32_t word2, std::uint32_t word1) {
  const std::array<std::uint32_t, 3> id{word3, word2, word1};
  if (id == state.LastId)
    return false;
  ++state.Count;
  state.LastId = id;
  return true;
}

void ResetReleaseList(ReleaseState& state) {
  state.LastId = {0, 0, 0};
  state.Count = 0;
}

std::string ReleaseIdLine(std::uint32_t word3, std::uint32_t word2, std::uint32_t word1) {
  char text[3 * 9 + 1] = {};
  std::snprintf(text, sizeof text, "%.8X %.8X %.8X", static_cast<unsigned>(word3), static_cast<unsigned>(word2),
                static_cast<unsigned>(word1));
  return text;
}

std::string ReleaseIdText(std::uint32_t word3, std::uint32_t word2, std::uint32_t word1) {
  char text[3 * 8 + 1] = {};
  std::snprintf(text, sizeof text, "%.8X%.8X%.8X", static_cast<unsigned>(word3), static_cast<unsigned>(word2),
                static_cast<unsigned>(word1));
  return text;
}

bool ScannerAccepts(std::uint16_t key, bool ctrl) {
  if (ctrl)
    return false;
  return (key >= 0x30 && key <= 0x39) || (key >= 0x41 && key <= 0x46);
}

std::optional<std::string> ScannerFeed(ReleaseState& state, std::uint16_t key, bool ctrl) {
  if (!ScannerAccepts(key, ctrl))
    return std::nullopt;
  if (state.ScanPos >= ScanLength)  // cannot happen; never write past the buffer
    RestartScanner(state);
  state.ScanChars[state.ScanPos] = static_cast<char>(key & 0xFF);
  ++state.ScanPos;
  if (state.ScanPos < ScanLength)
    return std::nullopt;
  state.ScanChars[ScanLength] = '\0';
  std::string scanned(state.ScanChars.data(), ScanLength);
  state.ScanPos = 0;
  return scanned;
}

void RestartScanner(ReleaseState& state) {
  state.ScanChars.fill('\0');
  state.ScanPos = 0;
}

IdMatch CompareIds(std::string_view usb, std::string_view scanned) {
  if (usb.empty() && scanned.empty())
    return IdMatch::Start;
  return usb == scanned ? IdMatch::Equal : IdMatch::Different;
}
