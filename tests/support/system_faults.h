#pragma once
// Faults from the system, as the serial component's tests play them: one table, a row per
// fault and the call it hits, run against the component on a line, a UnitSession serving the
// simulated unit and the window's port; and the one fault hook of the test process, which
// lets a number of calls of the row's kind through and then has the next one misbehave. A
// device gone stays gone for every later call, and the line is stirred so that a wait already
// under way wakes to find it gone, as the system wakes it when a device vanishes. Qt-free,
// header only.

// lib
#include "serial/comport_faults.h"

#include <gtest/gtest.h>

// Std
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include "serial/comport_win32.h"
#else
#include <cerrno>
#endif

namespace system_faults {

// Errors with which each system reports a device that has gone away.
#if defined(_WIN32)
constexpr int Vanished[] = {ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE};
#else
constexpr int Vanished[] = {EIO, ENXIO, ENODEV};
#endif

struct Row {
  const char* name;
  TComCall call;
  TComFault fault;
  [[nodiscard]] bool Recoverable() const { return fault.kind != TComFaultKind::Gone; }
};
inline void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }
// The name of a row's test case.
inline std::string RowName(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

inline const std::vector<Row>& Rows() {
  using K = TComFaultKind;
  static const std::vector<Row> rows = {
      {"WritePartial", TComCall::Write, {K::Partial, 3}},
      {"WriteInterrupted", TComCall::Write, {K::Interrupted}},
      {"WriteBusy", TComCall::Write, {K::Busy}},
      {"WriteGone", TComCall::Write, {K::Gone, 0, Vanished[0]}},
      {"ReadPartial", TComCall::Read, {K::Partial, 3}},
      {"ReadInterrupted", TComCall::Read, {K::Interrupted}},
      {"ReadBusy", TComCall::Read, {K::Busy}},
      {"ReadEmpty", TComCall::Read, {K::Empty}},
      {"ReadGone", TComCall::Read, {K::Gone, 0, Vanished[1]}},  // between the wait and the read
      {"WaitInterrupted", TComCall::Wait, {K::Interrupted}},
      {"WaitBusy", TComCall::Wait, {K::Busy}},
      {"WaitEmpty", TComCall::Wait, {K::Empty}},
      {"WaitGone", TComCall::Wait, {K::Gone, 0, Vanished[0]}},
      {"QueuedInterrupted", TComCall::Queued, {K::Interrupted}},
      {"QueuedBusy", TComCall::Queued, {K::Busy}},
      {"QueuedEmpty", TComCall::Queued, {K::Empty}},
      {"QueuedGone", TComCall::Queued, {K::Gone, 0, Vanished[2]}},
  };
  return rows;
}

// Calls of the row's kind let through before the fault, so that it falls in the middle of
// the service of a unit whose configuration is invalid: in its read or in the write after it.
inline int MidService(TComCall call) {
  switch (call) {
    case TComCall::Write: return 8;
    case TComCall::Read: return 4;
    case TComCall::Wait: return 4;
    case TComCall::Queued: return 10;
  }
  return 0;
}

class Hook final : public TComFaultHook {
 public:
  // The process's one hook, installed on first use and never removed.
  static Hook& Get() {
    static Hook* hook = [] {
      auto* h = new Hook;
      SetComFaultHook(h);
      return h;
    }();
    return *hook;
  }

  // From now on `after` calls of the row's kind on `port` pass and the next one misbehaves.
  // `stir` wakes a wait under way on the line (a byte from the far end).
  void Arm(std::string port, const Row& row, int after, std::function<void()> stir) {
    std::lock_guard lock(mutex_);
    port_ = std::move(port);
    row_ = row;
    after_ = after;
    stir_ = std::move(stir);
    armed_ = true;
    fired_ = gone_ = false;
  }
  void Disarm() {
    std::lock_guard lock(mutex_);
    armed_ = false;
    stir_ = nullptr;
  }
  [[nodiscard]] bool Fired() const {
    std::lock_guard lock(mutex_);
    return fired_;
  }

  TComFault Before(TComCall call, const std::string& port) override {
    std::lock_guard lock(mutex_);
    if (!armed_ || port != port_) return {};
    if (gone_) return row_.fault;
    if (fired_ || call != row_.call) return {};
    if (after_ > 0) {
      --after_;
      return {};
    }
    fired_ = true;
    gone_ = row_.fault.kind == TComFaultKind::Gone;
    if (gone_ && stir_) stir_();
    return row_.fault;
  }

 private:
  Hook() = default;
  mutable std::mutex mutex_;
  bool armed_ = false;
  bool fired_ = false;
  bool gone_ = false;
  std::string port_;
  Row row_{};
  int after_ = 0;
  std::function<void()> stir_;
};

// A fault armed for one scope.
class Armed {
 public:
  Armed(std::string port, const Row& row, int after, std::function<void()> stir) {
    Hook::Get().Arm(std::move(port), row, after, std::move(stir));
  }
  ~Armed() { Hook::Get().Disarm(); }
  Armed(const Armed&) = delete;
  Armed& operator=(const Armed&) = delete;
  [[nodiscard]] bool Fired() const { return Hook::Get().Fired(); }
};

}  // namespace system_faults
