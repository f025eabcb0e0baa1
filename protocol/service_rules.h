#pragma once
// What the tool decides on its own from a unit's identity. Qt-free.

// lib
#include "protocol/frame.h"

// Std
#include <cstdint>
#include <string>
#include <string_view>

// The firmware the tool carries; every firmware rule is measured against it.
constexpr std::uint8_t CarriedFirmwareMajor = 2;
constexpr std::uint8_t CarriedFirmwareMinor = 46;

// The kinds that take the carried firmware and are served in full: 3, 4 and 41.
[[nodiscard]] bool TakesCarriedFirmware(std::uint8_t kind);

enum class IdentityAction {
  None,            // a kind the tool does not serve: identity line only
  Discontinued,    // kinds 1 and 2: a warning, then the configuration read
  UploadFirmware,  // kinds 3, 4, 41 with no firmware, firmware 99.x or older than 2.46
  ReadConfig,      // kinds 3, 4, 41 with current firmware
};
[[nodiscard]] IdentityAction ActionFor(const TDeviceInfo& info);

// A unit of kind 4 or 41 at exactly the carried firmware: enters the release list and may
// have its port closed after a configuration write.
[[nodiscard]] bool IsCurrentReleaseUnit(const TDeviceInfo& info);

// A unit's identity as the tool shows it: the version "<kind>.<byte 2>.<major>.<minor>"
// ("4.1.2.46"), the firmware alone ("2.46"), the id highest word first
// ("00000246 00C0FFEE 5A500001"), and the two together, "ZPi v<version>", the separator
// (a new line in the log) and "Id: <id>".
[[nodiscard]] std::string UnitVersionText(const TDeviceInfo& info);
[[nodiscard]] std::string FirmwareText(const TDeviceInfo& info);
[[nodiscard]] std::string UnitIdText(const TDeviceInfo& info);
[[nodiscard]] std::string IdentityLine(const TDeviceInfo& info, std::string_view separator = "\r\n");
