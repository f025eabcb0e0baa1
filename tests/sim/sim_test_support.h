#pragma once
// What the simulated unit's tests share, on the line or not: the units they run and the
// frames they exchange with them, built from the frame format alone.

// lib
#include "config/config_record.h"
#include "protocol/frame.h"
#include "sim/sim_model.h"

// Std
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

using namespace std::chrono_literals;

inline constexpr std::uint32_t Base = 0x08040000;  // the configuration base of the tests' units

// A unit with short delays at Base.
inline SimOptions Quick() {
  SimOptions o;
  o.configBaseAddress = Base;
  o.announcePeriod = 1s;  // tests of the announcements shorten it
  o.restartDelay = 120ms;
  o.stalePartial = 50ms;
  return o;
}

// Frames the tool sends.
inline SimBytes BlockFrame(std::uint8_t command, std::uint16_t token, std::uint16_t index, std::uint16_t count,
                           std::span<const std::uint8_t> data) {
  SimBytes payload;
  PutU16(payload, token);
  PutU16(payload, index);
  PutU16(payload, count);
  payload.insert(payload.end(), data.begin(), data.end());
  return BuildFrame(command, payload);
}

inline SimBytes ReadRequest(std::uint32_t address, std::uint16_t count) {
  return BuildFrame(CmdConfigRead, ConfigReadRequestPayload(address, count));
}

// The block frames of a whole transfer, trailer last.
inline std::vector<SimBytes> TransferFrames(std::uint8_t command, std::uint16_t token,
                                            std::span<const std::uint8_t> data, const TransferTrailer& trailer) {
  const auto count = static_cast<std::uint16_t>((data.size() + 47) / 48 + 1);
  std::vector<SimBytes> frames;
  for (std::uint16_t i = 1; i < count; ++i) {
    const std::size_t from = std::size_t{i - 1u} * 48;
    frames.push_back(BlockFrame(command, token, i, count, data.subspan(from, std::min<std::size_t>(48, data.size() - from))));
  }
  frames.push_back(BlockFrame(command, token, count, count, trailer));
  return frames;
}

// The unit's answers.
inline SimBytes AckFrame(std::uint16_t index) {
  SimBytes payload;
  PutU16(payload, index);
  return BuildFrame(CmdAck, payload, UnitToTool);
}

inline SimBytes RefusalFrame() { return BuildFrame(CmdRefusal, {}, UnitToTool); }

// The answer to a read of `n` bytes at Base + `offset`.
inline SimBytes ReadAnswer(const ConfigImage& memory, std::uint32_t offset, std::uint16_t n) {
  SimBytes p;
  PutU32(p, Base + offset);
  PutU16(p, n);
  p.insert(p.end(), memory.begin() + offset, memory.begin() + offset + n);
  return BuildFrame(CmdConfigRead, p, UnitToTool);
}

inline SimBytes Payload(const SimBytes& frame) { return SimBytes(frame.begin() + 5, frame.end() - 3); }

// A configuration the tests write: the defaults with three fields changed.
inline ConfigRecord Edited() {
  ConfigRecord r = DefaultConfig();
  r.VMX = 88;
  r.RPX = 3200;
  r.PING = 30;
  return r;
}
