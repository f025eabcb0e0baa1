#pragma once
// A plain stand-in for the UI thread in tests of the serial component: the hand-off's wake
// only notes that work is queued, and the test decides when queued hand-offs run. With the
// small helpers those tests share. Qt-free, header only (the Windows cross build uses it too).

// lib
#include "serial/comport.h"

// Std
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace ui_loop {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

class UiLoop {
 public:
  UiLoop() : handOff(std::make_shared<TQueuedHandOff>([this] { Wake(); })) {}

  // Runs queued hand-offs until `done` holds or the deadline passes.
  template <class Pred>
  bool RunUntil(Pred done, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      handOff->RunQueued();
      if (done()) return true;
      if (Clock::now() > deadline) return false;
      WaitWake(5ms);
    }
  }
  // Runs queued hand-offs for a while; for checking that nothing more happens.
  void RunFor(std::chrono::milliseconds period) {
    RunUntil([] { return false; }, period);
  }
  // Waits, without running anything, until `n` hand-offs are queued.
  bool WaitPending(std::size_t n, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = Clock::now() + limit;
    while (handOff->Pending() < n) {
      if (Clock::now() > deadline) return false;
      WaitWake(5ms);
    }
    return true;
  }

  std::shared_ptr<TQueuedHandOff> handOff;

 private:
  void Wake() {
    {
      std::lock_guard lock(mutex_);
      ++wakes_;
    }
    woken_.notify_all();
  }
  void WaitWake(std::chrono::milliseconds period) {
    std::unique_lock lock(mutex_);
    const auto seen = wakes_;
    woken_.wait_for(lock, period, [&] { return wakes_ != seen; });
  }

  std::mutex mutex_;
  std::condition_variable woken_;
  unsigned wakes_ = 0;
};

// Polls `done` (which must be safe to call from this thread) until it holds or the deadline.
template <class Pred>
bool WaitFor(Pred done, std::chrono::milliseconds limit = 3000ms) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

inline Bytes Sequence(std::size_t n, std::uint8_t first = 0) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), first);
  return b;
}

inline long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The values the window gives its port.
inline void SetVcpValues(TCustomComPort& port) {
  port.BaudRate = brCustom;
  port.Buffer = {4096, 4096};
  port.Timeouts = {200, 100, 100, 2, 2};
  port.SetCustomBaudRate(3686400);
}

}  // namespace ui_loop
