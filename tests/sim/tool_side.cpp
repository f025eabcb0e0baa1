#include "tool_side.h"

// Std
#include <algorithm>

ToolSide::ToolSide(const std::string& path) {
  auto wake = wake_;
  handOff_ = std::make_shared<TQueuedHandOff>([wake] {
    {
      std::lock_guard lock(wake->mutex);
      wake->pending = true;
    }
    wake->cv.notify_all();
  });
  port_.Port = path;
  port_.BaudRate = brCustom;
  port_.SetCustomBaudRate(3'686'400);
  port_.SetHandOff(handOff_);
  port_.OnRxChar = [this](TCustomComPort& port, int count) {
    SimBytes bytes(static_cast<std::size_t>(std::max(count, 0)));
    const int got = port.Read(bytes.data(), count);
    bytes.resize(static_cast<std::size_t>(std::max(got, 0)));
    if (bytes.empty()) return;
    stream_.insert(stream_.end(), bytes.begin(), bytes.end());
    events_.push_back(std::move(bytes));
  };
  port_.OnHangUp = [this](TCustomComPort&) { hungUp_ = true; };
  port_.Open();
}

ToolSide::~ToolSide() { Close(); }

void ToolSide::Close() { port_.Close(); }

void ToolSide::Send(const SimBytes& frame) {
  port_.Write(frame.data(), static_cast<int>(frame.size()));
}

bool ToolSide::PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    handOff_->RunQueued();
    if (condition()) return true;
    std::unique_lock lock(wake_->mutex);
    if (!wake_->cv.wait_until(lock, deadline, [&] { return wake_->pending; })) {
      lock.unlock();
      handOff_->RunQueued();
      return condition();
    }
    wake_->pending = false;
  }
}

void ToolSide::PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

std::optional<SimBytes> ToolSide::FrameAt(std::size_t& cursor) const {
  const SimBytes& all = stream_;
  std::size_t at = cursor;
  while (at < all.size() && all[at] != FrameStart) ++at;
  if (all.size() < at + 5) return std::nullopt;
  const std::size_t total = (std::size_t{all[at + 3]} << 8 | all[at + 4]) + FrameOverhead;
  if (all.size() < at + total) return std::nullopt;
  cursor = at + total;
  return SimBytes(all.begin() + static_cast<std::ptrdiff_t>(at),
                  all.begin() + static_cast<std::ptrdiff_t>(at + total));
}

std::optional<SimBytes> ToolSide::NextFrame(std::chrono::milliseconds timeout) {
  std::optional<SimBytes> frame;
  PumpUntil([&] {
    std::size_t cursor = cursor_;
    frame = FrameAt(cursor);
    if (frame) cursor_ = cursor;
    return frame.has_value();
  }, timeout);
  return frame;
}

std::optional<SimBytes> ToolSide::Ask(const SimBytes& frame, std::chrono::milliseconds timeout) {
  Send(frame);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    auto answer = NextFrame(std::max(left, 0ms));
    if (!answer || (*answer)[2] != CmdDeviceInfo) return answer;
  }
}

void ToolSide::Discard() {
  PumpFor(20ms);
  cursor_ = Stream().size();
}
