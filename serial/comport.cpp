// The serial port component, the part that is the same on every system: properties,
// opening and closing, the event thread's hand-off logic, the queued hand-off and errors.
// The system calls live in comport_posix.cpp (and comport_win32.cpp).
#include "serial/comport.h"

// Std
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

// ---- Event masks --------------------------------------------------------------------------

namespace {
// System mask bit of each TComEvent, in the order of the enumeration.
constexpr std::array<std::uint32_t, 10> EventMaskBits = {
    0x0001,  // evRxChar
    0x0004,  // evTxEmpty
    0x0002,  // evRxFlag
    0x0100,  // evRing
    0x0040,  // evBreak
    0x0008,  // evCTS
    0x0010,  // evDSR
    0x0080,  // evError
    0x0020,  // evRLSD
    0x0400,  // evRx80Full
};
}  // namespace

std::uint32_t EventsToMask(TComEvents events) {
  std::uint32_t mask = 0;
  for (std::size_t e = 0; e < EventMaskBits.size(); ++e)
    if (events & (1u << e)) mask |= EventMaskBits[e];
  return mask;
}

TComEvents MaskToEvents(std::uint32_t mask) {
  TComEvents events = 0;
  for (std::size_t e = 0; e < EventMaskBits.size(); ++e)
    if (mask & EventMaskBits[e]) events = static_cast<TComEvents>(events | (1u << e));
  return events;
}

// ---- Time limits ----------------------------------------------------------------------------

std::optional<std::chrono::milliseconds> TotalLimit(std::int32_t multiplier, std::int32_t constant, int count) {
  if (multiplier < 0 || constant < 0) return std::nullopt;
  if (multiplier == 0 && constant == 0) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(multiplier) * count + constant);
}

// ---- Errors ---------------------------------------------------------------------------------

const char* ComErrorText(int code) {
  switch (code) {
    case CError_OpenFailed: return "Unable to open com port";
    case CError_WriteFailed: return "WriteFile function failed";
    case CError_ReadFailed: return "ReadFile function failed";
    case CError_PurgeFailed: return "PurgeComm function failed";
    case CError_SetStateFailed: return "SetCommState function failed";
    case CError_TimeoutsFailed: return "SetCommTimeouts failed";
    case CError_SetupComFailed: return "SetupComm function failed";
    case CError_ClearComFailed: return "ClearCommError function failed";
    case CError_RegError: return "Registry error";
    default: return "";
  }
}

namespace {
// The text of the code and the suffix with the system's error code. The suffix comes from a
// catalogue, so its "%d" is replaced by hand rather than handed to printf.
std::string ComErrorMessage(int code, int winCode) {
  std::string suffix = ComTranslate(" (win error code: %d)");
  const std::size_t at = suffix.find("%d");
  if (at != std::string::npos) suffix.replace(at, 2, std::to_string(winCode));
  return ComTranslate(ComErrorText(code)) + suffix;
}
}  // namespace

EComPort::EComPort(int code, int winCode)
    : std::runtime_error(ComErrorMessage(code, winCode)), code_(code), winCode_(winCode) {}

// ---- Port names ----------------------------------------------------------------------------

void SortComPortNames(std::vector<std::string>& names) {
  const auto lower = [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
  };
  std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [&](char x, char y) { return lower(static_cast<unsigned char>(x)) < lower(static_cast<unsigned char>(y)); });
  });
}

// ---- The queued hand-off -------------------------------------------------------------------

struct TQueuedHandOff::State {
  struct Job {
    std::function<void()> run;
    TComErrorSink onError;
    bool done = false;
  };
  std::function<void()> wake;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::shared_ptr<Job>> queue;
};

TQueuedHandOff::TQueuedHandOff(std::function<void()> wake) : state_(std::make_shared<State>()) {
  state_->wake = std::move(wake);
}

TQueuedHandOff::~TQueuedHandOff() = default;

void TQueuedHandOff::RunAndWait(std::function<void()> job, const std::atomic<bool>& stop,
                                TComErrorSink onError) {
  auto entry = std::make_shared<State::Job>();
  entry->run = std::move(job);
  entry->onError = std::move(onError);
  {
    std::lock_guard lock(state_->mutex);
    if (stop) return;
    state_->queue.push_back(entry);
  }
  if (state_->wake) state_->wake();
  std::unique_lock lock(state_->mutex);
  // A job left behind by an early return stays queued; whoever stops the port runs it.
  state_->changed.wait(lock, [&] { return entry->done || stop; });
}

void TQueuedHandOff::RunQueued() {
  // Only the jobs queued so far: a job queued while these run waits for the next call.
  std::size_t budget;
  {
    std::lock_guard lock(state_->mutex);
    budget = state_->queue.size();
  }
  for (; budget > 0; --budget) {
    std::shared_ptr<State::Job> entry;
    {
      std::lock_guard lock(state_->mutex);
      if (state_->queue.empty()) return;  // a nested call ran them
      entry = std::move(state_->queue.front());
      state_->queue.pop_front();
    }
    std::exception_ptr failure;
    try {
      entry->run();
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard lock(state_->mutex);
      entry->done = true;
    }
    state_->changed.notify_all();
    if (failure) {
      if (!entry->onError) std::rethrow_exception(failure);
      entry->onError(failure);
    }
  }
}

void TQueuedHandOff::Interrupt() {
  { std::lock_guard lock(state_->mutex); }
  state_->changed.notify_all();
}

std::size_t TQueuedHandOff::Pending() const {
  std::lock_guard lock(state_->mutex);
  return state_->queue.size();
}

TLockedHandOff::TLockedHandOff(std::timed_mutex& lock, std::function<void()> ran) : lock_(lock), ran_(std::move(ran)) {}

void TLockedHandOff::RunAndWait(std::function<void()> job, const std::atomic<bool>& stop, TComErrorSink onError) {
  // The owner may hold the lock for a while (busy, or closing the port): look at the stop
  // flag every few milliseconds meanwhile.
  while (!stop) {
    if (!lock_.try_lock_for(std::chrono::milliseconds(2))) continue;
    const std::lock_guard held(lock_, std::adopt_lock);
    try {
      job();
    } catch (...) {
      try {
        if (onError) onError(std::current_exception());
      } catch (...) {
      }
    }
    if (ran_) ran_();
    return;
  }
}

// ---- The event thread ----------------------------------------------------------------------

class TComThread {
 public:
  explicit TComThread(TCustomComPort& port) : port_(port) {}
  ~TComThread() {
    if (thread_.joinable()) thread_.join();
  }

  void Start() { thread_ = std::thread([this] { Execute(); }); }

  void SetStop() { stop_ = true; }
  [[nodiscard]] bool Finished() const { return finished_; }
  // Waits at most `ms` for the thread to end.
  void WaitFinished(int ms) {
    std::unique_lock lock(mutex_);
    finishedChanged_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finished_.load(); });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Execute() {
    while (!stop_) {
      const auto event = port_.WaitLineEvent();
      if (event == TCustomComPort::TLineEvent::Stop) break;
      if (event == TCustomComPort::TLineEvent::HangUp) {
        HandOff([&port = port_] { port.CallHangUp(); });
        break;
      }
      HandOff([&port = port_] {
        // Bytes the handler was told of and left unread are not news; whatever arrives
        // after the count was taken is, however soon.
        struct Note {
          TCustomComPort& port;
          std::uint64_t readBefore;
          int announced = 0;
          ~Note() { port.rx_.AfterHandOff(readBefore, announced, [this] { return port.QueuedBytes(); }); }
        } note{port, port.rx_.HandedOut()};
        port.CallRxChar(note.announced);
      });
    }
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    finishedChanged_.notify_all();
  }

  void HandOff(std::function<void()> job) {
    TComHandOff* handOff = port_.HandOff();
    if (!handOff) return;
    handOff->RunAndWait(std::move(job), stop_,
                        [&port = port_](std::exception_ptr error) { port.ReportHandlerError(error); });
  }

  TCustomComPort& port_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  std::condition_variable finishedChanged_;
  std::thread thread_;
};

// ---- The component -------------------------------------------------------------------------

TCustomComPort::TCustomComPort() : os_(MakeOs()) {}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    // A handler's failure while closing for good has nobody left to tell.
  }
}

void TCustomComPort::SetHandOff(std::shared_ptr<TComHandOff> handOff) { handOff_ = std::move(handOff); }

void TCustomComPort::SetConnected(bool value) {
  if (value == connected_) return;
  if (value)
    Open();
  else
    Close();
}

void TCustomComPort::Open() {
  if (connected_) return;
  CreateHandle();
  rx_.Reset();
  connected_ = true;
  try {
    SetupComPort();
    if (Events != 0 && handOff_) StartThread();
  } catch (...) {
    DestroyHandle();
    connected_ = false;
    throw;
  }
}

void TCustomComPort::SetupComPort() {
  ApplyBuffer();
  ApplyDCB();
  ApplyTimeouts();
}

void TCustomComPort::StartThread() {
  OpenStopSignal();
  auto thread = std::make_unique<TComThread>(*this);
  try {
    thread->Start();
  } catch (const std::system_error& e) {
    CloseStopSignal();
    throw EComPort(CError_OpenFailed, e.code().value());
  }
  thread_ = std::move(thread);
}

void TCustomComPort::Close() {
  if (!connected_ || closing_) return;
  closing_ = true;
  std::exception_ptr failure;
  // Hand-offs run here may raise; the port is closed all the same and the first failure
  // is passed on afterwards.
  const auto runQueued = [&] {
    if (!handOff_) return;
    try {
      handOff_->RunQueued();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  if (thread_) {
    thread_->SetStop();
    SignalStop();
    if (handOff_) handOff_->Interrupt();
    while (!thread_->Finished()) {
      runQueued();
      thread_->WaitFinished(5);
    }
    thread_->Join();
    thread_.reset();
    CloseStopSignal();
  }
  // What the thread handed off and nobody ran yet runs now, while the handle is open.
  runQueued();
  PurgeAtClose();
  DestroyHandle();
  connected_ = false;
  closing_ = false;
  if (failure) std::rethrow_exception(failure);
}

void TCustomComPort::SetCustomBaudRate(std::int32_t rate) {
  if (rate == customBaudRate_) return;
  customBaudRate_ = rate;
  ApplyDCB();
}

void TCustomComPort::DoRxChar(int count) {
  if (OnRxChar) OnRxChar(*this, count);
}

void TCustomComPort::CallRxChar(int& announced) {
  if (!connected_) return;  // closed by an earlier handler
  announced = InputCount();
  if (announced > 0) DoRxChar(announced);
}

void TCustomComPort::CallHangUp() {
  // A port being closed needs no news that its other side went away.
  if (!connected_ || closing_) return;
  if (OnHangUp) OnHangUp(*this);
}

void TCustomComPort::ReportHandlerError(std::exception_ptr error) {
  if (!OnHandlerError) std::rethrow_exception(error);
  OnHandlerError(error);
}
