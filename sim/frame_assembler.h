#pragma once
// The unit's receive buffer: cuts a byte stream into frames for the unit. Bytes are kept
// until a whole frame is in, anything that cannot start a good frame is skipped one byte at a
// time, and a partial frame left alone for too long is given up. Qt-free.

// lib
#include "sim/sim_basics.h"

// Std
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class FrameAssembler {
 public:
  struct Piece {
    enum Kind {
      Frame,         // a complete frame addressed to the unit (bytes hold it)
      OtherAddress,  // a complete, well-summed frame addressed elsewhere
      Garbage,       // bytes skipped while looking for a start byte
    } kind = Garbage;
    SimBytes bytes;
  };

  // Appends bytes and returns what is complete now.
  std::vector<Piece> Push(std::span<const std::uint8_t> bytes, SimClock::time_point now);
  // Gives up a partial frame that has waited since before `now - patience`.
  std::vector<Piece> Expire(SimClock::time_point now, SimClock::duration patience);
  // When Expire would next have something to do; empty while nothing is pending.
  [[nodiscard]] std::optional<SimClock::time_point> PendingSince() const;
  void Clear();
  [[nodiscard]] std::size_t Buffered() const { return buffer_.size(); }

 private:
  std::vector<Piece> Scan();
  void Skip(std::size_t n, std::vector<Piece>& out);

  SimBytes buffer_;
  SimClock::time_point lastInput_{};
};
