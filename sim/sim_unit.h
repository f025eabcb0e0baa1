#pragma once
// The simulated unit on a fresh pseudo-terminal: the line, the thread and the timing around
// the unit itself (SimModel). It announces itself, takes block transfers (firmware and
// configuration), serves configuration reads from its own 2032-byte memory, records
// everything it receives and can be told to misbehave. Every public method is safe to call
// from any thread. Qt-free.

// lib
#include "config/config_record.h"
#include "protocol/frame.h"
#include "sim/frame_assembler.h"
#include "sim/sim_basics.h"
#include "sim/sim_faults.h"
#include "sim/sim_model.h"

// Std
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct SimChunk {
  SimClock::time_point at;
  SimBytes bytes;
};

// ---- The unit ----------------------------------------------------------------------------

class SimUnit {
 public:
  explicit SimUnit(SimOptions options = {});
  ~SimUnit();  // stops the unit
  SimUnit(const SimUnit&) = delete;
  SimUnit& operator=(const SimUnit&) = delete;

  // Creates the pseudo-terminal and starts the unit's thread. Throws std::runtime_error.
  void Start();
  // Stops the thread and closes the line; the device path disappears.
  void Stop();

  // The path the tool opens, e.g. "/dev/pts/5"; empty before Start.
  [[nodiscard]] std::string DevicePath() const;

  // One line per event (connections, frames, answers, faults). Called on the unit's thread
  // without its lock held; set it before Start. Without one, the environment variable
  // ZPISIM_LOG sends the lines to stderr.
  void SetLogger(std::function<void(const std::string&)> logger);

  // Scripting while running.
  void AddFault(SimFault fault);
  void ClearFaults();
  void SetMemory(const ConfigImage& memory);
  void SetAckDelay(std::chrono::milliseconds delay);
  // Writes bytes to the tool as they are (when the port is open).
  void Send(SimBytes bytes);

  // Inspection.
  [[nodiscard]] std::vector<SimFrame> Frames() const;      // valid frames from the tool
  [[nodiscard]] std::vector<SimChunk> Received() const;    // every read from the line
  [[nodiscard]] std::vector<SimChunk> Written() const;     // every write to the line
  [[nodiscard]] std::vector<std::string> Log() const;
  [[nodiscard]] SimCounters Counters() const;
  [[nodiscard]] ConfigImage Memory() const;
  [[nodiscard]] std::optional<SimBytes> Firmware() const;  // the last firmware received whole
  [[nodiscard]] TDeviceInfo Info() const;  // what the unit announces now
  [[nodiscard]] bool ToolConnected() const;
  [[nodiscard]] bool HungUp() const;
  [[nodiscard]] bool Restarting() const;

  // Waits, up to `timeout`, for a condition; true when it was met. `condition` may call the
  // accessors above; it is looked at again every time the unit's state changes.
  bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;
  bool WaitForFrames(std::uint32_t count, std::chrono::milliseconds timeout) const;
  bool WaitForAnnouncements(std::uint32_t count, std::chrono::milliseconds timeout) const;
  bool WaitForConnected(bool connected, std::chrono::milliseconds timeout) const;

 private:
  void Run();
  void Step();
  void OnPieces(std::vector<FrameAssembler::Piece> pieces, SimClock::time_point now, bool stale);
  void OnFrame(const SimBytes& frame, SimClock::time_point now);
  void Queue(std::vector<SimWrite> writes);
  void Flush(SimClock::time_point now);
  bool WriteNow(const SimBytes& bytes);
  void HangUpLine();
  // Moves the model's new log lines after the shell's own, in order.
  void TakeModelLog();
  void Changed();

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::uint64_t generation_ = 0;
  std::function<void(const std::string&)> logger_;

  int master_ = -1;
  int wake_ = -1;  // eventfd that stops the thread
  std::string path_;
  std::thread thread_;
  bool stopping_ = false;
  bool hungUp_ = false;

  SimModel model_;
  FrameAssembler assembler_;
  std::deque<SimWrite> outgoing_;  // by due time

  // Records; `lines_` holds the lines of the step under way.
  std::vector<SimChunk> received_;
  std::vector<SimChunk> written_;
  std::vector<std::string> log_;
  std::vector<std::string> lines_;
  SimCounters line_;  // what the line counts: announcements, writes, garbage, other addresses
};
