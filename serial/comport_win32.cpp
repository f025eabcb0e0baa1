// The serial port component's system side on Windows: the COM device opened for overlapped
// I/O, the device control block and time limits, overlapped reads and writes through TAsync,
// the event thread's wait on WaitCommEvent and the port list from the registry.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // CancelIoEx
#endif
#include "serial/comport_win32.h"
#include "serial/comport_faults.h"

// Std
#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace {

// While the driver cannot wait for line events, or announced bytes are left unread, the
// event thread looks at the input queue this often instead.
constexpr DWORD WatchPeriodMs = 10;
// How long the event thread gives a pending line-event wait to end after the mask is cleared.
constexpr DWORD EndWaitMs = 500;
// A read or write that moves nothing this many times in a row (interrupted, or done with no
// bytes while more wait or are to go) ends as it is.
constexpr int PatientTries = 3;

using Clock = std::chrono::steady_clock;

constexpr DWORD PurgeAbortAll = PURGE_TXABORT | PURGE_RXABORT;  // 0x0003
constexpr DWORD PurgeClearAll = PURGE_TXCLEAR | PURGE_RXCLEAR;  // 0x000C

constexpr const char* SerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD RegistryBufferSize = 256;

int ErrorCode(DWORD error) { return static_cast<int>(error); }

DWORD FixedRate(TBaudRate rate, std::int32_t custom) {
  switch (rate) {
    case br9600: return 9600;
    case br19200: return 19200;
    case br38400: return 38400;
    case br57600: return 57600;
    case br115200: return 115200;
    case brCustom: break;
  }
  return static_cast<DWORD>(custom);
}

BYTE ByteSizeOf(TDataBits bits) {
  switch (bits) {
    case dbFive: return 5;
    case dbSix: return 6;
    case dbSeven: return 7;
    case dbEight: break;
  }
  return 8;
}

WORD QueueLimit(int inputSize) {
  const int limit = std::max(inputSize, 0) / 4;
  return static_cast<WORD>(std::min(limit, static_cast<int>(std::numeric_limits<WORD>::max())));
}

// Errors with which a port that has gone away (USB unplugged) answers: it keeps nothing to
// read, and the event thread announces the hang-up.
bool PortIsGone(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE:
      return true;
    default:
      return false;
  }
}

// Errors that say "not now": the operation was cut off or is not over, and may be made again.
bool IsTransient(DWORD error) { return error == ERROR_OPERATION_ABORTED || error == ERROR_IO_INCOMPLETE; }

// The error a fault of the seam fails a call with; 0 for a fault that lets the call be made.
DWORD FaultError(const TComFault& fault) {
  switch (fault.kind) {
    case TComFaultKind::Interrupted: return ERROR_OPERATION_ABORTED;
    case TComFaultKind::Gone: return fault.error ? static_cast<DWORD>(fault.error) : ERROR_BAD_COMMAND;
    default: return 0;
  }
}

// ClearCommError, as the fault seam may make it: the bytes waiting, or false with the system's
// last error set.
bool AskQueue(HANDLE handle, const std::string& port, DWORD& waiting) {
  const TComFault fault = ComFaultBefore(TComCall::Queued, port);
  if (fault.kind == TComFaultKind::Empty) {
    waiting = 0;
    return true;
  }
  const DWORD error = fault.kind == TComFaultKind::Busy ? ERROR_IO_INCOMPLETE : FaultError(fault);
  if (error) {
    ::SetLastError(error);
    return false;
  }
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(handle, &errors, &stat)) return false;
  waiting = stat.cbInQue;
  return true;
}

// ---- TAsync: one overlapped read or write --------------------------------------------------

enum class TOperationKind { Read, Write };

struct TAsync {
  OVERLAPPED Overlapped{};
  TOperationKind Kind = TOperationKind::Read;
  std::vector<std::uint8_t> Data;  // a write's private copy of the caller's bytes
  bool Started = false;
  bool Skipped = false;         // the fault seam did it: nothing transferred
  bool IncompleteOnce = false;  // the fault seam: not over when its event first fires
};

// A new TAsync with an event of its own (manual reset); empty on failure (GetLastError).
std::unique_ptr<TAsync> InitAsync() {
  auto async = std::make_unique<TAsync>();
  async->Overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!async->Overlapped.hEvent) return nullptr;
  return async;
}

bool StartedOrPending(BOOL done) { return done || ::GetLastError() == ERROR_IO_PENDING; }

// What the fault seam makes of a ReadFile or WriteFile of `count` bytes about to start: true
// when the call is to be made (of `count` cut down, for a partial one); false when it is not,
// refused with the system's last error set, or done with nothing transferred (Skipped).
bool Proceed(const TComFault& fault, TAsync& async, DWORD& count) {
  if (const DWORD error = FaultError(fault)) {
    ::SetLastError(error);
    return false;
  }
  if (fault.kind == TComFaultKind::Partial) count = std::min(count, static_cast<DWORD>(std::max(fault.bytes, 1)));
  async.IncompleteOnce = fault.kind == TComFaultKind::Busy;
  async.Skipped = fault.kind == TComFaultKind::Empty;
  return !async.Skipped;
}

bool ReadAsync(HANDLE handle, const std::string& port, TAsync& async, void* buffer, DWORD count) {
  async.Kind = TOperationKind::Read;
  if (!Proceed(ComFaultBefore(TComCall::Read, port), async, count)) return async.Skipped;
  async.Started = StartedOrPending(::ReadFile(handle, buffer, count, nullptr, &async.Overlapped));
  return async.Started;
}

bool WriteAsync(HANDLE handle, const std::string& port, TAsync& async, const void* buffer, DWORD count) {
  async.Kind = TOperationKind::Write;
  if (!Proceed(ComFaultBefore(TComCall::Write, port), async, count)) return async.Skipped;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  async.Data.assign(bytes, bytes + count);
  async.Started = StartedOrPending(::WriteFile(handle, async.Data.data(), count, nullptr, &async.Overlapped));
  return async.Started;
}

// Waits for the operation and fetches its result. A time limit that ended the operation is
// no failure: the count transferred so far is the result.
bool WaitForAsync(HANDLE handle, TAsync& async, DWORD& transferred) {
  transferred = 0;
  if (async.Skipped) return true;
  if (::WaitForSingleObject(async.Overlapped.hEvent, INFINITE) != WAIT_OBJECT_0) return false;
  BOOL done = FALSE;
  if (async.IncompleteOnce) {
    async.IncompleteOnce = false;
    ::SetLastError(ERROR_IO_INCOMPLETE);
  } else {
    done = ::GetOverlappedResult(handle, &async.Overlapped, &transferred, FALSE);
  }
  // Signalled but not over after all: wait for its end.
  if (!done && ::GetLastError() == ERROR_IO_INCOMPLETE)
    done = ::GetOverlappedResult(handle, &async.Overlapped, &transferred, TRUE);
  if (done) return true;
  if (::GetLastError() != ERROR_TIMEOUT) return false;
  transferred = static_cast<DWORD>(async.Overlapped.InternalHigh);
  return true;
}

// Closes the event and frees the record and the copy. An operation still under way is
// cancelled and waited for first: the system must be done with the record and the buffer.
void DoneAsync(HANDLE handle, std::unique_ptr<TAsync> async) {
  if (!async) return;
  if (async->Started && !HasOverlappedIoCompleted(&async->Overlapped)) {
    DWORD ignored = 0;
    ::CancelIoEx(handle, &async->Overlapped);
    ::GetOverlappedResult(handle, &async->Overlapped, &ignored, TRUE);
  }
  if (async->Overlapped.hEvent) ::CloseHandle(async->Overlapped.hEvent);
}

// DoneAsync in every case, also when an error is raised.
class TAsyncScope {
 public:
  explicit TAsyncScope(HANDLE handle) : handle_(handle), async_(InitAsync()) {}
  ~TAsyncScope() { DoneAsync(handle_, std::move(async_)); }
  TAsyncScope(const TAsyncScope&) = delete;
  TAsyncScope& operator=(const TAsyncScope&) = delete;
  [[nodiscard]] TAsync* Get() const { return async_.get(); }

 private:
  HANDLE handle_;
  std::unique_ptr<TAsync> async_;
};

// The end of an operation that `started` (or did not): 0 with the count transferred, or the
// system's error.
DWORD Finish(HANDLE handle, TAsync& async, bool started, DWORD count, DWORD& transferred) {
  transferred = 0;
  if (!started || !WaitForAsync(handle, async, transferred)) {
    const DWORD error = ::GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
  }
  transferred = std::min(transferred, count);
  return 0;
}

// One overlapped read of `count` bytes, from start to end.
DWORD ReadOnce(HANDLE handle, const std::string& port, void* buffer, DWORD count, DWORD& transferred) {
  TAsyncScope scope(handle);
  TAsync* async = scope.Get();
  if (!async) return ::GetLastError();
  return Finish(handle, *async, ReadAsync(handle, port, *async, buffer, count), count, transferred);
}

// One overlapped write of `count` bytes, from start to end.
DWORD WriteOnce(HANDLE handle, const std::string& port, const void* buffer, DWORD count, DWORD& transferred) {
  TAsyncScope scope(handle);
  TAsync* async = scope.Get();
  if (!async) return ::GetLastError();
  return Finish(handle, *async, WriteAsync(handle, port, *async, buffer, count), count, transferred);
}

// The registry key, closed in every case.
class TRegKey {
 public:
  TRegKey() = default;
  ~TRegKey() {
    if (key_) ::RegCloseKey(key_);
  }
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;
  HKEY* Out() { return &key_; }
  [[nodiscard]] HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

void EnumComPortsUnder(std::vector<std::string>& ports, HKEY root, const char* subKey) {
  TRegKey key;
  const LONG opened = ::RegOpenKeyExA(root, subKey, 0, KEY_READ, key.Out());
  if (opened != ERROR_SUCCESS) throw EComPort(CError_RegError, ErrorCode(static_cast<DWORD>(opened)));

  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[RegistryBufferSize];
    BYTE data[RegistryBufferSize];
    DWORD nameSize = RegistryBufferSize;
    DWORD dataSize = RegistryBufferSize;
    DWORD type = 0;
    const LONG r = ::RegEnumValueA(key.Get(), index, name, &nameSize, nullptr, &type, data, &dataSize);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS) throw EComPort(CError_RegError, ErrorCode(static_cast<DWORD>(r)));
    // The port name, without its terminating zero (which a value need not have).
    const auto* text = reinterpret_cast<const char*>(data);
    const std::size_t size = std::min<std::size_t>(dataSize, RegistryBufferSize);
    names.emplace_back(text, static_cast<std::size_t>(std::find(text, text + size, '\0') - text));
  }
  SortComPortNames(names);
  ports = std::move(names);
}

}  // namespace

// ---- Pieces checked without a port ---------------------------------------------------------

DCB ComPortDCB(const TCustomComPort& port) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = FixedRate(port.BaudRate, port.CustomBaudRate());
  dcb.fBinary = 1;
  dcb.fParity = port.Parity.Check ? 1 : 0;
  dcb.fOutxCtsFlow = port.FlowControl.OutCTSFlow ? 1 : 0;
  dcb.fOutxDsrFlow = port.FlowControl.OutDSRFlow ? 1 : 0;
  dcb.fDtrControl = static_cast<DWORD>(port.FlowControl.ControlDTR);  // DTR_CONTROL_* in order
  dcb.fDsrSensitivity = port.FlowControl.DSRSensitivity ? 1 : 0;
  dcb.fTXContinueOnXoff = port.FlowControl.TxContinueOnXoff ? 1 : 0;
  dcb.fOutX = port.FlowControl.XonXoffOut ? 1 : 0;
  dcb.fInX = port.FlowControl.XonXoffIn ? 1 : 0;
  dcb.fErrorChar = port.Parity.Replace ? 1 : 0;
  dcb.fNull = 0;
  dcb.fRtsControl = static_cast<DWORD>(port.FlowControl.ControlRTS);  // RTS_CONTROL_* in order
  dcb.fAbortOnError = 0;
  dcb.XonLim = QueueLimit(port.Buffer.InputSize);
  dcb.XoffLim = QueueLimit(port.Buffer.InputSize);
  dcb.ByteSize = ByteSizeOf(port.DataBits);
  dcb.Parity = static_cast<BYTE>(port.Parity.Bits);  // NOPARITY .. SPACEPARITY in order
  dcb.StopBits = static_cast<BYTE>(port.StopBits);   // ONESTOPBIT .. TWOSTOPBITS in order
  dcb.XonChar = port.FlowControl.XonChar;
  dcb.XoffChar = port.FlowControl.XoffChar;
  dcb.ErrorChar = port.Parity.Replace ? port.Parity.ReplaceChar : 0;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  return dcb;
}

COMMTIMEOUTS ComPortTimeouts(const TComTimeouts& t) {
  // Two's complement: -1 is 0xFFFFFFFF, the system's "no limit".
  return COMMTIMEOUTS{static_cast<DWORD>(t.ReadInterval), static_cast<DWORD>(t.ReadTotalMultiplier),
                      static_cast<DWORD>(t.ReadTotalConstant), static_cast<DWORD>(t.WriteTotalMultiplier),
                      static_cast<DWORD>(t.WriteTotalConstant)};
}

bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// ---- The system's side of the component ----------------------------------------------------

namespace {

// How one turn of the event thread's wait ended.
enum class TWaitEnd {
  Stop,   // the stop event, or a failed wait: the thread ends
  Look,   // look at the input queue for news
  Again,  // nothing to look at: wait again
  Gone,   // the port no longer answers
};

// The event thread's wait: line events through an overlapped WaitCommEvent, or, where the
// driver refuses that wait, a look at the input queue every WatchPeriodMs. The stop event,
// the wait's own event, the overlapped record and the mask that the driver fills in live as
// long as the component, so a wait still pending can never write into freed memory.
struct TLineEventWait {
  HANDLE stopEvent = nullptr;
  HANDLE event = nullptr;
  OVERLAPPED overlapped{};
  DWORD mask = 0;
  bool pending = false;
  std::atomic<TComWaitMode> mode{TComWaitMode::None};  // read by tests from any thread
  // Under Wine a driver can take the wait and never end it for received bytes (it counts
  // them with ioctls that a pseudo-terminal or a USB modem lacks): the input queue is then
  // looked at beside the pending wait, every WatchPeriodMs. Windows ends the wait itself.
  DWORD pendingLimit = INFINITE;
  bool incompleteOnce = false;  // the fault seam: the wait not over when its event fires

  // The stop event for a period, then a look at the queue.
  TWaitEnd Watch() const {
    return ::WaitForSingleObject(stopEvent, WatchPeriodMs) == WAIT_TIMEOUT ? TWaitEnd::Look : TWaitEnd::Stop;
  }

  // Starts a line-event wait, or goes on with the pending one, until it ends or stops.
  TWaitEnd ForLineEvent(HANDLE port, const std::string& name) {
    if (!pending) {
      mask = 0;
      ::ResetEvent(event);
      const TComFault fault = ComFaultBefore(TComCall::Wait, name);
      incompleteOnce = fault.kind == TComFaultKind::Busy;
      if (fault.kind == TComFaultKind::Empty) return TWaitEnd::Again;  // woke for nothing
      if (const DWORD error = FaultError(fault)) {
        ::SetLastError(error);
        return Refused(port, name);
      }
      if (!::WaitCommEvent(port, &mask, &overlapped)) {
        if (::GetLastError() != ERROR_IO_PENDING) return Refused(port, name);
        pending = true;
      }
    }
    if (pending) {
      // The stop event first: a stop wins over an event that came in at the same time.
      const HANDLE objects[2] = {stopEvent, event};
      const DWORD r = ::WaitForMultipleObjects(2, objects, FALSE, pendingLimit);
      if (r == WAIT_TIMEOUT) return TWaitEnd::Look;  // the wait stays pending for the next turn
      if (r != WAIT_OBJECT_0 + 1) return TWaitEnd::Stop;
      DWORD ignored = 0;
      const BOOL over = !incompleteOnce && ::GetOverlappedResult(port, &overlapped, &ignored, FALSE);
      if (incompleteOnce) ::SetLastError(ERROR_IO_INCOMPLETE);
      incompleteOnce = false;
      if (!over) {
        // Not over yet after all: look again shortly, still watching the stop event.
        if (::GetLastError() == ERROR_IO_INCOMPLETE)
          return ::WaitForSingleObject(stopEvent, 1) == WAIT_TIMEOUT ? TWaitEnd::Again : TWaitEnd::Stop;
        pending = false;
        return Refused(port, name);
      }
      pending = false;
    }
    // Of the line events only received characters matter; the others are waited for and
    // dropped.
    return (mask & EV_RXCHAR) ? TWaitEnd::Look : TWaitEnd::Again;
  }

  // The driver refused the line-event wait: a port that still answers is watched from now
  // on; one that does not has gone away.
  TWaitEnd Refused(HANDLE port, const std::string& name) {
    DWORD waiting = 0;
    if (!AskQueue(port, name, waiting) && !IsTransient(::GetLastError())) return TWaitEnd::Gone;
    mode = TComWaitMode::Watching;
    return TWaitEnd::Again;
  }

  // Clears the mask, which ends a pending wait, and waits until the driver is done with it.
  void End(HANDLE port) {
    ::SetCommMask(port, 0);
    if (!pending) return;
    if (::WaitForSingleObject(event, EndWaitMs) != WAIT_OBJECT_0) ::CancelIoEx(port, &overlapped);
    DWORD ignored = 0;
    ::GetOverlappedResult(port, &overlapped, &ignored, TRUE);
    pending = false;
  }
};

}  // namespace

struct TCustomComPort::Os {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string name;  // the port as it was opened, for the fault seam
  std::int32_t appliedRate = 0;
  TComTimeouts timeouts;  // as applied
  TLineEventWait wait;
};

void TCustomComPort::OsDeleter::operator()(Os* os) const {
  if (!os) return;
  if (os->handle != INVALID_HANDLE_VALUE) ::CloseHandle(os->handle);
  if (os->wait.pending && os->wait.event) ::WaitForSingleObject(os->wait.event, EndWaitMs);
  if (os->wait.event) ::CloseHandle(os->wait.event);
  if (os->wait.stopEvent) ::CloseHandle(os->wait.stopEvent);
  delete os;
}

std::unique_ptr<TCustomComPort::Os, TCustomComPort::OsDeleter> TCustomComPort::MakeOs() {
  return std::unique_ptr<Os, OsDeleter>(new Os);
}

TComWaitMode ComPortWaitMode(const TCustomComPort& port) { return port.os_->wait.mode; }

// ---- Message catalogue ---------------------------------------------------------------------

// No message-catalogue library is part of the Windows build; with no catalogue shipped the
// texts appear as written either way.
std::string ComTranslate(const char* text) { return text ? text : ""; }

// ---- Opening and settings ------------------------------------------------------------------

void TCustomComPort::CreateHandle() {
  if (os_->handle != INVALID_HANDLE_VALUE) return;
  const std::string device = "\\\\.\\" + Port;
  const HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw EComPort(CError_OpenFailed, ErrorCode(::GetLastError()));
  os_->handle = handle;
  os_->name = Port;
  os_->appliedRate = 0;
  os_->wait.mode = TComWaitMode::None;
}

void TCustomComPort::DestroyHandle() {
  if (os_->handle == INVALID_HANDLE_VALUE) return;
  ::CloseHandle(os_->handle);
  os_->handle = INVALID_HANDLE_VALUE;
  os_->appliedRate = 0;
}

void TCustomComPort::ApplyBuffer() {
  if (os_->handle == INVALID_HANDLE_VALUE) return;
  if (Buffer.InputSize <= 0 || Buffer.OutputSize <= 0) throw EComPort(CError_SetupComFailed, ERROR_INVALID_PARAMETER);
  if (!::SetupComm(os_->handle, static_cast<DWORD>(Buffer.InputSize), static_cast<DWORD>(Buffer.OutputSize)))
    throw EComPort(CError_SetupComFailed, ErrorCode(::GetLastError()));
}

void TCustomComPort::ApplyDCB() {
  if (os_->handle == INVALID_HANDLE_VALUE) return;
  DCB dcb = ComPortDCB(*this);
  // A rate of 0 or below would reach the driver as a huge unsigned number.
  if (static_cast<std::int32_t>(dcb.BaudRate) <= 0) throw EComPort(CError_SetStateFailed, ERROR_INVALID_PARAMETER);
  if (!::SetCommState(os_->handle, &dcb)) throw EComPort(CError_SetStateFailed, ErrorCode(::GetLastError()));
  // The rate the driver reports back; the one asked for when it reports nothing.
  DCB back{};
  back.DCBlength = sizeof(DCB);
  os_->appliedRate = ::GetCommState(os_->handle, &back) ? static_cast<std::int32_t>(back.BaudRate)
                                                        : static_cast<std::int32_t>(dcb.BaudRate);
}

void TCustomComPort::ApplyTimeouts() {
  if (os_->handle == INVALID_HANDLE_VALUE) return;
  COMMTIMEOUTS timeouts = ComPortTimeouts(Timeouts);
  if (!::SetCommTimeouts(os_->handle, &timeouts)) throw EComPort(CError_TimeoutsFailed, ErrorCode(::GetLastError()));
  os_->timeouts = Timeouts;
}

std::int32_t TCustomComPort::AppliedBaudRate() const {
  return os_->handle != INVALID_HANDLE_VALUE ? os_->appliedRate : 0;
}

// ---- Reading and writing -------------------------------------------------------------------

int TCustomComPort::Read(void* buffer, int count) {
  const HANDLE handle = os_->handle;
  if (handle == INVALID_HANDLE_VALUE) throw EComPort(CError_ReadFailed, ERROR_INVALID_HANDLE);
  if (count <= 0) return 0;
  if (!buffer) throw EComPort(CError_ReadFailed, ERROR_INVALID_PARAMETER);

  auto* out = static_cast<std::uint8_t*>(buffer);
  DWORD want = static_cast<DWORD>(count);
  int got = 0;
  int misses = 0;
  for (;;) {
    DWORD transferred = 0;
    const DWORD error = ReadOnce(handle, os_->name, out + got, want, transferred);
    if (error) {
      if (IsTransient(error) && ++misses < PatientTries) continue;
      if (got > 0) return got;  // the next call fails
      throw EComPort(CError_ReadFailed, ErrorCode(error));
    }
    got += static_cast<int>(transferred);
    rx_.Handed(static_cast<int>(transferred));
    if (got == count) return got;
    misses = transferred > 0 ? 0 : misses + 1;
    // Short: its time limit ended it, unless bytes still wait (a read cut short, or one that
    // came back with nothing). Those are there already, so reading them returns at once.
    const TQueued waiting = QueuedBytes();
    if (waiting.kind != TQueued::Count || waiting.bytes == 0 || misses >= PatientTries) return got;
    want = static_cast<DWORD>(std::min<std::uint64_t>(waiting.bytes, static_cast<std::uint64_t>(count - got)));
  }
}

int TCustomComPort::Write(const void* buffer, int count) {
  const HANDLE handle = os_->handle;
  if (handle == INVALID_HANDLE_VALUE) throw EComPort(CError_WriteFailed, ERROR_INVALID_HANDLE);
  if (count <= 0) return 0;
  if (!buffer) throw EComPort(CError_WriteFailed, ERROR_INVALID_PARAMETER);

  const TComTimeouts& t = os_->timeouts;
  const auto limit = TotalLimit(t.WriteTotalMultiplier, t.WriteTotalConstant, count);
  const auto deadline = Clock::now() + limit.value_or(std::chrono::milliseconds::zero());
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  int done = 0;
  int misses = 0;
  for (;;) {
    DWORD transferred = 0;
    const DWORD error = WriteOnce(handle, os_->name, in + done, static_cast<DWORD>(count - done), transferred);
    if (error) {
      if (IsTransient(error) && ++misses < PatientTries) continue;
      throw EComPort(CError_WriteFailed, ErrorCode(error));
    }
    done += static_cast<int>(transferred);
    if (done == count) return done;
    // Short: the rest follows while the write's time limit lasts.
    misses = transferred > 0 ? 0 : misses + 1;
    if ((limit && Clock::now() >= deadline) || misses >= PatientTries) return done;
  }
}

int TCustomComPort::InputCount() {
  if (os_->handle == INVALID_HANDLE_VALUE) throw EComPort(CError_ClearComFailed, ERROR_INVALID_HANDLE);
  const TQueued queued = QueuedBytes();
  if (queued.kind == TQueued::Count)
    return static_cast<int>(std::min<std::uint64_t>(queued.bytes, std::numeric_limits<int>::max()));
  // Not now, or a port that went away and keeps nothing to read: the event thread looks again
  // or announces the hang-up.
  if (queued.kind == TQueued::Busy || PortIsGone(static_cast<DWORD>(queued.error))) return 0;
  throw EComPort(CError_ClearComFailed, queued.error);
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
  if (os_->handle == INVALID_HANDLE_VALUE) throw EComPort(CError_PurgeFailed, ERROR_INVALID_HANDLE);
  if (!input && !output) return;
  const DWORD flags = (input ? PURGE_RXCLEAR : 0) | (output ? PURGE_TXCLEAR : 0);
  if (!::PurgeComm(os_->handle, flags)) throw EComPort(CError_PurgeFailed, ErrorCode(::GetLastError()));
}

void TCustomComPort::PurgeAtClose() {
  if (os_->handle == INVALID_HANDLE_VALUE) return;
  // Abort what is pending, then discard both queues. A port that went away refuses; it is
  // closed all the same.
  ::PurgeComm(os_->handle, PurgeAbortAll);
  ::PurgeComm(os_->handle, PurgeClearAll);
}

// ---- The event thread's wait ---------------------------------------------------------------

void TCustomComPort::OpenStopSignal() {
  TLineEventWait& wait = os_->wait;
  // The stop event (manual reset, unsignalled) and the wait's event (manual reset, signalled).
  if (!wait.stopEvent) wait.stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!wait.event) wait.event = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!wait.stopEvent || !wait.event) throw EComPort(CError_OpenFailed, ErrorCode(::GetLastError()));
  ::ResetEvent(wait.stopEvent);
  wait.overlapped = OVERLAPPED{};
  wait.overlapped.hEvent = wait.event;
  wait.pending = false;
  wait.pendingLimit = RunningUnderWine() ? WatchPeriodMs : INFINITE;
  // A driver that takes no event mask is watched at a short period instead.
  wait.mode = ::SetCommMask(os_->handle, EventsToMask(Events)) ? TComWaitMode::LineEvents : TComWaitMode::Watching;
}

void TCustomComPort::SignalStop() {
  if (!os_->wait.stopEvent) return;
  ::SetEvent(os_->wait.stopEvent);
  ::Sleep(0);
}

void TCustomComPort::CloseStopSignal() {
  // The events stay for the next opening; the thread has ended its wait.
  if (os_->wait.stopEvent) ::ResetEvent(os_->wait.stopEvent);
}

TQueued TCustomComPort::QueuedBytes() const {
  if (os_->handle == INVALID_HANDLE_VALUE) return {TQueued::Failed, 0, ErrorCode(ERROR_INVALID_HANDLE)};
  DWORD waiting = 0;
  if (AskQueue(os_->handle, os_->name, waiting)) return {TQueued::Count, waiting};
  const DWORD error = ::GetLastError();
  return {IsTransient(error) ? TQueued::Busy : TQueued::Failed, 0, ErrorCode(error)};
}

TCustomComPort::TLineEvent TCustomComPort::WaitLineEvent() {
  TLineEventWait& wait = os_->wait;
  for (;;) {
    const bool watch = wait.mode == TComWaitMode::Watching || rx_.Watching();
    switch (watch ? wait.Watch() : wait.ForLineEvent(os_->handle, os_->name)) {
      case TWaitEnd::Stop:
        wait.End(os_->handle);
        return TLineEvent::Stop;
      case TWaitEnd::Gone: return TLineEvent::HangUp;
      case TWaitEnd::Again: continue;
      case TWaitEnd::Look: break;
    }
    switch (rx_.Look([this] { return QueuedBytes(); })) {
      case TRxLook::News: return TLineEvent::RxChar;
      case TRxLook::Gone: return TLineEvent::HangUp;
      case TRxLook::Nothing: break;
    }
  }
}

// ---- Port list -----------------------------------------------------------------------------

void EnumComPorts(std::vector<std::string>& ports) { EnumComPortsUnder(ports, HKEY_LOCAL_MACHINE, SerialCommKey); }

void EnumComPorts(std::vector<std::string>& ports, const std::string& userSubKey) {
  EnumComPortsUnder(ports, HKEY_CURRENT_USER, userSubKey.c_str());
}
