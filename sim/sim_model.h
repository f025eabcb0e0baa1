#pragma once
// The simulated unit itself, without a line: its identity and mode, its 2032-byte
// configuration memory, the firmware it received, the block transfer under way, the restart
// after a firmware upload, and its answers. It has no thread and no clock of its own: every
// event comes with the time, and what the unit sends back comes as writes due at given
// times. Not thread-safe (SimUnit guards it). Qt-free.

// lib
#include "config/config_record.h"
#include "protocol/frame.h"
#include "sim/sim_basics.h"
#include "sim/sim_faults.h"

// Std
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// The unit's own check of a transfer: exclusive OR, then the 32-bit sum (big-endian).
[[nodiscard]] std::array<std::uint8_t, 5> UnitTrailer(std::span<const std::uint8_t> data);

// ---- What the unit saw and did -------------------------------------------------------------

struct SimFrame {
  SimClock::time_point at;  // arrival of its last byte
  std::uint32_t number = 0;  // 1 for the first valid frame since Start
  std::uint8_t command = 0;
  SimBytes bytes;            // the whole frame
  [[nodiscard]] std::span<const std::uint8_t> Payload() const;
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

[[nodiscard]] const char* SimRefusalName(SimRefusal why);

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

// What the unit does about an event.
struct SimReply {
  std::vector<SimWrite> writes;  // in the order made; several may fall due at once
  bool hangUp = false;           // the unit unplugged: the line closes
};

class SimModel {
 public:
  explicit SimModel(SimOptions options = {});

  // The tool opened the port: the unit announces itself once it has settled.
  void OnOpened(SimClock::time_point now);
  // The tool closed it: a transfer under way is dropped.
  void OnClosed();
  // One whole frame for the unit, received at `now` (anything else is logged and ignored).
  [[nodiscard]] SimReply OnFrame(std::span<const std::uint8_t> frame, SimClock::time_point now);
  // What falls due by `now` with no frame: the end of a restart, the next announcement.
  [[nodiscard]] SimReply Tick(SimClock::time_point now);
  // When Tick next has something to do; empty while nothing is scheduled.
  [[nodiscard]] std::optional<SimClock::time_point> NextDeadline() const;

  // Scripting.
  void AddFault(SimFault fault);
  void ClearFaults();  // and speak again after SilentFrom
  void SetMemory(const ConfigImage& memory) { memory_ = memory; }
  void SetAckDelay(std::chrono::milliseconds delay) { options_.ackDelay = delay; }

  // Inspection.
  [[nodiscard]] const ConfigImage& Memory() const { return memory_; }
  [[nodiscard]] const std::optional<SimBytes>& Firmware() const { return firmware_; }  // the last received whole
  [[nodiscard]] const TDeviceInfo& Info() const { return info_; }  // what the unit announces now
  [[nodiscard]] bool ToolConnected() const { return connected_; }
  [[nodiscard]] bool Restarting() const { return restartEnd_.has_value(); }
  [[nodiscard]] const SimCounters& Counters() const { return counters_; }  // of the unit's own events
  [[nodiscard]] const std::vector<SimFrame>& Frames() const { return frames_; }
  [[nodiscard]] const SimOptions& Options() const { return options_; }
  // The lines logged since the last call, oldest first.
  [[nodiscard]] std::vector<std::string> TakeLog();

 private:
  struct Transfer {
    std::uint8_t command = 0;
    std::uint16_t token = 0;
    std::uint16_t count = 0;
    std::uint16_t last = 0;  // highest index accepted
    std::map<std::uint16_t, SimBytes> blocks;
    bool done = false;       // a configuration transfer that went through
  };

  [[nodiscard]] bool Announcing() const;
  [[nodiscard]] SimBytes AnnouncementFrame() const;
  // The answer to a frame (empty when there is none).
  std::optional<SimBytes> Answer(std::uint8_t command, std::span<const std::uint8_t> payload,
                                 SimClock::time_point now);
  std::optional<SimBytes> AnswerBlock(std::uint8_t command, std::span<const std::uint8_t> payload,
                                      SimClock::time_point now);
  std::optional<SimBytes> AnswerRead(std::span<const std::uint8_t> payload);
  SimBytes Refuse(SimRefusal why);

  SimOptions options_;
  TDeviceInfo info_;
  ConfigImage memory_{};
  std::optional<SimBytes> firmware_;
  std::optional<Transfer> transfer_;

  bool connected_ = false;
  bool talkedTo_ = false;  // announcements stop until the port is opened again or the unit restarts
  bool silent_ = false;
  std::optional<SimClock::time_point> nextAnnounce_;
  std::optional<SimClock::time_point> restartEnd_;

  SimCounters counters_;
  std::vector<SimFrame> frames_;
  std::vector<std::string> log_;
};
