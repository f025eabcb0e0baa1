#include "protocol/service_rules.h"

#include <cstdio>

bool TakesCarriedFirmware(std::uint8_t kind) { return kind == 3 || kind == 4 || kind == 41; }

IdentityAction ActionFor(const TDeviceInfo& info) {
  const std::uint8_t kind = info.Version[0], major = info.Version[2], minor = info.Version[3];
  if (kind == 1 || kind == 2) return IdentityAction::Discontinued;
  if (!TakesCarriedFirmware(kind)) return IdentityAction::None;
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

std::string UnitVersionText(const TDeviceInfo& info) {
  char text[24];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", info.Version[0], info.Version[1], info.Version[2], info.Version[3]);
  return text;
}

std::string FirmwareText(const TDeviceInfo& info) {
  return std::to_string(info.Version[2]) + "." + std::to_string(info.Version[3]);
}

std::string UnitIdText(const TDeviceInfo& info) {
  char text[32];
  std::snprintf(text, sizeof text, "%.8X %.8X %.8X", info.Id[2], info.Id[1], info.Id[0]);
  return text;
}

std::string IdentityLine(const TDeviceInfo& info, std::string_view separator) {
  return "ZPi v" + UnitVersionText(info) + std::string(separator) + "Id: " + UnitIdText(info);
}
