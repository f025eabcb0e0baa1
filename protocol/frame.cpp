#include "protocol/frame.h"

#include <algorithm>

std::uint32_t FrameSum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return sum & 0xFFFFFFu;
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void PutU24(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 16));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 24));
  PutU24(out, value);
}

std::optional<std::uint16_t> ReadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 2) return std::nullopt;
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

std::optional<std::uint32_t> ReadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | std::uint32_t{bytes[at + 3]};
}

std::vector<std::uint8_t> BuildFrame(std::uint8_t command, std::span<const std::uint8_t> payload,
                                     std::uint8_t address) {
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + FrameOverhead);
  frame.push_back(FrameStart);
  frame.push_back(address);
  frame.push_back(command);
  PutU16(frame, static_cast<std::uint16_t>(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  PutU24(frame, FrameSum(frame));
  return frame;
}

CheckedFrame CheckFrame(std::span<const std::uint8_t> bytes, std::uint8_t receiver) {
  CheckedFrame f;
  if (bytes.size() < FrameOverhead) {
    f.outcome = FrameOutcome::ShortRead;
    return f;
  }
  if (bytes[0] != FrameStart) {
    f.outcome = FrameOutcome::NoStartByte;
    return f;
  }
  f.address = bytes[1];
  f.command = bytes[2];
  f.length = static_cast<std::uint16_t>(bytes[3] << 8 | bytes[4]);
  if (f.length > MaxFramePayload) {
    f.outcome = FrameOutcome::TooLong;
    return f;
  }
  const std::size_t total = std::size_t{f.length} + FrameOverhead;
  if (total > bytes.size()) {
    f.outcome = FrameOutcome::Truncated;
    return f;
  }
  const std::size_t summed = std::size_t{f.length} + 5;
  const std::uint32_t expected = std::uint32_t{bytes[summed]} << 16 |
                                 std::uint32_t{bytes[summed + 1]} << 8 | bytes[summed + 2];
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < summed; ++i) sum += bytes[i];
  if (sum != expected) {
    f.outcome = FrameOutcome::BadChecksum;
    return f;
  }
  if ((f.address & 0x0F) != receiver) {
    f.outcome = FrameOutcome::WrongDestination;
    return f;
  }
  f.outcome = FrameOutcome::Accepted;
  f.payload = bytes.subspan(5, f.length);
  f.trailingBytes = bytes.size() > total;
  return f;
}

std::optional<std::uint16_t> ParseAck(std::span<const std::uint8_t> payload) {
  return ReadU16(payload, 0);
}

std::optional<TDeviceInfo> ParseDeviceInfo(std::span<const std::uint8_t> payload) {
  if (payload.size() < DeviceInfoSize) return std::nullopt;
  TDeviceInfo info;
  info.Mode = payload[0];
  // The identifier travels lowest word first.
  for (std::size_t w = 0; w < 3; ++w) info.Id[w] = *ReadU32(payload, 1 + 4 * w);
  for (std::size_t v = 0; v < 4; ++v) info.Version[v] = payload[37 + v];
  info.ConfigBaseAddress = *ReadU32(payload, 41);
  return info;
}

std::vector<std::uint8_t> DeviceInfoPayload(const TDeviceInfo& info, std::span<const std::uint8_t> textA,
                                            std::span<const std::uint8_t> textB) {
  std::vector<std::uint8_t> p;
  p.reserve(DeviceInfoSize);
  p.push_back(info.Mode);
  for (std::uint32_t word : info.Id) PutU32(p, word);
  for (auto text : {textA, textB}) {
    const std::size_t n = std::min(text.size(), DeviceInfoTextSize);
    p.insert(p.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    p.insert(p.end(), DeviceInfoTextSize - n, 0);
  }
  p.insert(p.end(), info.Version.begin(), info.Version.end());
  PutU32(p, info.ConfigBaseAddress);
  return p;
}

std::optional<ConfigData> ParseConfigData(std::span<const std::uint8_t> payload) {
  if (payload.size() < 7) return std::nullopt;
  const std::uint32_t address = *ReadU32(payload, 0);
  const std::uint16_t n = *ReadU16(payload, 4);
  if (n > payload.size() - 6) return std::nullopt;
  return ConfigData{address, payload.subspan(6, n)};
}

std::optional<ConfigReadRequest> ParseConfigReadRequest(std::span<const std::uint8_t> payload) {
  if (payload.size() < 6) return std::nullopt;
  return ConfigReadRequest{*ReadU32(payload, 0), *ReadU16(payload, 4)};
}

std::vector<std::uint8_t> ConfigReadRequestPayload(std::uint32_t address, std::uint16_t count) {
  std::vector<std::uint8_t> p;
  p.reserve(6);
  PutU32(p, address);
  PutU16(p, count);
  return p;
}

std::optional<BlockPayload> ParseBlockPayload(std::span<const std::uint8_t> payload) {
  if (payload.size() < 6) return std::nullopt;
  return BlockPayload{*ReadU16(payload, 0), *ReadU16(payload, 2), *ReadU16(payload, 4),
                      payload.subspan(6)};
}
