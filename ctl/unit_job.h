#pragma once
// What zpictl does with one unit, on its own thread: open the port, take in the unit's
// identity, and, by command, report it, serve the unit as the window does (firmware upload
// when older than 2.46, configuration read, replacement of an invalid one), read its
// configuration, or write a configuration and read it back to verify it. Every wait has a
// limit; a unit that goes silent, is unplugged, refuses, runs in operating mode or fails the
// verification ends its job alone with its reason. Qt-free.

// lib
#include "config/config_record.h"
#include "protocol/frame.h"
#include "service/unit_session.h"

// Std
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class JobCommand { Info, Service, Read, Write };

// Why a job failed: the tool's own four "ERRO #0x0N" codes, then zpictl's.
enum JobError : int {
  JobOk = 0,
  JobNoConnection = 1,      // ERRO #0x01: the port was gone when the transfer ticked
  JobTransferGaveUp = 2,    // ERRO #0x02: the unit stopped acknowledging
  JobReadNoConnection = 3,  // ERRO #0x03
  JobReadGaveUp = 4,        // ERRO #0x04: the unit stopped answering the read
  JobPortUnavailable = 10,  // the port could not be opened
  JobNoAnnouncement = 11,   // no identity within the time limit
  JobOperatingMode = 12,
  JobKindNotServed = 13,
  JobUnplugged = 14,        // the port hung up or failed
  JobVerifyFailed = 15,     // what was read back is not what was written
  JobInvalidConfig = 16,    // a read found an invalid configuration
  JobInterrupted = 17,      // Ctrl+C
  JobTimedOut = 18,         // the job's overall limit
  JobInternalFault = 19,    // a fault of zpictl itself, not of the unit or its cable
};

// What a code means, in a few words ("the unit stopped acknowledging (ERRO #0x02)").
[[nodiscard]] std::string_view JobErrorName(int code);

struct JobRequest {
  JobCommand command = JobCommand::Service;
  std::string port;
  // Service: written whatever the unit holds (--config); Write: what to write.
  std::optional<ConfigRecord> record;
  std::string recordName = "file";  // how the record is named in messages
  bool ventora = false;             // Service: the Ventora preset is forced and replaces
  std::chrono::milliseconds identityTimeout{10000};  // also for the restart after an upload
  std::chrono::milliseconds limit{600000};           // the whole job
  SessionSettings timing;  // tick intervals (the engine's by default)
};

// How long one step of a job took: "identify", "upload", "restart", "read", "write", "verify".
struct JobStep {
  std::string name;
  std::chrono::milliseconds took{0};
};

struct JobResult {
  std::string port;
  bool ok = false;
  int code = JobOk;
  std::string error;        // the reason, as the tool or zpictl words it
  std::string unfinished;   // what was under way when the job ended early
  std::optional<TDeviceInfo> unit;   // as it announced itself last
  std::optional<TDeviceInfo> first;  // as it announced itself first (before an upload)
  std::vector<std::string> done;  // "identified", "upload", "read", "write <what>", "verify"
  std::vector<std::string> notes;  // what went otherwise than usual yet did not fail the unit
  std::optional<ConfigRecord> read;  // Read: the unit's configuration
  std::string written;                      // "default", "ventora" or the file's name
  std::optional<ConfigImage> writtenImage;  // the image sent, once its write began
  bool verified = false;
  bool repeat = false;  // a station had served this unit's id before, in the same run
  std::vector<JobStep> steps;  // in order
  std::chrono::milliseconds took{0};  // the whole job, from opening the port
};

// The note of an upload completed by the restarted unit's announcement.
inline constexpr std::string_view LastAckLostNote = "upload completed; last acknowledgement lost";

// What a job reports as it goes: from its own thread or its port's, one call at a time per
// job; an observer shared by several jobs is called from several threads at once.
class JobObserver {
 public:
  virtual ~JobObserver() = default;
  virtual void Identified(const std::string& port, const TDeviceInfo& info) = 0;
  // phase: "upload", "read", "write", "verify"; position of maximum frames or requests.
  virtual void Progress(const std::string& port, std::string_view phase, int position, int maximum) = 0;
  virtual void ConfigRead(const std::string& port, bool valid) = 0;
  virtual void Written(const std::string& port, std::string_view what) = 0;
  virtual void Verified(const std::string& port) = 0;
  virtual void Log(const std::string& port, std::string_view line) = 0;  // the window's log line
  virtual void Finished(const JobResult& result) = 0;
};

// Names of the record's fields that differ, in image order.
[[nodiscard]] std::vector<std::string> DifferingFields(const ConfigRecord& a, const ConfigRecord& b);

class UnitJob final : private SessionListener {
 public:
  UnitJob(JobRequest request, JobObserver& observer);
  ~UnitJob() override;
  UnitJob(const UnitJob&) = delete;
  UnitJob& operator=(const UnitJob&) = delete;

  // Runs the job to its end and reports it (observer.Finished); the port is closed after.
  JobResult Run();
  // Any thread: ends the job soon, as interrupted.
  void Interrupt();

 private:
  enum class Phase { Identify, Upload, Restart, Read, Write, ReadBack, Done };

  // SessionListener
  void Log(std::string_view line) override;
  void Progress(int position, int maximum) override;
  void Failure(const ServiceFailure& failure) override;
  void Identified(const TDeviceInfo& info) override;
  void ConfigRead(const DecodedConfig& decoded) override;
  void TransferComplete(std::uint8_t kind) override;
  void LastAckLost() override { lastAckLost_ = true; }
  void OperatingMode(const TDeviceInfo* identity) override;
  void Closed(std::string_view why) override;
  void Fault(std::string_view what) override;

  void Succeed();
  void Fail(int code, std::string error);
  void StartWrite(const ConfigRecord& record, std::string what);
  [[nodiscard]] std::string Unfinished() const;
  [[nodiscard]] std::string_view PhaseName() const;
  void SetPhase(Phase phase, std::optional<std::chrono::milliseconds> limit = std::nullopt);
  void EndStep();  // the phase in hand is over: its time goes into the result

  JobRequest request_;
  JobObserver& observer_;
  std::unique_ptr<UnitSession> session_;
  JobResult result_;
  bool finished_ = false;
  Phase phase_ = Phase::Identify;
  std::optional<UnitSession::Clock::time_point> phaseDeadline_;
  bool rescheduled_ = false;  // the phase (and its deadline) changed while the owner waited
  UnitSession::Clock::time_point started_{};
  UnitSession::Clock::time_point phaseStarted_{};
  bool uploaded_ = false;
  bool lastAckLost_ = false;
  std::optional<ConfigRecord> written_;  // what the verification compares with
  std::string writing_;                  // and how it is named
  // A step the job takes outside the engine's callbacks, on the next turn of its loop.
  std::function<void()> next_;
};
