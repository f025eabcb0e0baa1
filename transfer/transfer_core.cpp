#include "transfer/transfer_core.h"

#include <algorithm>
#include <array>

std::uint32_t TransferBlockCount(std::uint32_t length) {
  return length / TransferBlockSize + (length % TransferBlockSize != 0) + 1;
}

std::vector<std::uint8_t> BlockFramePayload(const TransferState& state, std::uint32_t index) {
  std::vector<std::uint8_t> payload;
  payload.reserve(6 + TransferBlockSize);
  PutU16(payload, state.Token);
  PutU16(payload, static_cast<std::uint16_t>(index));
  PutU16(payload, static_cast<std::uint16_t>(state.BlockCount));
  if (index == state.BlockCount) {
    payload.insert(payload.end(), state.Trailer.begin(), state.Trailer.end());
    return payload;
  }
  if (index == 0) return payload;
  // The data in hand may be shorter than the length announced; never read past either.
  const std::uint64_t end = std::min<std::uint64_t>(state.Length, state.Data.size());
  const std::uint64_t from = std::uint64_t{index - 1} * TransferBlockSize;
  if (from >= end) return payload;
  const std::uint64_t to = index + 1 == state.BlockCount ? end : std::min(end, from + TransferBlockSize);
  payload.insert(payload.end(), state.Data.begin() + static_cast<std::ptrdiff_t>(from),
                 state.Data.begin() + static_cast<std::ptrdiff_t>(to));
  return payload;
}

TickOutcome TransferTick(TransferState& state) {
  TickOutcome out;
  if (state.Acknowledged || state.Index == 0) {
    if ((state.Index == 0 || state.LastAckIndex == state.Index) && state.Index < state.BlockCount)
      ++state.Index;
    out.send = true;
    state.Acknowledged = false;
    state.SilentTicks = 0;
  } else {
    ++state.SilentTicks;
  }
  if (state.SilentTicks == 3 || state.SilentTicks == 5 || state.SilentTicks == 7) out.send = true;
  if (state.SilentTicks == 10) out.giveUp = true;
  return out;
}

std::uint32_t MakeTransferToken(std::uint32_t mask, std::string_view dateTimeText, std::uint8_t& tokenShift,
                                const std::function<std::uint32_t()>& random) {
  std::array<std::int8_t, 14> c{};
  for (std::size_t i = 0; i < c.size() && i < dateTimeText.size(); ++i)
    c[i] = static_cast<std::int8_t>(static_cast<unsigned char>(dateTimeText[i]));
  // 32-bit products of the signed character codes, wrapping as the unit's tool always has.
  std::uint32_t r = static_cast<std::uint32_t>(std::int32_t{c[13]});
  for (std::size_t i = 0; i < 13; ++i) r *= static_cast<std::uint32_t>(std::int32_t{c[i]});
  r = (r >> tokenShift) & mask;
  tokenShift = tokenShift < 11 ? static_cast<std::uint8_t>(tokenShift + 1) : 5;
  if (r != 0) return r;
  return mask == 0 ? 0 : random() % mask;
}

ConfigReadRequest ReadRequestFor(std::uint32_t index, std::uint32_t base) {
  const bool last = index >= ReadBlockCount && ReadFinalBlockSize != 0;
  return ConfigReadRequest{(index - 1) * ReadBlockSize + base,
                           static_cast<std::uint16_t>(last ? ReadFinalBlockSize : ReadBlockSize)};
}

std::optional<std::uint32_t> PlaceConfigData(ConfigImage& image, std::uint32_t base, const ConfigData& answer) {
  if (answer.address < base) return std::nullopt;
  const std::uint32_t offset = answer.address - base;
  if (offset > image.size() || answer.data.size() > image.size() - offset) return std::nullopt;
  std::copy(answer.data.begin(), answer.data.end(), image.begin() + offset);
  return offset / ReadBlockSize + 1;
}
