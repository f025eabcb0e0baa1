#include "service/unit_session.h"

// Std
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

UnitSession::UnitSession(std::string port, SessionListener& listener, SessionSettings settings)
    : listener_(listener),
      settings_(settings),
      engine_(*this, ServiceEngine::Options{.actOnIdentity = settings.actOnIdentity,
                                            .rewriteInvalid = settings.rewriteInvalid,
                                            .announcementCompletesUpload = settings.announcementCompletesUpload}) {
  // The unit's line, as the window sets it.
  port_.Port = std::move(port);
  port_.BaudRate = brCustom;
  port_.Buffer = {4096, 4096};
  port_.Timeouts = {200, 100, 100, 2, 2};
  port_.Events = AllComEvents;
  port_.SetCustomBaudRate(3686400);
  port_.SetHandOff(std::make_shared<TLockedHandOff>(session_, [this] { AfterEvent(); }));
  port_.OnRxChar = [this](TCustomComPort&, int count) { RxChar(count); };
  // Never closed inside the handler: the loop closes the port once the handler has returned.
  port_.OnHangUp = [this](TCustomComPort&) { CloseFor("the unit was unplugged (the port hung up)", {}); };
  port_.OnHandlerError = [this](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const EComPort& e) {
      CloseFor(std::string("the port failed: ") + e.what(), {});
    } catch (const std::exception& e) {
      CloseFor(e.what(), {}, true);
    } catch (...) {
      CloseFor("an unknown failure", {}, true);
    }
  };
}

UnitSession::~UnitSession() {
  if (owned_) CheckOwner("destroyed");
  port_.OnRxChar = nullptr;
  port_.OnHangUp = nullptr;
  try {
    port_.Close();
  } catch (...) {
  }
  if (owned_) session_.unlock();
}

void UnitSession::CheckOwner(const char* what) const {
  if (owner_ == std::this_thread::get_id()) return;
  std::fprintf(stderr, "UnitSession for %s %s on a thread that does not own it\n", port_.Port.c_str(), what);
  std::abort();
}

void UnitSession::Open() {
  if (!owned_) {
    session_.lock();
    owned_ = true;
    owner_ = std::this_thread::get_id();
  }
  try {
    port_.Open();
    port_.ClearBuffer(true, true);
  } catch (...) {
    try {
      port_.Close();
    } catch (...) {
    }
    owned_ = false;
    session_.unlock();
    throw;
  }
  engine_.NewConnection();
}

void UnitSession::Close() {
  if (owned_) CheckOwner("closed");
  due_[0].reset();
  due_[1].reset();
  closeDue_.reset();
  // The event thread gives up waiting for the session when the port stops it.
  port_.Close();
  if (owned_) {
    owned_ = false;
    session_.unlock();
  }
}

bool UnitSession::RunUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  for (;;) {
    Clock::time_point now = Clock::now();
    if (closeDue_ && now >= *closeDue_) {
      const std::string why = std::move(closeWhy_);
      closeDue_.reset();
      if (port_.Connected()) {
        try {
          port_.Close();
        } catch (...) {
          // A port that vanished may fail its last purge; it is closed all the same.
        }
        if (closeForFault_)
          listener_.Fault(why);
        else
          listener_.Closed(why);
      }
    }
    for (const Pacer pacer : {Pacer::Transfer, Pacer::Read}) {
      std::optional<Clock::time_point>& due = due_[static_cast<int>(pacer)];
      if (!due || now < *due) continue;
      *due = now + Interval(pacer);
      if (pacer == Pacer::Transfer)
        engine_.TickTransfer();
      else
        engine_.TickRead();
      now = Clock::now();
    }
    if (done()) return true;
    if (interrupted_ || now >= deadline) return false;

    Clock::time_point until = deadline;
    for (const auto& due : due_)
      if (due) until = std::min(until, *due);
    if (closeDue_) until = std::min(until, *closeDue_);
    unsigned seen;
    {
      std::lock_guard lock(mutex_);
      seen = wakes_;
    }
    // The port's events run on its thread while the owner waits here.
    waitingFor_ = &done;
    scheduleChanged_ = false;
    if (owned_) session_.unlock();
    {
      std::unique_lock lock(mutex_);
      woken_.wait_until(lock, until, [&] { return wakes_ != seen || interrupted_; });
    }
    if (owned_) session_.lock();
    waitingFor_ = nullptr;
  }
}

void UnitSession::AfterEvent() {
  // Wake the owner only when what it waits for came about, or its timers or close moved.
  if (scheduleChanged_ || (waitingFor_ && (*waitingFor_)())) Wake();
}

void UnitSession::Interrupt() {
  interrupted_ = true;
  Wake();
}

void UnitSession::Wake() {
  {
    std::lock_guard lock(mutex_);
    ++wakes_;
  }
  woken_.notify_all();
}

bool UnitSession::PortOpen() { return port_.Connected(); }

void UnitSession::Write(std::span<const std::uint8_t> frame) {
  port_.Write(frame.data(), static_cast<int>(frame.size()));
}

void UnitSession::StartPacing(Pacer pacer) {
  due_[static_cast<int>(pacer)] = Clock::now() + Interval(pacer);
  scheduleChanged_ = true;
}

void UnitSession::StopPacing(Pacer pacer) {
  due_[static_cast<int>(pacer)].reset();
  scheduleChanged_ = true;
}

void UnitSession::CloseSoon(bool) { CloseFor("the unit asked for it (operating mode)", settings_.closeDelay); }

void UnitSession::CloseFor(std::string why, Clock::duration delay, bool fault) {
  if (closeDue_) return;  // the first reason stands
  closeDue_ = Clock::now() + delay;
  closeWhy_ = std::move(why);
  closeForFault_ = fault;
  scheduleChanged_ = true;
}

std::string UnitSession::DateTimeText() {
  // The short date and long time as a Brazilian system writes them: dd/mm/yyyyhh:mm:ss.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%d/%m/%Y%H:%M:%S", &local);
  return text;
}

void UnitSession::RxChar(int count) {
  if (!port_.Connected()) return;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max(count, 0)));
  const int got = bytes.empty() ? 0 : port_.Read(bytes.data(), static_cast<int>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(std::max(got, 0)));
  engine_.Receive(bytes);
}

UnitSession::Clock::duration UnitSession::Interval(Pacer pacer) const {
  return pacer == Pacer::Transfer ? settings_.transferTick : settings_.readTick;
}
