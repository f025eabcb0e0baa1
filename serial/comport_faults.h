#pragma once
// A test seam in the serial component's system layer. A hook, installed for the whole process,
// is asked just before each system call the component makes to write, read, wait for line
// events and count the bytes waiting, and can have that call misbehave the way a system may:
// pass only part of its bytes, be interrupted, have nothing to do yet, read nothing, or find
// the device gone. It is process-wide, and keyed by the port's name, so that a test reaches
// ports it does not own (a UnitSession's, a zpictl job's) and the ports carry nothing for it.
// Without a hook (the tool) a call costs one load of a null pointer. Qt-free.

// Std
#include <atomic>
#include <string>

// The system calls the seam covers.
enum class TComCall {
  Write,   // write() / WriteFile
  Read,    // read() / ReadFile
  Wait,    // the event thread's wait: poll() / WaitCommEvent
  Queued,  // the count of bytes waiting: FIONREAD / ClearCommError
};

// What the call does instead of what the system would.
enum class TComFaultKind {
  None,
  Partial,      // Write, Read: only `bytes` of the count pass
  Interrupted,  // nothing done: EINTR; Win32 ERROR_OPERATION_ABORTED
  Busy,         // nothing done yet: EAGAIN; Win32 the operation not over when its event fires
                // (ERROR_IO_INCOMPLETE)
  Empty,        // Read: returns with nothing read; Queued: nothing waits; Wait: wakes for nothing
  Gone,         // the device has vanished: fails with `error` (0: EIO; Win32 ERROR_BAD_COMMAND),
                // and a wait reports the hang-up
};

struct TComFault {
  TComFaultKind kind = TComFaultKind::None;
  int bytes = 0;  // Partial
  int error = 0;  // Gone
};

class TComFaultHook {
 public:
  virtual ~TComFaultHook() = default;
  // Just before `call` on the port opened under the name `port`, on the thread making it.
  virtual TComFault Before(TComCall call, const std::string& port) = 0;
};

namespace comport_seam {
inline std::atomic<TComFaultHook*> hook{nullptr};
}  // namespace comport_seam

// Installs `hook` for every port of the process, or none (nullptr, the default). The hook must
// stay alive while any call may still ask it: install it before the ports open, remove it
// after they have closed. Tests only.
inline void SetComFaultHook(TComFaultHook* hook) { comport_seam::hook.store(hook, std::memory_order_release); }

// The system layer's question before a covered call.
[[nodiscard]] inline TComFault ComFaultBefore(TComCall call, const std::string& port) {
  TComFaultHook* hook = comport_seam::hook.load(std::memory_order_acquire);
  return hook ? hook->Before(call, port) : TComFault{};
}
