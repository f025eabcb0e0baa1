#pragma once
// State and arithmetic of the block transfer (firmware or configuration, 48-byte blocks,
// acknowledged one at a time) and of the configuration read, which shares it. Qt-free.

// lib
#include "config/config_record.h"

// Std
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

enum TransferKind : std::uint8_t { TransferFirmware = 1, TransferConfig = 6 };

constexpr std::uint32_t TransferBlockSize = 48;
constexpr std::uint32_t NoAckIndex = 0xFFFFFF;  // no 16-bit index takes this value
constexpr std::uint32_t ReadBlockSize = 500;
constexpr std::uint32_t ReadLength = ConfigImageSize;

struct TransferState {
  std::uint8_t Kind = 0;
  std::span<const std::uint8_t> Data;  // owned by the caller until the transfer ends
  std::uint32_t Length = 0;
  TransferTrailer Trailer{};
  std::uint32_t BlockCount = 0;  // frames, trailer frame included
  std::uint32_t Index = 0;       // frame sent last, from 1; 0 before the first
  std::uint16_t Token = 0;
  std::uint32_t LastAckIndex = 0;
  bool Acknowledged = false;
  std::int32_t SilentTicks = 0;
  std::uint32_t Nacks = 0;
  std::uint32_t Code10 = 0;  // receive events shorter than a frame
  std::uint32_t Code15 = 0;  // receive events without the start byte
  std::uint32_t Code20 = 0;  // receive events holding more than their frame
  std::uint8_t TokenShift = 5;  // 5..11, rotates with every token, never reset
};

// Frames of a transfer of `length` data bytes, the trailer frame included.
[[nodiscard]] std::uint32_t TransferBlockCount(std::uint32_t length);
