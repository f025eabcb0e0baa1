#pragma once
// The faults the simulated unit can be told to inject, and how they change what it sends
// back: functions of the frame's number, the fault list and the answer alone. Qt-free.

// lib
#include "config/config_record.h"
#include "sim/sim_basics.h"

// Std
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// One write to the line, made no earlier than `due`.
struct SimWrite {
  SimClock::time_point due;
  SimBytes bytes;
  bool announcement = false;  // carries the device information: counted once written
  bool operator==(const SimWrite&) const = default;
};

// The faults that concern frame `number`.
struct SimFaultsAt {
  std::vector<SimFault> set;                // set for this very frame, in the list's order
  std::optional<std::uint32_t> silentFrom;  // the first SilentFrom at or before it: say nothing
  // The first fault of `kind` set for the frame; null when there is none.
  [[nodiscard]] const SimFault* Find(SimFaultKind kind) const;
};
[[nodiscard]] SimFaultsAt FaultsAt(std::span<const SimFault> faults, std::uint32_t number);

// The writes that carry `answer` (none: the frame has no answer) to the tool at `due`, as the
// faults of frame `number` change them: dropped, readdressed, with a bad sum, without its
// start byte, cut, joined with `announcement`, split; then a second announcement or the
// operating-mode notice. One line per fault applied goes to `log`.
[[nodiscard]] std::vector<SimWrite> FaultedAnswer(const SimFaultsAt& faults, std::uint32_t number,
                                                  std::optional<SimBytes> answer, const SimBytes& announcement,
                                                  SimClock::time_point due, std::vector<std::string>& log);

// A configuration write as the unit stores it at frame `number`: every AlterWrite in force by
// then raises its byte by one and makes the image's own sum good again.
void AlterStoredImage(ConfigImage& image, std::span<const SimFault> faults, std::uint32_t number,
                      std::vector<std::string>& log);

// Makes the image's own sum (the 24-bit sum of the 36 bytes before it) good again.
void FixImageSum(ConfigImage& image);
