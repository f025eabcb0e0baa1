#pragma once
// The tool's end of the line for the simulated unit's tests: the real TComPort on the unit's
// pseudo-terminal, with a queued hand-off pumped by the test thread, recording every receive
// event as the tool's dispatcher would see it.

// lib
#include "serial/comport.h"
#include "sim/sim_unit.h"
#include "sim_test_support.h"

// Std
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ToolSide {
 public:
  // Opens `path` at 3,686,400 bit/s. Throws EComPort when it cannot.
  explicit ToolSide(const std::string& path);
  ~ToolSide();
  ToolSide(const ToolSide&) = delete;
  ToolSide& operator=(const ToolSide&) = delete;

  void Send(const SimBytes& frame);
  void Close();

  // Runs the port's hand-offs until `condition` holds or `timeout` passes.
  bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
  // Runs the hand-offs for `duration` (to see that nothing comes).
  void PumpFor(std::chrono::milliseconds duration);

  // The bytes of each receive event, in order.
  [[nodiscard]] const std::vector<SimBytes>& Events() const { return events_; }
  [[nodiscard]] const SimBytes& Stream() const { return stream_; }
  [[nodiscard]] bool HungUp() const { return hungUp_; }

  // The next whole frame in the received stream after the last one taken (bytes before a
  // start byte are passed over), waiting up to `timeout`.
  std::optional<SimBytes> NextFrame(std::chrono::milliseconds timeout = 2s);
  // Sends `frame` and waits for the next frame back that is not an announcement (a unit not
  // yet talked to may announce itself at any moment).
  std::optional<SimBytes> Ask(const SimBytes& frame, std::chrono::milliseconds timeout = 2s);
  // Forgets what has come so far (after pumping briefly for stragglers).
  void Discard();

 private:
  [[nodiscard]] std::optional<SimBytes> FrameAt(std::size_t& cursor) const;

  struct Wake {
    std::mutex mutex;
    std::condition_variable cv;
    bool pending = false;
  };
  std::shared_ptr<Wake> wake_ = std::make_shared<Wake>();
  std::shared_ptr<TQueuedHandOff> handOff_;
  TComPort port_;
  std::vector<SimBytes> events_;
  SimBytes stream_;  // the events joined
  std::size_t cursor_ = 0;  // position in Stream() of the next frame
  bool hungUp_ = false;
};
