#pragma once
// What the tool decides on its own from a unit's identity. Qt-free.

// lib
#include "protocol/frame.h"

// Std
#include <string>

// The firmware the tool carries; every firmware rule is measured against it.
constexpr std::uint8_t CarriedFirmwareMajor = 2;
constexpr std::uint8_t CarriedFirmwareMinor = 46;

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

// "ZPi v<kind>.<byte 2>.<major>.<minor>\r\nId: <word 3> <word 2> <word 1>"
[[nodiscard]] std::string IdentityLine(const TDeviceInfo& info);
