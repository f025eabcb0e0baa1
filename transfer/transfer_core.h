#pragma once
// State and arithmetic of the block transfer (firmware or configuration, 48-byte blocks,
// acknowledged one at a time) and of the configuration read, which shares it. Qt-free.

// lib
#include "config/config_record.h"
#include "protocol/frame.h"

// Std
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

enum TransferKind : std::uint8_t { TransferFirmware = 1, TransferConfig = 6 };

constexpr std::uint32_t TransferBlockSize = 48;
constexpr std::uint32_t NoAckIndex = 0xFFFFFF;  // no 16-bit index takes this value
constexpr std::uint32_t ReadBlockSize = 500;
constexpr std::uint32_t ReadLength = ConfigImageSize;
constexpr std::uint32_t ReadFinalBlockSize = ReadLength % ReadBlockSize;  // 32
constexpr std::uint32_t ReadBlockCount = ReadLength / ReadBlockSize + (ReadFinalBlockSize != 0);  // 5

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

// The payload of block frame `index` (1..BlockCount): token, index, count, then the data
// slice of that block, or the trailer for the last frame. Never reads past Data or Length.
[[nodiscard]] std::vector<std::uint8_t> BlockFramePayload(const TransferState& state, std::uint32_t index);

// Steps 2-4 of one tick of the transfer engine or of the configuration read: advance on an
// acknowledgement, count silence, resend at silent ticks 3, 5 and 7, give up at 10.
struct TickOutcome {
  bool send = false;    // send the frame (or request) of state.Index
  bool giveUp = false;  // ten silent ticks
};
[[nodiscard]] TickOutcome TransferTick(TransferState& state);

// The transfer token: the date and time text (short date then long time, as the system
// writes them) multiplied out, shifted by the rotating shift and masked; a pseudo-random
// number when that gives 0. Only the first 14 characters of the text count (missing ones
// as 0); advances state.TokenShift.
[[nodiscard]] std::uint32_t MakeTransferToken(std::uint32_t mask, std::string_view dateTimeText,
                                              std::uint8_t& tokenShift,
                                              const std::function<std::uint32_t()>& random);

// The read request of block `index` (1..ReadBlockCount) of the configuration area at `base`.
[[nodiscard]] ConfigReadRequest ReadRequestFor(std::uint32_t index, std::uint32_t base);

// Copies an answer of the configuration read into the receive image at its address minus
// `base`, and returns the block it acknowledges (offset / 500 + 1). An answer that would fall
// outside the image is dropped: nothing is written and nothing returned.
[[nodiscard]] std::optional<std::uint32_t> PlaceConfigData(ConfigImage& image, std::uint32_t base,
                                                           const ConfigData& answer);
