#include "update/version_token.h"

// Std
#include <array>
#include <cstdio>

namespace {

constexpr std::string_view TokenHead = "#*$(";
constexpr std::string_view TokenMiddle = "@@";
constexpr std::string_view TokenTail = ")$*#";

// Offsets of the three digit groups in the first and in the second copy.
constexpr std::array<std::size_t, 3> FirstCopy{4, 8, 12};
constexpr std::array<std::size_t, 3> SecondCopy{17, 21, 25};
constexpr std::array<std::size_t, 4> Dots{7, 11, 20, 24};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsAlphanumeric(int c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// token is exactly VersionTokenLength characters long here.
bool FixedCharactersInPlace(std::string_view token) {
  if (token.substr(0, 4) != TokenHead || token.substr(15, 2) != TokenMiddle ||
      token.substr(28, 4) != TokenTail)
    return false;
  for (std::size_t dot : Dots)
    if (token[dot] != '.') return false;
  return true;
}

int ReadGroup(std::string_view token, std::size_t at) {
  return (token[at] - '0') * 100 + (token[at + 1] - '0') * 10 + (token[at + 2] - '0');
}

}  // namespace

std::optional<ToolVersion> ParseVersionToken(std::string_view text) {
  if (text.size() <= VersionTokenLength || text.size() >= VersionTextLimit) return std::nullopt;

  const std::size_t start = text.find('#');
  if (start == std::string_view::npos || text.size() - start < VersionTokenLength)
    return std::nullopt;
  const std::string_view token = text.substr(start, VersionTokenLength);

  if (!FixedCharactersInPlace(token)) return std::nullopt;
  for (std::size_t group = 0; group < FirstCopy.size(); ++group)
    for (std::size_t i = 0; i < 3; ++i)
      if (token[FirstCopy[group] + i] != token[SecondCopy[group] + i]) return std::nullopt;
  for (std::size_t at : FirstCopy)
    for (std::size_t i = 0; i < 3; ++i)
      if (!IsDigit(token[at + i])) return std::nullopt;

  return ToolVersion{ReadGroup(token, FirstCopy[0]), ReadGroup(token, FirstCopy[1]),
                     ReadGroup(token, FirstCopy[2])};
}

std::optional<std::string> DownloadPath(const ToolVersion& version) {
  if (!IsAlphanumeric(version.Revision)) return std::nullopt;
  std::array<char, 64> path{};
  const int n = std::snprintf(path.data(), path.size(), "/files/ZPiTool v%d.%d.%c.exe",
                              version.Major, version.Minor, static_cast<char>(version.Revision));
  if (n < 0 || static_cast<std::size_t>(n) >= path.size()) return std::nullopt;
  return std::string(path.data(), static_cast<std::size_t>(n));
}
