#include "sim/sim_model.h"

// Std
#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

namespace {

constexpr std::size_t BlockSize = 48;
constexpr std::size_t TrailerSize = 5;

const char* KindName(std::uint8_t command) {
  return command == CmdFirmwareBlock ? "firmware" : "configuration";
}

}  // namespace

// ---- Start images ---------------------------------------------------------------------------

std::optional<ConfigImage> StartImage(std::string_view name, std::string* error) {
  auto fail = [&](std::string why) -> std::optional<ConfigImage> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (name == "default") return EncodeConfigImage(DefaultConfig()).image;
  if (name == "ventora") return EncodeConfigImage(VentoraPreset()).image;
  if (name == "blank") {
    ConfigImage blank;
    blank.fill(0xFF);
    return blank;
  }
  if (name == "invalid") {
    // A good image whose signature is off by one byte; its own sum still checks.
    ConfigImage image = EncodeConfigImage(DefaultConfig()).image;
    image[3] = 0x00;
    FixImageSum(image);
    return image;
  }
  if (name.starts_with("file:")) {
    const std::string path(name.substr(5));
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot open " + path);
    const SimBytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != ConfigImageSize)
      return fail(path + " holds " + std::to_string(bytes.size()) + " bytes, not " +
                  std::to_string(ConfigImageSize));
    ConfigImage image;
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return image;
  }
  return fail("unknown image \"" + std::string(name) + "\" (default, ventora, invalid, blank, file:PATH)");
}

std::span<const std::uint8_t> SimFrame::Payload() const {
  if (bytes.size() < FrameOverhead) return {};
  return std::span<const std::uint8_t>(bytes).subspan(5, bytes.size() - FrameOverhead);
}

const char* SimRefusalName(SimRefusal why) {
  switch (why) {
    case SimRefusal::None: return "none";
    case SimRefusal::BadPayload: return "payload too short";
    case SimRefusal::NoTransfer: return "no transfer under way";
    case SimRefusal::WrongKind: return "wrong kind";
    case SimRefusal::WrongToken: return "wrong token";
    case SimRefusal::WrongCount: return "wrong count";
    case SimRefusal::WrongIndex: return "wrong index";
    case SimRefusal::WrongSize: return "wrong block size";
    case SimRefusal::BadTrailer: return "bad trailer";
    case SimRefusal::WrongLength: return "configuration is not 2032 bytes";
    case SimRefusal::OutOfRange: return "outside the memory";
    case SimRefusal::FaultOption: return "fault option";
  }
  return "?";
}

std::array<std::uint8_t, 5> UnitTrailer(std::span<const std::uint8_t> data) {
  std::uint8_t x = 0;
  std::uint32_t sum = 0;
  for (std::uint8_t b : data) {
    x ^= b;
    sum += b;
  }
  return {x, static_cast<std::uint8_t>(sum >> 24), static_cast<std::uint8_t>(sum >> 16),
          static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)};
}

// ---- SimModel -------------------------------------------------------------------------------

SimModel::SimModel(SimOptions options) : options_(std::move(options)) {
  info_.Mode = options_.mode;
  info_.Id = options_.id;
  info_.Version = {options_.kind, options_.versionByte2, options_.firmwareMajor, options_.firmwareMinor};
  info_.ConfigBaseAddress = options_.configBaseAddress;
  memory_ = options_.memory ? *options_.memory : EncodeConfigImage(DefaultConfig()).image;
}

void SimModel::AddFault(SimFault fault) { options_.faults.push_back(fault); }

void SimModel::ClearFaults() {
  options_.faults.clear();
  silent_ = false;
}

std::vector<std::string> SimModel::TakeLog() { return std::exchange(log_, {}); }

void SimModel::OnOpened(SimClock::time_point now) {
  connected_ = true;
  ++counters_.connections;
  talkedTo_ = false;
  nextAnnounce_ = now + options_.settleDelay;
  log_.push_back("tool opened the port");
}

void SimModel::OnClosed() {
  connected_ = false;
  ++counters_.disconnections;
  if (transfer_ && !transfer_->done) log_.push_back(SimLogLine("%s transfer dropped", KindName(transfer_->command)));
  transfer_.reset();
  nextAnnounce_.reset();
  talkedTo_ = false;
  log_.push_back("tool closed the port");
}

bool SimModel::Announcing() const { return connected_ && !talkedTo_ && !silent_ && !restartEnd_; }

SimBytes SimModel::AnnouncementFrame() const {
  const auto text = [](const std::string& s) {
    return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  return BuildFrame(CmdDeviceInfo, DeviceInfoPayload(info_, text(options_.textA), text(options_.textB)),
                    UnitToTool);
}

SimReply SimModel::Tick(SimClock::time_point now) {
  SimReply reply;
  if (restartEnd_ && now >= *restartEnd_) {
    restartEnd_.reset();
    info_.Version[2] = options_.restartMajor;
    info_.Version[3] = options_.restartMinor;
    talkedTo_ = false;
    if (connected_) nextAnnounce_ = now;
    log_.push_back(SimLogLine("restarted with firmware %u.%u", info_.Version[2], info_.Version[3]));
  }
  if (Announcing() && nextAnnounce_ && now >= *nextAnnounce_) {
    reply.writes.push_back({now, AnnouncementFrame(), true});
    nextAnnounce_ = now + options_.announcePeriod;
    log_.push_back(SimLogLine("announce: mode %u, v%u.%u.%u.%u, id %08X %08X %08X", info_.Mode, info_.Version[0],
                              info_.Version[1], info_.Version[2], info_.Version[3], info_.Id[2], info_.Id[1],
                              info_.Id[0]));
  }
  return reply;
}

std::optional<SimClock::time_point> SimModel::NextDeadline() const {
  if (Announcing()) return nextAnnounce_;
  return restartEnd_;
}

// ---- Frames from the tool -------------------------------------------------------------------

SimReply SimModel::OnFrame(std::span<const std::uint8_t> frame, SimClock::time_point now) {
  SimReply reply;
  const CheckedFrame checked = CheckFrame(frame, UnitAddress);
  if (checked.outcome != FrameOutcome::Accepted || checked.trailingBytes) {
    log_.push_back(SimLogLine("%zu bytes ignored: not one whole frame for the unit", frame.size()));
    return reply;
  }
  const std::uint32_t number = ++counters_.frames;
  const std::uint8_t command = checked.command;
  if (options_.keepRecords) frames_.push_back({now, number, command, SimBytes(frame.begin(), frame.end())});

  const SimFaultsAt faults = FaultsAt(options_.faults, number);
  if (faults.silentFrom && !silent_) {
    silent_ = true;
    log_.push_back(SimLogLine("fault: silent from frame %u on", *faults.silentFrom));
  }
  if (faults.Find(SimFaultKind::HangUp)) {
    log_.push_back(SimLogLine("fault: hang-up at frame %u", number));
    connected_ = false;
    transfer_.reset();
    reply.hangUp = true;
    return reply;
  }
  if (silent_) {
    log_.push_back(SimLogLine("frame %u (command %u) unanswered: silent", number, command));
    return reply;
  }
  if (restartEnd_) {
    log_.push_back(SimLogLine("frame %u (command %u) unanswered: restarting", number, command));
    return reply;
  }
  talkedTo_ = true;

  std::optional<SimBytes> answer;
  if (faults.Find(SimFaultKind::Refuse)) {
    log_.push_back(SimLogLine("fault: frame %u refused", number));
    answer = Refuse(SimRefusal::FaultOption);
  } else {
    answer = Answer(command, checked.payload, now);
  }
  const auto due = now + options_.ackDelay;
  reply.writes = FaultedAnswer(faults, number, std::move(answer), AnnouncementFrame(), due, log_);
  // The restart, if this frame caused one, begins after the answer has gone out.
  if (restartEnd_) restartEnd_ = due + options_.restartDelay;
  return reply;
}

std::optional<SimBytes> SimModel::Answer(std::uint8_t command, std::span<const std::uint8_t> payload,
                                         SimClock::time_point now) {
  switch (command) {
    case CmdFirmwareBlock:
    case CmdConfigBlock:
      return AnswerBlock(command, payload, now);
    case CmdConfigRead:
      return AnswerRead(payload);
    case CmdJump:
      ++counters_.jumps;
      log_.push_back("jump");
      return std::nullopt;
    default:
      log_.push_back(SimLogLine("command %u ignored", command));
      return std::nullopt;
  }
}

SimBytes SimModel::Refuse(SimRefusal why) {
  ++counters_.refusals;
  counters_.lastRefusal = why;
  log_.push_back(SimLogLine("refused: %s", SimRefusalName(why)));
  return BuildFrame(CmdRefusal, {}, UnitToTool);
}

std::optional<SimBytes> SimModel::AnswerBlock(std::uint8_t command, std::span<const std::uint8_t> payload,
                                              SimClock::time_point now) {
  const auto block = ParseBlockPayload(payload);
  if (!block) return Refuse(SimRefusal::BadPayload);
  const std::uint16_t index = block->index;
  const std::uint16_t count = block->count;
  const std::size_t size = block->data.size();
  log_.push_back(SimLogLine("%s block %u/%u token 0x%04X, %zu bytes", KindName(command), index, count,
                            block->token, size));
  if (index == 0) return Refuse(SimRefusal::WrongIndex);
  if (count == 0 || index > count) return Refuse(SimRefusal::WrongCount);
  const bool sizeFits = index == count       ? size == TrailerSize
                        : index + 1 == count ? size >= 1 && size <= BlockSize
                                             : size == BlockSize;
  if (index != 1) {
    if (!transfer_) return Refuse(SimRefusal::NoTransfer);
    if (transfer_->command != command) return Refuse(SimRefusal::WrongKind);
    if (block->token != transfer_->token) return Refuse(SimRefusal::WrongToken);
    if (count != transfer_->count) return Refuse(SimRefusal::WrongCount);
    if (index != transfer_->last && index != transfer_->last + 1) return Refuse(SimRefusal::WrongIndex);
  }
  if (!sizeFits) return Refuse(SimRefusal::WrongSize);

  if (index == 1) {
    // Index 1 always begins a transfer: a new token, a fresh store.
    transfer_ = Transfer{command, block->token, count, 0, {}, false};
  }
  Transfer& t = *transfer_;
  if (index < count) {
    t.blocks[index] = SimBytes(block->data.begin(), block->data.end());
    t.last = index;
  } else if (!t.done) {
    SimBytes data;
    data.reserve(std::size_t{count} * BlockSize);
    for (std::uint16_t i = 1; i < count; ++i) {
      const auto found = t.blocks.find(i);
      if (found == t.blocks.end()) return Refuse(SimRefusal::WrongIndex);
      data.insert(data.end(), found->second.begin(), found->second.end());
    }
    const auto expected = UnitTrailer(data);
    if (!std::equal(expected.begin(), expected.end(), block->data.begin(), block->data.end()))
      return Refuse(SimRefusal::BadTrailer);
    if (command == CmdConfigBlock && data.size() != ConfigImageSize) return Refuse(SimRefusal::WrongLength);
    t.last = index;
    if (command == CmdConfigBlock) {
      std::copy(data.begin(), data.end(), memory_.begin());
      t.done = true;
      ++counters_.configWrites;
      log_.push_back("configuration replaced (2032 bytes)");
      AlterStoredImage(memory_, options_.faults, counters_.frames, log_);
    } else {
      ++counters_.restarts;
      restartEnd_ = now + options_.restartDelay;  // moved past the answer by OnFrame
      transfer_.reset();
      log_.push_back(SimLogLine("firmware received (%zu bytes): restarting", data.size()));
      firmware_ = std::move(data);
    }
  }
  ++counters_.acks;
  SimBytes ack;
  PutU16(ack, index);
  return BuildFrame(CmdAck, ack, UnitToTool);
}

std::optional<SimBytes> SimModel::AnswerRead(std::span<const std::uint8_t> payload) {
  const auto request = ParseConfigReadRequest(payload);
  if (!request) return Refuse(SimRefusal::BadPayload);
  log_.push_back(SimLogLine("read 0x%08X + %u", request->address, request->count));
  const std::uint32_t base = info_.ConfigBaseAddress;
  if (request->address < base || request->address - base >= ConfigImageSize || request->count == 0)
    return Refuse(SimRefusal::OutOfRange);
  const std::size_t offset = request->address - base;
  const std::size_t n = std::min({std::size_t{request->count}, ConfigImageSize - offset, MaxFramePayload - 6});
  SimBytes answer;
  answer.reserve(6 + n);
  PutU32(answer, request->address);
  PutU16(answer, static_cast<std::uint16_t>(n));
  answer.insert(answer.end(), memory_.begin() + static_cast<std::ptrdiff_t>(offset),
                memory_.begin() + static_cast<std::ptrdiff_t>(offset + n));
  ++counters_.readAnswers;
  return BuildFrame(CmdConfigRead, answer, UnitToTool);
}
