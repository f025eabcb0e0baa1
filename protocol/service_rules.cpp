#include "protocol/service_rules.h"

#include <cstdio>

IdentityAction ActionFor(const TDeviceInfo& info) {
  const std::uint8_t kind = info.Version[0], major = info.Version[2], minor = info.Version[3];
  if (kind == 1 || kind == 2) return IdentityAction::Discontinued;
  if (kind != 3 && kind != 4 && kind != 41) return IdentityAction::None;
  if (major == 255 && minor == 255) return IdentityAction::UploadFirmware;  // no firmware
  if (major == 99) return IdentityAction::UploadFirmware;                   // always replaced
  if (major < CarriedFirmwareMajor || (major == CarriedFirmwareMajor && minor < CarriedFirmwareMinor))
    return IdentityAction::UploadFirmware;
  return IdentityAction::ReadConfig;
}

bool IsCurrentReleaseUnit(const TDeviceInfo& info) {
  return (info.Version[0] == 4 || info.Version[0] == 41) && info.Version[2] == CarriedFirmwareMajor &&
         info.Version[3] == CarriedFirmwareMinor;
}

std::string IdentityLine(const TDeviceInfo& info) {
  char text[64];
  std::snprintf(text, sizeof text, "ZPi v%d.%d.%d.%d\r\nId: %.8X %.8X %.8X", info.Version[0], info.Version[1],
                info.Version[2], info.Version[3], info.Id[2], info.Id[1], info.Id[0]);
  return text;
}
