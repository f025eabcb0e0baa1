#include "sim/frame_assembler.h"

// lib
#include "protocol/frame.h"

// Std
#include <algorithm>

std::vector<FrameAssembler::Piece> FrameAssembler::Push(std::span<const std::uint8_t> bytes,
                                                        SimClock::time_point now) {
  lastInput_ = now;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return Scan();
}

void FrameAssembler::Skip(std::size_t n, std::vector<Piece>& out) {
  n = std::min(n, buffer_.size());
  if (n == 0) return;
  if (out.empty() || out.back().kind != Piece::Garbage) out.push_back({Piece::Garbage, {}});
  auto& g = out.back().bytes;
  g.insert(g.end(), buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
}

std::vector<FrameAssembler::Piece> FrameAssembler::Scan() {
  std::vector<Piece> out;
  for (;;) {
    const auto start = std::find(buffer_.begin(), buffer_.end(), FrameStart);
    Skip(static_cast<std::size_t>(start - buffer_.begin()), out);
    if (buffer_.size() < 5) break;
    const std::size_t length = std::size_t{buffer_[3]} << 8 | buffer_[4];
    if (length > MaxFramePayload) {  // cannot be a frame: this start byte was noise
      Skip(1, out);
      continue;
    }
    const std::size_t total = length + FrameOverhead;
    if (buffer_.size() < total) break;  // wait for the rest
    const std::span<const std::uint8_t> candidate(buffer_.data(), total);
    const CheckedFrame checked = CheckFrame(candidate, UnitAddress);
    if (checked.outcome == FrameOutcome::Accepted || checked.outcome == FrameOutcome::WrongDestination) {
      out.push_back({checked.outcome == FrameOutcome::Accepted ? Piece::Frame : Piece::OtherAddress,
                     SimBytes(candidate.begin(), candidate.end())});
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
      continue;
    }
    Skip(1, out);  // bad sum: resynchronise on the next start byte
  }
  return out;
}

std::vector<FrameAssembler::Piece> FrameAssembler::Expire(SimClock::time_point now,
                                                          SimClock::duration patience) {
  std::vector<Piece> out;
  if (buffer_.empty() || now - lastInput_ < patience) return out;
  // Nothing new came for a while: whatever is still incomplete will never complete.
  while (!buffer_.empty()) {
    Skip(1, out);
    for (auto& piece : Scan()) {
      if (piece.kind == Piece::Garbage && !out.empty() && out.back().kind == Piece::Garbage) {
        out.back().bytes.insert(out.back().bytes.end(), piece.bytes.begin(), piece.bytes.end());
      } else {
        out.push_back(std::move(piece));
      }
    }
  }
  return out;
}

std::optional<SimClock::time_point> FrameAssembler::PendingSince() const {
  if (buffer_.empty()) return std::nullopt;
  return lastInput_;
}

void FrameAssembler::Clear() { buffer_.clear(); }
