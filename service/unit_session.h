#pragma once
// One unit served without a window: its serial port, its service engine, and a loop on the
// owner's thread for the two pacing timers and the delayed close. Qt-free. A program serving
// several units runs one session per unit, each on a thread of its own, so that no unit waits
// on another.
//
// The port's received-data events are handled on the port's own event thread while the owner
// waits inside RunUntil (TLockedHandOff): an answer is taken in, and the next frame written,
// without waking another thread. The owner's thread holds the session from Open to Close,
// except while it waits, so the engine is still touched by one thread at a time; the
// listener is called on either thread, never on both at once.
//
// The owner is explicit: Open makes the calling thread the owner, and Close, RunUntil and the
// destructor of an open session belong to it. The destructor closes the port itself; on any
// other thread it would release a lock that thread does not hold, so it stops the program
// with a message instead.

// lib
#include "serial/comport.h"
#include "service/service_engine.h"

// Std
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

// What a session tells its owner: on the owner's thread or the port's, never on both at once.
class SessionListener {
 public:
  virtual ~SessionListener() = default;
  virtual void Log(std::string_view /*line*/) {}
  virtual void Progress(int /*position*/, int /*maximum*/) {}
  virtual void Failure(const ServiceFailure& /*failure*/) {}
  virtual void Identified(const TDeviceInfo& /*info*/) {}
  virtual void ConfigRead(const DecodedConfig& /*decoded*/) {}
  virtual void TransferComplete(std::uint8_t /*kind*/) {}
  virtual void LastAckLost() {}  // before TransferComplete: see SessionSettings
  virtual void OperatingMode(const TDeviceInfo* /*identity*/) {}  // null: a notice
  // The port closed by itself: the unit asked for it (operating mode), was unplugged, or the
  // port failed (`why` says which).
  virtual void Closed(std::string_view /*why*/) {}
  // A handler failed with something other than the port's own failure: a fault of the
  // program, not of the unit or its cable. The port is closed after it.
  virtual void Fault(std::string_view /*what*/) {}
};

struct SessionSettings {
  bool actOnIdentity = true;   // the identity starts the upload or the read by itself
  bool forceVentora = false;   // an image that is not the Ventora preset is invalid
  bool rewriteInvalid = true;  // an invalid image is replaced by the stock record at once
  // The restarted unit's announcement completes an upload whose last acknowledgement was lost.
  bool announcementCompletesUpload = false;
  std::chrono::milliseconds transferTick{PacerIntervalMs(Pacer::Transfer)};
  std::chrono::milliseconds readTick{PacerIntervalMs(Pacer::Read)};
  std::chrono::milliseconds closeDelay{50};
};

class UnitSession final : private ServiceFrontEnd {
 public:
  using Clock = std::chrono::steady_clock;

  UnitSession(std::string port, SessionListener& listener, SessionSettings settings = {});
  ~UnitSession() override;
  UnitSession(const UnitSession&) = delete;
  UnitSession& operator=(const UnitSession&) = delete;

  // Opens the port with the unit's line settings (throws EComPort) and starts a connection:
  // the unit's next identity is acted on. The calling thread is the owner until Close.
  void Open();
  void Close();

  [[nodiscard]] ServiceEngine& Engine() { return engine_; }

  // Lets the port's events in and runs what is due (ticks, a requested close) until `done`
  // holds (true), or the deadline passes or Interrupt is called (false). Owner's thread only.
  bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline);
  // Any thread: makes RunUntil return soon, now and from now on.
  void Interrupt();
  [[nodiscard]] bool Interrupted() const { return interrupted_; }

 private:
  // ServiceFrontEnd
  bool PortOpen() override;
  void Write(std::span<const std::uint8_t> frame) override;
  void Log(std::string_view line) override { listener_.Log(line); }
  void LogInRed() override {}
  void ProgressMax(int maximum) override { progressMax_ = maximum; }
  void Progress(int position) override { listener_.Progress(position, progressMax_); }
  void Failure(const ServiceFailure& failure) override { listener_.Failure(failure); }
  void StartPacing(Pacer pacer) override;
  void StopPacing(Pacer pacer) override;
  void CloseSoon(bool portListUsable) override;
  void Identified(const TDeviceInfo& info) override { listener_.Identified(info); }
  void ReadStarted() override {}
  void ConfigRead(const DecodedConfig& decoded) override { listener_.ConfigRead(decoded); }
  void ShowStock(const ConfigRecord&) override {}
  void TransferComplete(std::uint8_t kind) override { listener_.TransferComplete(kind); }
  void LastAckLost() override { listener_.LastAckLost(); }
  void OperatingMode(const TDeviceInfo* identity) override { listener_.OperatingMode(identity); }
  bool ForceVentora() override { return settings_.forceVentora; }
  bool AutoClose() override { return false; }
  std::string DateTimeText() override;

  void RxChar(int count);
  void CloseFor(std::string why, Clock::duration delay, bool fault = false);
  void CheckOwner(const char* what) const;
  void Wake();
  void AfterEvent();  // event thread, under the session lock
  [[nodiscard]] Clock::duration Interval(Pacer pacer) const;

  SessionListener& listener_;
  SessionSettings settings_;
  std::timed_mutex session_;  // held by whoever touches the engine: the owner or the event thread
  bool owned_ = false;        // the owner holds session_ (between Open and Close)
  std::thread::id owner_;
  std::mutex mutex_;          // guards the wake count
  std::condition_variable woken_;
  unsigned wakes_ = 0;
  std::atomic<bool> interrupted_{false};
  // What the owner waits for while it waits, for the event thread to see; and whether the
  // timers or the close changed since the owner last looked.
  const std::function<bool()>* waitingFor_ = nullptr;
  bool scheduleChanged_ = false;
  TComPort port_;
  ServiceEngine engine_;
  int progressMax_ = 0;
  std::optional<Clock::time_point> due_[2];   // the next tick of each pacer
  std::optional<Clock::time_point> closeDue_;
  std::string closeWhy_;
  bool closeForFault_ = false;
};
