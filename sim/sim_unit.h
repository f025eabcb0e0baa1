#pragma once
// The simulated unit: a ZPi on a fresh pseudo-terminal. It announces itself, takes block
// transfers (firmware and configuration), serves configuration reads from its own 2032-byte
// memory, records everything it receives and can be told to misbehave. It runs its own
// thread; every public method is safe to call from any thread. Qt-free.

// lib
#include "config/config_record.h"
#include "protocol/frame.h"

// Std
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using SimClock = std::chrono::steady_clock;
using SimBytes = std::vector<std::uint8_t>;

// ---- Stream reassembly -------------------------------------------------------------------

// Cuts a byte stream into frames for the unit, the way the unit's receive buffer does: bytes
// are kept until a whole frame is in, anything that cannot start a good frame is skipped one
// byte at a time, and a partial frame left alone for too long is given up.
class FrameAssembler {
 public:
  struct Piece {
    enum Kind {
      Frame,         // a complete frame addressed to the unit (bytes hold it)
      OtherAddress,  // a complete, well-summed frame addressed elsewhere
      Garbage,       // bytes skipped while looking for a start byte
    } kind = Garbage;
    SimBytes bytes;
  };

  // Appends bytes and returns what is complete now.
  std::vector<Piece> Push(std::span<const std::uint8_t> bytes, SimClock::time_point now);
  // Gives up a partial frame that has waited since before `now - patience`.
  std::vector<Piece> Expire(SimClock::time_point now, SimClock::duration patience);
  // When Expire would next have something to do; empty while nothing is pending.
  [[nodiscard]] std::optional<SimClock::time_point> PendingSince() const;
  void Clear();
  [[nodiscard]] std::size_t Buffered() const { return buffer_.size(); }

 private:
  std::vector<Piece> Scan();
  void Skip(std::size_t n, std::vector<Piece>& out);

  SimBytes buffer_;
  SimClock::time_point lastInput_{};
};

// ---- Options -----------------------------------------------------------------------------

enum class SimFaultKind {
  DropAnswer,       // handle the frame, send nothing back
  Refuse,           // refuse the frame (command 3) without handling it
  ShortAnswer,      // handle it, send 5 bytes (a cut answer) instead of the answer
  BadSumAnswer,     // handle it, send the answer with a wrong sum
  NoStartAnswer,    // handle it, send the answer with its start byte replaced
  TwoFrames,        // the answer and an extra frame (the device information) in one write
  SplitAnswer,      // the answer in two writes, `param` ms apart (default 20)
  WrongAddress,     // the answer with address byte `param` (default 0x11)
  HangUp,           // close the line instead of answering: the unit unplugged
  SilentFrom,       // from this frame on, say nothing at all
  Reannounce,       // after the answer, announce again (a unit reset mid-transfer)
  OperatingNotice,  // after the answer, send the operating-mode notice (command 11)
  AlterWrite,       // from this frame on, store a configuration write with byte `param` (default
                    // 19, VMX) one higher and its sum made good: acknowledged, read back altered
};

// A fault applied when the unit receives its `frame`-th valid frame from the tool
// (counted from 1 since Start, over every connection). Several may share a frame.
struct SimFault {
  SimFaultKind kind = SimFaultKind::DropAnswer;
  std::uint32_t frame = 1;
  std::uint32_t param = 0;
};

struct SimOptions {
  std::uint8_t mode = 1;  // 0: operating mode
  std::uint8_t kind = 4;  // version byte 1
  std::uint8_t versionByte2 = 1;
  std::uint8_t firmwareMajor = 2;  // 255.255: no firmware
  std::uint8_t firmwareMinor = 46;
  std::array<std::uint32_t, 3> id{0x5A500001u, 0x00C0FFEEu, 0x00000246u};  // lowest word first
  std::uint32_t configBaseAddress = 0x00010000u;
  std::string textA = "ZPI-SIM";
  std::string textB = "BENCH";
  std::optional<ConfigImage> memory;  // empty: the encoded DefaultConfig

  // The firmware the unit runs after a firmware transfer.
  std::uint8_t restartMajor = 2;
  std::uint8_t restartMinor = 46;

  std::chrono::milliseconds ackDelay{0};         // before every answer
  std::chrono::milliseconds restartDelay{300};   // silence after a firmware transfer
  std::chrono::milliseconds announcePeriod{1000};
  std::chrono::milliseconds settleDelay{20};     // from the tool opening the port to the first announcement
  std::chrono::milliseconds stalePartial{100};   // a partial frame this old is given up

  std::vector<SimFault> faults;
  bool keepRecords = true;  // false: counters only (a long-running zpisim)
};

// The configuration memory a unit starts with, by name: "default", "ventora", "invalid"
// (a bad signature with a good sum), "blank" (all 0xFF) or "file:PATH" (exactly 2032 bytes).
// Empty with `error` set when the name or the file is not usable.
[[nodiscard]] std::optional<ConfigImage> StartImage(std::string_view name, std::string* error = nullptr);

// ---- What the unit saw and did -------------------------------------------------------------

struct SimFrame {
  SimClock::time_point at;  // arrival of its last byte
  std::uint32_t number = 0;  // 1 for the first valid frame since Start
  std::uint8_t command = 0;
  SimBytes bytes;            // the whole frame
  [[nodiscard]] std::span<const std::uint8_t> Payload() const;
};

struct SimChunk {
  SimClock::time_point at;
  SimBytes bytes;
};

// Why a block frame or a read request was refused.
enum class SimRefusal {
  None,
  BadPayload,    // too short for its command
  NoTransfer,    // a later block with no transfer under way
  WrongKind,     // a configuration block in a firmware transfer or the other way round
  WrongToken,
  WrongCount,    // count differs from the transfer's, is 0, or index above it
  WrongIndex,    // neither 1, the same again nor the next
  WrongSize,     // data length does not fit the index
  BadTrailer,
  WrongLength,   // a configuration that is not 2032 bytes
  OutOfRange,    // a read outside the memory, or of 0 bytes
  FaultOption,   // refused on purpose
};

struct SimCounters {
  std::uint32_t frames = 0;         // valid frames from the tool
  std::uint32_t announcements = 0;  // device information sent
  std::uint32_t acks = 0;
  std::uint32_t refusals = 0;
  std::uint32_t readAnswers = 0;
  std::uint32_t jumps = 0;
  std::uint32_t restarts = 0;
  std::uint32_t configWrites = 0;   // memory replaced
  std::uint32_t garbageBytes = 0;   // skipped while resynchronising
  std::uint32_t otherAddress = 0;   // good frames not addressed to the unit
  std::uint32_t connections = 0;    // times the tool opened the port
  std::uint32_t disconnections = 0;
  std::uint32_t writes = 0;         // writes to the line
  SimRefusal lastRefusal = SimRefusal::None;
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
  struct Outgoing {
    SimClock::time_point due;
    SimBytes bytes;
    bool announcement = false;  // counted once written
  };
  struct Transfer {
    std::uint8_t command = 0;
    std::uint16_t token = 0;
    std::uint16_t count = 0;
    std::uint16_t last = 0;  // highest index accepted
    std::map<std::uint16_t, SimBytes> blocks;
    bool done = false;       // a configuration transfer that went through
  };

  void Run();
  void Step(std::vector<std::string>& log);
  void OnConnected(SimClock::time_point now, std::vector<std::string>& log);
  void OnDisconnected(std::vector<std::string>& log);
  void OnFrame(const SimBytes& frame, SimClock::time_point now, std::vector<std::string>& log);
  // The answer to a frame (empty when there is none) and what happened to it.
  std::optional<SimBytes> Answer(std::uint8_t command, std::span<const std::uint8_t> payload,
                                 SimClock::time_point now, std::vector<std::string>& log);
  std::optional<SimBytes> AnswerBlock(std::uint8_t command, std::span<const std::uint8_t> payload,
                                      SimClock::time_point now, std::vector<std::string>& log);
  std::optional<SimBytes> AnswerRead(std::span<const std::uint8_t> payload, std::vector<std::string>& log);
  SimBytes Refuse(SimRefusal why, std::vector<std::string>& log);
  [[nodiscard]] SimBytes AnnouncementFrame() const;
  void Announce(SimClock::time_point now, std::vector<std::string>& log);
  void Queue(SimClock::time_point due, SimBytes bytes, bool announcement = false);
  void Flush(SimClock::time_point now, std::vector<std::string>& log);
  bool WriteNow(const SimBytes& bytes, std::vector<std::string>& log);
  void HangUpLine(std::vector<std::string>& log);
  void Changed();

  SimOptions options_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::uint64_t generation_ = 0;
  std::function<void(const std::string&)> logger_;

  int master_ = -1;
  int wake_ = -1;  // eventfd that stops the thread
  std::string path_;
  std::thread thread_;
  bool stopping_ = false;

  // Line state.
  bool connected_ = false;
  bool hungUp_ = false;
  bool silent_ = false;
  std::optional<SimClock::time_point> connectedAt_;
  bool talkedTo_ = false;
  std::optional<SimClock::time_point> nextAnnounce_;
  std::optional<SimClock::time_point> restartEnd_;
  FrameAssembler assembler_;
  std::deque<Outgoing> outgoing_;

  // Unit state.
  TDeviceInfo info_;
  ConfigImage memory_{};
  std::optional<Transfer> transfer_;

  // Records.
  std::vector<SimFrame> frames_;
  std::vector<SimChunk> received_;
  std::vector<SimChunk> written_;
  std::vector<std::string> log_;
  SimCounters counters_;
};

[[nodiscard]] const char* SimRefusalName(SimRefusal why);
