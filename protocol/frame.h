#pragma once
// The binary frame spoken between tool and unit, both directions:
//   BC | address | command | length (2) | payload (length) | sum (3)
// Numbers are big-endian; the sum covers every byte before it.

// Std
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

constexpr std::uint8_t FrameStart = 0xBC;
constexpr std::uint8_t ToolAddress = 2;
constexpr std::uint8_t UnitAddress = 1;
constexpr std::uint8_t ToolToUnit = 0x21;  // sender 2, receiver 1
constexpr std::uint8_t UnitToTool = 0x12;  // sender 1, receiver 2
constexpr std::size_t FrameOverhead = 8;   // header 5 + sum 3
constexpr std::size_t MaxFramePayload = 1019;  // header + payload fit in 1024 bytes

// Command codes.
enum FrameCommand : std::uint8_t {
  CmdFirmwareBlock = 1,  // tool -> unit
  CmdAck = 2,            // unit -> tool
  CmdRefusal = 3,        // unit -> tool
  CmdDeviceInfo = 4,     // unit -> tool
  CmdJump = 5,           // tool -> unit
  CmdConfigBlock = 6,    // tool -> unit
  CmdConfigRead = 7,     // tool -> unit (request) and unit -> tool (data)
  CmdOperatingMode = 11  // unit -> tool
};

// What the bytes of one receive event turned out to be, in the order the tests are made.
enum class FrameOutcome {
  Accepted,
  ShortRead,         // fewer than 8 bytes
  NoStartByte,       // first byte is not 0xBC
  TooLong,           // length field above 1019
  Truncated,         // length field reaches past the bytes received; dropped like a bad sum
  BadChecksum,
  WrongDestination,  // receiver nibble is not ours
};

struct CheckedFrame {
  FrameOutcome outcome = FrameOutcome::ShortRead;
  std::uint8_t address = 0;
  std::uint8_t command = 0;
  std::uint16_t length = 0;               // payload length from the header
  std::span<const std::uint8_t> payload;  // points into the checked bytes; valid while they are
  bool trailingBytes = false;             // the event held more than this one frame
};

// 24-bit sum of `bytes` (the low 24 bits of their 32-bit sum).
[[nodiscard]] std::uint32_t FrameSum(std::span<const std::uint8_t> bytes);

// Builds a complete frame: start, address, command, length, payload, sum.
[[nodiscard]] std::vector<std::uint8_t> BuildFrame(std::uint8_t command,
                                                   std::span<const std::uint8_t> payload,
                                                   std::uint8_t address = ToolToUnit);

// Judges the bytes of one receive event as one frame starting at their first byte.
// `receiver` is the address whose frames are accepted (the tool: 2; the unit: 1).
[[nodiscard]] CheckedFrame CheckFrame(std::span<const std::uint8_t> bytes,
                                      std::uint8_t receiver = ToolAddress);

// Big-endian helpers that never read or write past the span they are given.
[[nodiscard]] std::optional<std::uint16_t> ReadU16(std::span<const std::uint8_t> bytes, std::size_t at);
[[nodiscard]] std::optional<std::uint32_t> ReadU32(std::span<const std::uint8_t> bytes, std::size_t at);
void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value);
void PutU24(std::vector<std::uint8_t>& out, std::uint32_t value);
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value);

// ---- Payloads --------------------------------------------------------------------------

// Acknowledgement (command 2): the index of the acknowledged block. Empty when the
// payload is too short.
[[nodiscard]] std::optional<std::uint16_t> ParseAck(std::span<const std::uint8_t> payload);

// Device information (command 4), 45 bytes.
struct TDeviceInfo {
  std::uint8_t Mode = 0;                   // 0: operating mode
  std::array<std::uint32_t, 3> Id{};       // Id[0] lowest word (ID word 1) .. Id[2] highest
  std::array<std::uint8_t, 4> Version{};   // kind, (shown only), firmware major, firmware minor
  std::uint32_t ConfigBaseAddress = 0;
};
constexpr std::size_t DeviceInfoSize = 45;
constexpr std::size_t DeviceInfoTextSize = 12;
[[nodiscard]] std::optional<TDeviceInfo> ParseDeviceInfo(std::span<const std::uint8_t> payload);
// The unit's side: the 45-byte payload, with text A and text B (cut or zero-padded to 12).
[[nodiscard]] std::vector<std::uint8_t> DeviceInfoPayload(const TDeviceInfo& info,
                                                          std::span<const std::uint8_t> textA = {},
                                                          std::span<const std::uint8_t> textB = {});

// Configuration data (command 7 from the unit): address, n, n data bytes.
struct ConfigData {
  std::uint32_t address = 0;
  std::span<const std::uint8_t> data;  // exactly n bytes, inside the payload
};
// Empty when the payload is shorter than 7 bytes or n runs past its end.
[[nodiscard]] std::optional<ConfigData> ParseConfigData(std::span<const std::uint8_t> payload);

// Configuration read request (command 7 from the tool): address and byte count.
struct ConfigReadRequest {
  std::uint32_t address = 0;
  std::uint16_t count = 0;
};
[[nodiscard]] std::optional<ConfigReadRequest> ParseConfigReadRequest(std::span<const std::uint8_t> payload);
[[nodiscard]] std::vector<std::uint8_t> ConfigReadRequestPayload(std::uint32_t address, std::uint16_t count);

// Block frame payload (commands 1 and 6): token, index, count, data.
struct BlockPayload {
  std::uint16_t token = 0;
  std::uint16_t index = 0;
  std::uint16_t count = 0;
  std::span<const std::uint8_t> data;
};
[[nodiscard]] std::optional<BlockPayload> ParseBlockPayload(std::span<const std::uint8_t> payload);
