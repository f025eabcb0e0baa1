#pragma once
// The serial port component: one port, fixed line settings, blocking reads and writes, and
// an event thread that hands every received-data event to the port's owner.
// Qt-free: the hand-off is the TComHandOff interface. The window's queued hand-off runs the
// handlers on the owner's thread (the user-interface thread); TLockedHandOff runs them on the
// port's own thread while the owner waits; tests use either with a plain loop.

// lib
#include "serial/rx_tally.h"

// Std
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// ---- Settings ---------------------------------------------------------------------------

enum TBaudRate { brCustom, br9600, br19200, br38400, br57600, br115200 };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// Line events, in the order of the enumeration; each maps to one bit of the system's mask.
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
using TComEvents = std::uint16_t;  // bit (1 << TComEvent) set for each event
constexpr TComEvents AllComEvents = (1u << 10) - 1;
// The system's event mask for a set of events (all ten: 0x05FF).
[[nodiscard]] std::uint32_t EventsToMask(TComEvents events);
[[nodiscard]] TComEvents MaskToEvents(std::uint32_t mask);

struct TComParity {
  TParityBits Bits = prNone;
  bool Check = false;
  bool Replace = false;
  char ReplaceChar = 0;
};

struct TComFlowControl {
  bool OutCTSFlow = false;
  bool OutDSRFlow = false;
  TDTRFlowControl ControlDTR = dtrDisable;
  TRTSFlowControl ControlRTS = rtsDisable;
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  bool DSRSensitivity = false;
  bool TxContinueOnXoff = false;
  char XonChar = 17;
  char XoffChar = 19;
};

struct TComBuffer {
  int InputSize = 1024;
  int OutputSize = 1024;
};

// Milliseconds; -1 means "no limit" (passed to the system as 0xFFFFFFFF).
struct TComTimeouts {
  std::int32_t ReadInterval = -1;
  std::int32_t ReadTotalMultiplier = 0;
  std::int32_t ReadTotalConstant = 0;
  std::int32_t WriteTotalMultiplier = 100;
  std::int32_t WriteTotalConstant = 1000;
};

// The total time limit of a read or write of `count` bytes, multiplier * count + constant;
// none when both are 0 or either is -1.
[[nodiscard]] std::optional<std::chrono::milliseconds> TotalLimit(std::int32_t multiplier, std::int32_t constant,
                                                                  int count);

// ---- Errors -----------------------------------------------------------------------------

enum EComPortCode {
  CError_OpenFailed = 1,
  CError_WriteFailed = 2,
  CError_ReadFailed = 3,
  CError_PurgeFailed = 5,
  CError_SetStateFailed = 7,
  CError_TimeoutsFailed = 8,
  CError_SetupComFailed = 9,
  CError_ClearComFailed = 10,
  CError_RegError = 23,
};

// The failure of a port operation: the text of the code followed by
// " (win error code: %d)" with the system's error code (errno on POSIX, -1 when none).
class EComPort : public std::runtime_error {
 public:
  EComPort(int code, int winCode);
  [[nodiscard]] int Code() const { return code_; }
  [[nodiscard]] int WinCode() const { return winCode_; }

 private:
  int code_;
  int winCode_;
};

// The English text of a code, before the message-catalogue lookup.
[[nodiscard]] const char* ComErrorText(int code);

// ---- The hand-off to the owner ----------------------------------------------------------

// Receives a failure that a job raised, after the job's waiter has been released.
using TComErrorSink = std::function<void(std::exception_ptr)>;

class TComHandOff {
 public:
  virtual ~TComHandOff() = default;
  // Event thread: have `job` run where the owner lets it (on the owner's thread, or on this
  // one while the owner waits) and block until it has run. Returns early, without waiting
  // for the job, once `stop` is set (Interrupt wakes the wait), so a port closed from inside
  // a running job cannot deadlock. A failure raised by the job releases the waiter first and
  // then goes to `onError`, or out of RunQueued when that is empty.
  virtual void RunAndWait(std::function<void()> job, const std::atomic<bool>& stop,
                          TComErrorSink onError = {}) = 0;
  // Owner's thread: run the jobs queued so far.
  virtual void RunQueued() = 0;
  // Wake a RunAndWait that should look at its stop flag again.
  virtual void Interrupt() = 0;
};

// A queue-based hand-off: RunAndWait queues the job and calls `wake`, which must make the
// owner's thread call RunQueued soon (the window posts a queued call; tests pump a loop).
class TQueuedHandOff : public TComHandOff {
 public:
  explicit TQueuedHandOff(std::function<void()> wake);
  ~TQueuedHandOff() override;
  void RunAndWait(std::function<void()> job, const std::atomic<bool>& stop,
                  TComErrorSink onError = {}) override;
  void RunQueued() override;
  void Interrupt() override;
  // Jobs waiting to run (for tests and for Close).
  [[nodiscard]] std::size_t Pending() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// A hand-off for an owner without a message loop: the event thread runs each job itself while
// it holds `lock`, which the owner's thread holds whenever it is not waiting for the port, so
// the owner's state is still touched by one thread at a time. After each job `ran` runs,
// still under the lock (to wake the owner when the job changed what it waits for). A job that
// cannot take the lock before the port stops is dropped, as is the failure of `onError`.
class TLockedHandOff : public TComHandOff {
 public:
  TLockedHandOff(std::timed_mutex& lock, std::function<void()> ran);
  void RunAndWait(std::function<void()> job, const std::atomic<bool>& stop,
                  TComErrorSink onError = {}) override;
  void RunQueued() override {}
  void Interrupt() override {}

 private:
  std::timed_mutex& lock_;
  std::function<void()> ran_;
};

// ---- The component ----------------------------------------------------------------------

class TComThread;
#if defined(_WIN32)
enum class TComWaitMode;  // comport_win32.h
#endif

class TCustomComPort {
 public:
  TCustomComPort();
  virtual ~TCustomComPort();  // closes an open port
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // Properties. On POSIX "ttyACM0" opens /dev/ttyACM0 and a name starting with "/" is a path.
  std::string Port = "COM123456";
  TBaudRate BaudRate = br9600;
  TDataBits DataBits = dbEight;
  TStopBits StopBits = sbOneStopBit;
  TComParity Parity;
  TComFlowControl FlowControl;
  TComBuffer Buffer;
  TComTimeouts Timeouts;
  TComEvents Events = AllComEvents;

  // (sender, bytes waiting in the input queue); runs where the hand-off runs its jobs (the
  // owner's thread under the queued hand-off; the event thread itself under TLockedHandOff,
  // while the owner waits), one at a time.
  std::function<void(TCustomComPort&, int)> OnRxChar;
  // The other side hung up (unit unplugged). Runs through the hand-off as OnRxChar does,
  // once; the event thread then ends. Closing must not be done from inside it.
  std::function<void(TCustomComPort&)> OnHangUp;
  // A failure raised by a handler run through the hand-off. Without it, the failure is
  // passed on to whoever called RunQueued.
  std::function<void(std::exception_ptr)> OnHandlerError;

  // The hand-off used by the event thread; required before opening.
  void SetHandOff(std::shared_ptr<TComHandOff> handOff);
  [[nodiscard]] TComHandOff* HandOff() const { return handOff_.get(); }

  [[nodiscard]] bool Connected() const { return connected_; }
  void SetConnected(bool value);  // true: Open, false: Close; equal value does nothing
  void Open();
  void Close();

  [[nodiscard]] std::int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(std::int32_t rate);  // unchanged value applies nothing
  // The rate the open port reports back from the system (0 while closed).
  [[nodiscard]] std::int32_t AppliedBaudRate() const;

  void ClearBuffer(bool input, bool output);
  // Blocking; return the count transferred, which is short when a time limit ended them.
  int Read(void* buffer, int count);
  int Write(const void* buffer, int count);
  // Bytes waiting in the driver's input queue.
  [[nodiscard]] int InputCount();

 protected:
  virtual void CreateHandle();
  virtual void DestroyHandle();
  virtual void SetupComPort();
  virtual void ApplyDCB();
  virtual void ApplyTimeouts();
  virtual void ApplyBuffer();
  virtual void DoRxChar(int count);

 private:
  friend class TComThread;
#if defined(_WIN32)
  friend TComWaitMode ComPortWaitMode(const TCustomComPort& port);
#endif
  // What ended one wait of the event thread.
  enum class TLineEvent { RxChar, HangUp, Stop };

  void CallRxChar(int& announced);
  void CallHangUp();
  void ReportHandlerError(std::exception_ptr error);
  void StartThread();
  void StopThread();

  // Operating-system side (comport_posix.cpp / comport_win32.cpp).
  void OpenStopSignal();     // owner's thread, before the event thread starts
  void SignalStop();         // owner's thread, any time
  void CloseStopSignal();    // owner's thread, after the event thread has ended
  TLineEvent WaitLineEvent();  // event thread: block until data, hang-up or stop
  // Bytes waiting in the driver's input queue (asked through the fault seam).
  [[nodiscard]] TQueued QueuedBytes() const;
  void PurgeAtClose();       // owner's thread, closing: discard both queues, failures ignored

  bool connected_ = false;
  bool closing_ = false;
  std::int32_t customBaudRate_ = 9600;
  std::shared_ptr<TComHandOff> handOff_;
  std::unique_ptr<TComThread> thread_;
  TRxTally rx_;              // what was received, handed out and announced
  struct Os;                 // the system's handle and what goes with it
  struct OsDeleter {
    void operator()(Os* os) const;
  };
  static std::unique_ptr<Os, OsDeleter> MakeOs();
  std::unique_ptr<Os, OsDeleter> os_;
};

class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

// Replaces `ports` with the names of the system's serial ports, sorted ignoring case.
// POSIX: the entries of /sys/class/tty with a "device" link (short names, "ttyACM0"),
// leaving out serial-core ports whose "type" reads 0 (legacy ttyS slots with no UART
// behind them), plus the paths listed in the colon-separated environment variable
// ZPITOOL_EXTRA_PORTS (as written; empty entries ignored). Failure: EComPort code 23.
void EnumComPorts(std::vector<std::string>& ports);
#if !defined(_WIN32)
// The same, reading the tty class from `ttyClassDir` instead of /sys/class/tty.
void EnumComPorts(std::vector<std::string>& ports, const std::string& ttyClassDir);
#else
// Windows: the data of the values of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.
// The same, reading the values of `userSubKey` under HKEY_CURRENT_USER instead.
void EnumComPorts(std::vector<std::string>& ports, const std::string& userSubKey);
#endif
// Sorts port names as text ignoring case (COM1, COM10, COM2); equal names keep their order.
void SortComPortNames(std::vector<std::string>& names);

// The message-catalogue lookup of the component's texts (text domain "cport").
[[nodiscard]] std::string ComTranslate(const char* text);
