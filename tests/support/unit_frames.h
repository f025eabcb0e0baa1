#pragma once
// Frames a unit sends, for tests that play the unit without a line. Qt-free.

// lib
#include "config/config_record.h"
#include "protocol/frame.h"
#include "transfer/transfer_core.h"

// Std
#include <cstdint>
#include <vector>

using UnitFrame = std::vector<std::uint8_t>;

[[nodiscard]] inline UnitFrame AckFrame(std::uint16_t index) {
  std::vector<std::uint8_t> payload;
  PutU16(payload, index);
  return BuildFrame(CmdAck, payload, UnitToTool);
}

[[nodiscard]] inline UnitFrame DeviceInfoFrame(const TDeviceInfo& info) {
  return BuildFrame(CmdDeviceInfo, DeviceInfoPayload(info), UnitToTool);
}

// The answer to read request `index` (1..5) from a unit whose configuration area at `base`
// holds `image`.
[[nodiscard]] inline UnitFrame ReadAnswerFrame(const ConfigImage& image, std::uint32_t base, std::uint32_t index) {
  const ConfigReadRequest request = ReadRequestFor(index, base);
  std::vector<std::uint8_t> payload = ConfigReadRequestPayload(request.address, request.count);
  const auto from = image.begin() + (request.address - base);
  payload.insert(payload.end(), from, from + request.count);
  return BuildFrame(CmdConfigRead, payload, UnitToTool);
}
