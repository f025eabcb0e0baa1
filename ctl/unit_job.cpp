#include "ctl/unit_job.h"

// lib
#include "config/config_fields.h"
#include "config/config_file.h"
#include "protocol/service_rules.h"
#include "transfer/transfer_core.h"

// Std
#include <algorithm>

using namespace std::chrono_literals;

std::vector<std::string> DifferingFields(const ConfigRecord& a, const ConfigRecord& b) {
  std::vector<std::string> names;
  for (const NumericField& f : NumericFields)
    if (f.Member.Get(a) != f.Member.Get(b)) names.emplace_back(f.Name);
  for (const ChoiceField& box : ChoiceFields)
    if (ChoiceIn(a, box) != ChoiceIn(b, box)) names.emplace_back(box.Name);
  return names;
}

std::string_view JobErrorName(int code) {
  switch (code) {
    case JobOk: return "succeeded";
    case JobNoConnection: return "no connection (ERRO #0x01)";
    case JobTransferGaveUp: return "the unit stopped acknowledging (ERRO #0x02)";
    case JobReadNoConnection: return "no connection for the read (ERRO #0x03)";
    case JobReadGaveUp: return "the unit stopped answering the read (ERRO #0x04)";
    case JobPortUnavailable: return "the port cannot be opened";
    case JobNoAnnouncement: return "no announcement in time";
    case JobOperatingMode: return "operating mode";
    case JobKindNotServed: return "a kind the tool does not serve";
    case JobUnplugged: return "unplugged";
    case JobVerifyFailed: return "verification failed";
    case JobInvalidConfig: return "an invalid configuration read";
    case JobInterrupted: return "interrupted";
    case JobTimedOut: return "over the job's time limit";
    case JobInternalFault: return "a fault of zpictl itself";
    default: return "an unknown code";
  }
}

UnitJob::UnitJob(JobRequest request, JobObserver& observer) : request_(std::move(request)), observer_(observer) {
  result_.port = request_.port;
  SessionSettings settings = request_.timing;
  settings.actOnIdentity = request_.command == JobCommand::Service;
  settings.forceVentora = request_.ventora;
  settings.rewriteInvalid = false;  // the job decides what replaces an invalid configuration
  settings.announcementCompletesUpload = true;
  session_ = std::make_unique<UnitSession>(request_.port, static_cast<SessionListener&>(*this), settings);
}

UnitJob::~UnitJob() = default;

void UnitJob::Interrupt() { session_->Interrupt(); }

JobResult UnitJob::Run() {
  started_ = phaseStarted_ = UnitSession::Clock::now();
  const auto end = started_ + request_.limit;
  try {
    session_->Open();
  } catch (const EComPort& e) {
    SetPhase(Phase::Done);  // nothing was under way
    Fail(JobPortUnavailable, std::string("the port cannot be opened: ") + e.what());
  } catch (const std::exception& e) {
    SetPhase(Phase::Done);
    Fault(e.what());
  }
  SetPhase(Phase::Identify, request_.identityTimeout);
  while (!finished_) {
    const auto until = phaseDeadline_ ? std::min(end, *phaseDeadline_) : end;
    try {
      // A phase that starts or ends on the port's thread moves the deadline: look again.
      rescheduled_ = false;
      session_->RunUntil([this] { return finished_ || next_ || rescheduled_; }, until);
      if (next_) {
        auto step = std::move(next_);
        next_ = nullptr;
        step();
        continue;
      }
    } catch (const EComPort& e) {
      Fail(JobUnplugged, std::string("the port failed: ") + e.what());
    } catch (const std::exception& e) {
      Fault(e.what());
    }
    if (finished_) break;
    if (session_->Interrupted()) {
      Fail(JobInterrupted, "interrupted");
    } else if (UnitSession::Clock::now() >= end) {
      Fail(JobTimedOut, "the job took longer than its limit");
    } else if (phaseDeadline_ && UnitSession::Clock::now() >= *phaseDeadline_) {
      Fail(JobNoAnnouncement, phase_ == Phase::Restart ? "the unit did not announce itself after the upload"
                                                       : "the unit did not announce itself");
    }
  }
  try {
    session_->Close();
  } catch (...) {
    // A vanished port may fail its last purge; it is closed all the same.
  }
  result_.took = std::chrono::duration_cast<std::chrono::milliseconds>(UnitSession::Clock::now() - started_);
  observer_.Finished(result_);
  return result_;
}

void UnitJob::EndStep() {
  const auto now = UnitSession::Clock::now();
  const std::string_view name = phase_ == Phase::Identify ? "identify" : phase_ == Phase::Restart ? "restart" : PhaseName();
  if (!name.empty() && !finished_)
    result_.steps.push_back({std::string(name), std::chrono::duration_cast<std::chrono::milliseconds>(now - phaseStarted_)});
  phaseStarted_ = now;
}

void UnitJob::SetPhase(Phase phase, std::optional<std::chrono::milliseconds> limit) {
  if (phase != phase_) EndStep();
  phase_ = phase;
  rescheduled_ = true;
  if (limit)
    phaseDeadline_ = UnitSession::Clock::now() + *limit;
  else
    phaseDeadline_.reset();
}

void UnitJob::Succeed() {
  if (finished_) return;
  EndStep();
  finished_ = true;
  phase_ = Phase::Done;
  result_.ok = true;
}

void UnitJob::Fail(int code, std::string error) {
  if (finished_) return;
  result_.unfinished = Unfinished();
  EndStep();
  finished_ = true;
  phase_ = Phase::Done;
  result_.ok = false;
  result_.code = code;
  result_.error = std::move(error);
}

std::string_view UnitJob::PhaseName() const {
  switch (phase_) {
    case Phase::Upload: return "upload";
    case Phase::Read: return "read";
    case Phase::Write: return "write";
    case Phase::ReadBack: return "verify";
    default: return "";
  }
}

std::string UnitJob::Unfinished() const {
  const TransferState& t = session_->Engine().Transfer();
  const std::string at = std::to_string(t.Index) + " of " + std::to_string(t.BlockCount);
  switch (phase_) {
    case Phase::Identify: return result_.unit ? "" : "waiting for the unit's announcement";
    case Phase::Upload: return "firmware upload at frame " + at;
    case Phase::Restart: return "waiting for the unit to restart after the firmware upload";
    case Phase::Read: return "configuration read at request " + at;
    case Phase::Write: return "configuration write at frame " + at;
    case Phase::ReadBack: return "verification read at request " + at;
    case Phase::Done: break;
  }
  return "";
}

void UnitJob::StartWrite(const ConfigRecord& record, std::string what) {
  written_ = record;
  writing_ = std::move(what);
  SetPhase(Phase::Write);
  next_ = [this] {
    result_.done.push_back("write " + writing_);
    result_.written = writing_;
    result_.writtenImage = EncodeConfigImage(*written_).image;
    session_->Engine().WriteConfig(*written_);
  };
}

// ---- What the unit's session reports ------------------------------------------------------

void UnitJob::Log(std::string_view line) { observer_.Log(request_.port, line); }

void UnitJob::Progress(int position, int maximum) {
  const std::string_view phase = PhaseName();
  if (!phase.empty() && !finished_) observer_.Progress(request_.port, phase, position, maximum);
}

void UnitJob::Failure(const ServiceFailure& failure) {
  Fail(failure.code, failure.title + ": " + OneLine(failure.text));
}

void UnitJob::Identified(const TDeviceInfo& info) {
  if (phase_ != Phase::Identify && phase_ != Phase::Restart) return;
  result_.unit = info;
  if (!result_.first) result_.first = info;
  observer_.Identified(request_.port, info);
  if (phase_ == Phase::Identify) result_.done.push_back("identified");
  if (request_.command == JobCommand::Info) return Succeed();
  if (ActionFor(info) == IdentityAction::None)
    return Fail(JobKindNotServed, "a unit of kind " + std::to_string(info.Version[0]) + " is not one this tool serves");
  switch (request_.command) {
    case JobCommand::Service:
      // The engine has started what the identity calls for.
      if (ActionFor(info) == IdentityAction::UploadFirmware) {
        if (uploaded_) {
          SetPhase(Phase::Done);  // the restart itself came: nothing was left unfinished
          return Fail(JobVerifyFailed, "the unit still announces firmware " + FirmwareText(info) + " after the upload");
        }
        SetPhase(Phase::Upload);
      } else {
        SetPhase(Phase::Read);
      }
      break;
    case JobCommand::Read:
      SetPhase(Phase::Read);
      next_ = [this] { session_->Engine().ReadConfig(); };
      break;
    case JobCommand::Write:
      StartWrite(*request_.record, request_.recordName);
      break;
    case JobCommand::Info:
      break;
  }
}

void UnitJob::TransferComplete(std::uint8_t kind) {
  if (phase_ == Phase::Upload && kind == TransferFirmware) {
    uploaded_ = true;
    result_.done.push_back("upload");
    if (lastAckLost_) result_.notes.emplace_back(LastAckLostNote);
    SetPhase(Phase::Restart, request_.identityTimeout);
  } else if (phase_ == Phase::Write && kind == TransferConfig) {
    observer_.Written(request_.port, writing_);
    SetPhase(Phase::ReadBack);
    next_ = [this] { session_->Engine().ReadConfig(); };
  }
}

void UnitJob::ConfigRead(const DecodedConfig& decoded) {
  const bool valid = decoded.errors == 0;
  const Phase phase = phase_;
  // The read is over: a failure from here on leaves nothing unfinished.
  if (phase == Phase::Read || phase == Phase::ReadBack) SetPhase(Phase::Done);
  if (phase == Phase::Read) {
    result_.done.push_back("read");
    observer_.ConfigRead(request_.port, valid);
    if (request_.command == JobCommand::Read) {
      if (!valid) return Fail(JobInvalidConfig, "Configuração inválida!");
      result_.read = decoded.record;
      return Succeed();
    }
    if (request_.record) return StartWrite(*request_.record, request_.recordName);
    if (valid) return Succeed();  // nothing to replace
    if (request_.ventora) return StartWrite(VentoraPreset(), "ventora");
    return StartWrite(DefaultConfig(), "default");
  }
  if (phase == Phase::ReadBack) {
    if (!valid) return Fail(JobVerifyFailed, "the configuration read back is invalid");
    const std::vector<std::string> differ = DifferingFields(decoded.record, *written_);
    if (!differ.empty()) {
      std::string names;
      for (const std::string& name : differ) names += (names.empty() ? "" : ", ") + name;
      return Fail(JobVerifyFailed, "the configuration read back differs in " + names);
    }
    // Every byte, not only the fields: the unit holds exactly the image written.
    const ConfigImage& back = session_->Engine().RxImage();
    const ConfigImage& sent = session_->Engine().TxConfig().image;
    const auto at = std::mismatch(back.begin(), back.end(), sent.begin());
    if (at.first != back.end())
      return Fail(JobVerifyFailed, "the configuration read back differs at byte " +
                                       std::to_string(at.first - back.begin()) + " of the image");
    result_.done.push_back("verify");
    result_.verified = true;
    observer_.Verified(request_.port);
    Succeed();
  }
}

void UnitJob::OperatingMode(const TDeviceInfo* identity) {
  if (phase_ == Phase::Identify && identity) {
    // The identity of a unit in operating mode is still its identity.
    result_.unit = result_.first = *identity;
    observer_.Identified(request_.port, *result_.unit);
    result_.done.push_back("identified");
    if (request_.command == JobCommand::Info) return Succeed();
  }
  Fail(JobOperatingMode,
       "the unit is in operating mode: disconnect every harness, connect the USB cable alone and try again");
}

void UnitJob::Closed(std::string_view why) { Fail(JobUnplugged, "the port closed: " + std::string(why)); }

void UnitJob::Fault(std::string_view what) {
  Fail(JobInternalFault, "a fault of zpictl itself, not of the unit or its cable: " + std::string(what));
}
