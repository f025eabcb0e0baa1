#pragma once
// The unit's configuration: the record the panel edits, its 2032-byte image, the code
// tables and the two stock records. Qt-free.

// Std
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

constexpr std::size_t ConfigImageSize = 2032;
using ConfigImage = std::array<std::uint8_t, ConfigImageSize>;
using TransferTrailer = std::array<std::uint8_t, 5>;  // exclusive OR, then 32-bit sum (big-endian)

// Position in the table is the item's position in its list box.
inline constexpr std::array<std::uint16_t, 10> PingTable{5, 10, 15, 30, 45, 60, 90, 120, 180, 300};
inline constexpr std::array<std::uint16_t, 4> BaudTable{96, 192, 576, 1152};  // baud / 100

// Buzzer (entry, exit, during) and event (entry, exit) choices of one supervised condition.
struct AlertChoices {
  bool BZ_IN = false;
  bool BZ_OUT = false;
  bool BZ_WH = false;
  bool EV_IN = false;
  bool EV_OUT = false;
  friend bool operator==(const AlertChoices&, const AlertChoices&) = default;
};

// 10 x buzzer + event, buzzer = entry 1 + exit 2 + during 4, event = entry 1 + exit 2.
[[nodiscard]] constexpr std::uint8_t AlertEventCode(const AlertChoices& c) {
  return static_cast<std::uint8_t>(10 * (c.BZ_IN * 1 + c.BZ_OUT * 2 + c.BZ_WH * 4) + (c.EV_IN * 1 + c.EV_OUT * 2));
}
// Harsh acceleration and braking: 10 x buzzer + event (0, 1, 10 or 11).
[[nodiscard]] constexpr std::uint8_t AlertEventCode(bool buzzer, bool event) {
  return static_cast<std::uint8_t>(10 * buzzer + event);
}

struct ConfigRecord {
  std::uint16_t PING = 0;  // seconds, a PingTable value
  std::uint16_t A232 = 0;  // BaudTable code
  std::uint16_t B232 = 0;  // BaudTable code
  std::uint8_t ACP = 0;
  std::uint8_t ACN = 0;
  bool BZ_ACP = false, EV_ACP = false;
  bool BZ_ACN = false, EV_ACN = false;
  std::uint8_t VMX = 0, TVMX = 0;
  AlertChoices VMX_Alerts;
  std::uint8_t VCH = 0, TVCH = 0;
  AlertChoices VCH_Alerts;
  std::uint16_t RPX = 0;
  std::uint8_t TRPX = 0;
  AlertChoices RPX_Alerts;
  std::uint8_t TOSC = 0, XOSC = 0;
  AlertChoices OSC_Alerts;
  std::uint8_t VBGL = 0;
  std::uint16_t RBGL = 0;
  std::uint8_t TBGL = 0;
  AlertChoices BGL_Alerts;
  friend bool operator==(const ConfigRecord&, const ConfigRecord&) = default;
};

[[nodiscard]] const ConfigRecord& DefaultConfig();
[[nodiscard]] const ConfigRecord& VentoraPreset();


struct EncodedConfig {
  ConfigImage image{};
  TransferTrailer trailer{};
};
// The record's codes must be table entries; nothing is checked here.
[[nodiscard]] EncodedConfig EncodeConfigImage(const ConfigRecord& record);
// Exclusive OR of the bytes, then their 32-bit sum, big-endian.
[[nodiscard]] TransferTrailer MakeTrailer(std::span<const std::uint8_t> data);

struct DecodedConfig {
  ConfigRecord record;       // meaningful only when errors is 0
  unsigned errors = 0;
};
// Checks an image read from the unit; with forcePreset every field must also equal
// VentoraPreset. Reads nothing outside the 2032 bytes.
[[nodiscard]] DecodedConfig DecodeConfigImage(const ConfigImage& image, bool forcePreset);

// Non-empty and only '0'..'9'.
[[nodiscard]] bool IsAllDigits(std::string_view text);
