#include "sim/sim_unit.h"

// Std
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

// POSIX
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t BlockSize = 48;
constexpr std::size_t TrailerSize = 5;
constexpr std::uint32_t DefaultSplitGapMs = 20;
constexpr std::uint32_t DefaultExtraGapMs = 10;
constexpr std::uint8_t DefaultWrongAddress = 0x11;
constexpr std::uint32_t DefaultAlteredByte = 19;  // VMX
constexpr std::size_t ImageSumOffset = 36;        // the 24-bit sum of the bytes before it
constexpr int IdlePollMs = 10;  // while the port is closed the master reports a hang-up at once

std::string Hex(std::span<const std::uint8_t> bytes, std::size_t max = 16) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    s += buf;
  }
  if (bytes.size() > max) s += " ...";
  return s;
}

std::string Format(const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// The unit checks a transfer with its own arithmetic: exclusive OR, then the 32-bit sum.
std::array<std::uint8_t, TrailerSize> UnitTrailer(std::span<const std::uint8_t> data) {
  std::uint8_t x = 0;
  std::uint32_t sum = 0;
  for (std::uint8_t b : data) {
    x ^= b;
    sum += b;
  }
  return {x, static_cast<std::uint8_t>(sum >> 24), static_cast<std::uint8_t>(sum >> 16),
          static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)};
}

const char* KindName(std::uint8_t command) {
  return command == CmdFirmwareBlock ? "firmware" : "configuration";
}

// Makes the image's own sum good again after a change.
void FixImageSum(ConfigImage& image) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < ImageSumOffset; ++i) sum += image[i];
  image[ImageSumOffset] = static_cast<std::uint8_t>(sum >> 16);
  image[ImageSumOffset + 1] = static_cast<std::uint8_t>(sum >> 8);
  image[ImageSumOffset + 2] = static_cast<std::uint8_t>(sum);
}

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

// ---- FrameAssembler ------------------------------------------------------------------------

std::vector<FrameAssembler::Piece> FrameAssembler::Push(std::span<const std::uint8_t> bytes,
                                                        SimClock::time_point now) {
  lastInput_ = now;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return Scan();
}

void FrameAssembler::Skip(std::size_t n, std::vector<Piece>& out) {
  n = std::min(n, buffer_.size());
  if (n == 0) return;
  if (out.empty() || out.back().kind != Piece::Garbage) out.push_back({Piece::Garbage, {}});
  auto& g = out.back().bytes;
  g.insert(g.end(), buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
}

std::vector<FrameAssembler::Piece> FrameAssembler::Scan() {
  std::vector<Piece> out;
  for (;;) {
    const auto start = std::find(buffer_.begin(), buffer_.end(), FrameStart);
    Skip(static_cast<std::size_t>(start - buffer_.begin()), out);
    if (buffer_.size() < 5) break;
    const std::size_t length = std::size_t{buffer_[3]} << 8 | buffer_[4];
    if (length > MaxFramePayload) {  // cannot be a frame: this start byte was noise
      Skip(1, out);
      continue;
    }
    const std::size_t total = length + FrameOverhead;
    if (buffer_.size() < total) break;  // wait for the rest
    const std::span<const std::uint8_t> candidate(buffer_.data(), total);
    const CheckedFrame checked = CheckFrame(candidate, UnitAddress);
    if (checked.outcome == FrameOutcome::Accepted || checked.outcome == FrameOutcome::WrongDestination) {
      out.push_back({checked.outcome == FrameOutcome::Accepted ? Piece::Frame : Piece::OtherAddress,
                     SimBytes(candidate.begin(), candidate.end())});
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
      continue;
    }
    Skip(1, out);  // bad sum: resynchronise on the next start byte
  }
  return out;
}

std::vector<FrameAssembler::Piece> FrameAssembler::Expire(SimClock::time_point now,
                                                          SimClock::duration patience) {
  std::vector<Piece> out;
  if (buffer_.empty() || now - lastInput_ < patience) return out;
  // Nothing new came for a while: whatever is still incomplete will never complete.
  while (!buffer_.empty()) {
    Skip(1, out);
    for (auto& piece : Scan()) {
      if (piece.kind == Piece::Garbage && !out.empty() && out.back().kind == Piece::Garbage) {
        out.back().bytes.insert(out.back().bytes.end(), piece.bytes.begin(), piece.bytes.end());
      } else {
        out.push_back(std::move(piece));
      }
    }
  }
  return out;
}

std::optional<SimClock::time_point> FrameAssembler::PendingSince() const {
  if (buffer_.empty()) return std::nullopt;
  return lastInput_;
}

void FrameAssembler::Clear() { buffer_.clear(); }

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

// ---- SimUnit ------------------------------------------------------------------------------

SimUnit::SimUnit(SimOptions options) : options_(std::move(options)) {
  info_.Mode = options_.mode;
  info_.Id = options_.id;
  info_.Version = {options_.kind, options_.versionByte2, options_.firmwareMajor, options_.firmwareMinor};
  info_.ConfigBaseAddress = options_.configBaseAddress;
  memory_ = options_.memory ? *options_.memory : EncodeConfigImage(DefaultConfig()).image;
}

SimUnit::~SimUnit() { Stop(); }

void SimUnit::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable() || stopping_) throw std::runtime_error("the unit runs only once");
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) throw std::runtime_error(SystemError("posix_openpt"));
  char name[128] = {};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    const std::string why = SystemError("pseudo-terminal setup");
    close(master);
    throw std::runtime_error(why);
  }
  // Raw line settings made once on the slave; they stay while the master is open, so the
  // tool's side never echoes what the unit says.
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    const std::string why = SystemError("opening the slave");
    if (slave >= 0) close(slave);
    close(master);
    throw std::runtime_error(why);
  }
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  close(slave);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    const std::string why = SystemError("eventfd");
    close(master);
    throw std::runtime_error(why);
  }
  master_ = master;
  wake_ = wake;
  path_ = name;
  if (!logger_ && std::getenv("ZPISIM_LOG")) {  // a way to watch a unit inside any test
    logger_ = [](const std::string& line) { std::fprintf(stderr, "zpisim: %s\n", line.c_str()); };
  }
  thread_ = std::thread(&SimUnit::Run, this);
}

void SimUnit::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  if (wake_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  if (master_ >= 0) close(master_);
  if (wake_ >= 0) close(wake_);
  master_ = wake_ = -1;
  connected_ = false;
  Changed();
}

std::string SimUnit::DevicePath() const {
  std::lock_guard lock(mutex_);
  return path_;
}

void SimUnit::SetLogger(std::function<void(const std::string&)> logger) {
  std::lock_guard lock(mutex_);
  logger_ = std::move(logger);
}

void SimUnit::AddFault(SimFault fault) {
  std::lock_guard lock(mutex_);
  options_.faults.push_back(fault);
}

void SimUnit::ClearFaults() {
  std::lock_guard lock(mutex_);
  options_.faults.clear();
  silent_ = false;
}

void SimUnit::SetMemory(const ConfigImage& memory) {
  std::lock_guard lock(mutex_);
  memory_ = memory;
  Changed();
}

void SimUnit::SetAckDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  options_.ackDelay = delay;
}

void SimUnit::Send(SimBytes bytes) {
  std::lock_guard lock(mutex_);
  Queue(SimClock::now(), std::move(bytes));
  if (wake_ >= 0) {  // have the thread write it now
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
  }
}

std::vector<SimFrame> SimUnit::Frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}
std::vector<SimChunk> SimUnit::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}
std::vector<SimChunk> SimUnit::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}
std::vector<std::string> SimUnit::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}
SimCounters SimUnit::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}
ConfigImage SimUnit::Memory() const {
  std::lock_guard lock(mutex_);
  return memory_;
}
TDeviceInfo SimUnit::Info() const {
  std::lock_guard lock(mutex_);
  return info_;
}
bool SimUnit::ToolConnected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}
bool SimUnit::HungUp() const {
  std::lock_guard lock(mutex_);
  return hungUp_;
}
bool SimUnit::Restarting() const {
  std::lock_guard lock(mutex_);
  return restartEnd_.has_value();
}

bool SimUnit::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const {
  const auto deadline = SimClock::now() + timeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    const std::uint64_t seen = generation_;
    lock.unlock();
    if (condition()) return true;
    lock.lock();
    if (!changed_.wait_until(lock, deadline, [&] { return generation_ != seen; })) {
      lock.unlock();
      return condition();
    }
  }
}

bool SimUnit::WaitForFrames(std::uint32_t count, std::chrono::milliseconds timeout) const {
  return WaitFor([&] { return Counters().frames >= count; }, timeout);
}

bool SimUnit::WaitForAnnouncements(std::uint32_t count, std::chrono::milliseconds timeout) const {
  return WaitFor([&] { return Counters().announcements >= count; }, timeout);
}

bool SimUnit::WaitForConnected(bool connected, std::chrono::milliseconds timeout) const {
  return WaitFor([&] { return ToolConnected() == connected; }, timeout);
}

void SimUnit::Changed() {
  ++generation_;
  changed_.notify_all();
}

// ---- The unit's thread ----------------------------------------------------------------------

void SimUnit::Run() {
  for (;;) {
    int timeoutMs = IdlePollMs;
    bool watchMaster = false;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      if (hungUp_) {
        timeoutMs = -1;
      } else if (connected_) {
        watchMaster = true;
        std::optional<SimClock::time_point> next;
        auto consider = [&](std::optional<SimClock::time_point> t) {
          if (t && (!next || *t < *next)) next = t;
        };
        if (!talkedTo_ && !silent_ && !restartEnd_) consider(nextAnnounce_);
        consider(restartEnd_);
        if (!outgoing_.empty()) consider(outgoing_.front().due);
        if (auto since = assembler_.PendingSince()) consider(*since + options_.stalePartial);
        timeoutMs = 1000;
        if (next) {
          const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - SimClock::now()).count();
          timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, 1000));
        }
      } else if (restartEnd_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*restartEnd_ - SimClock::now()).count();
        timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, IdlePollMs));
      }
    }
    pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, POLLIN, 0}};
    poll(fds, watchMaster ? 2 : 1, timeoutMs);
    if (fds[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] auto n = read(wake_, &count, sizeof count);
    }
    std::vector<std::string> lines;
    std::function<void(const std::string&)> logger;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      Step(lines);
      for (const auto& line : lines) {
        if (options_.keepRecords) log_.push_back(line);
      }
      logger = logger_;
      Changed();
    }
    if (logger) {
      for (const auto& line : lines) logger(line);
    }
  }
}

void SimUnit::Step(std::vector<std::string>& log) {
  if (hungUp_ || master_ < 0) return;
  pollfd p{master_, POLLIN, 0};
  poll(&p, 1, 0);
  const bool hangUp = (p.revents & POLLHUP) != 0;
  auto now = SimClock::now();
  if (!hangUp && !connected_) OnConnected(now, log);

  if (connected_ && (p.revents & POLLIN)) {
    std::uint8_t buf[4096];
    for (;;) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      now = SimClock::now();
      const std::span<const std::uint8_t> chunk(buf, static_cast<std::size_t>(n));
      if (options_.keepRecords) received_.push_back({now, SimBytes(chunk.begin(), chunk.end())});
      for (auto& piece : assembler_.Push(chunk, now)) {
        if (piece.kind == FrameAssembler::Piece::Frame) {
          OnFrame(piece.bytes, now, log);
          if (hungUp_) return;
        } else if (piece.kind == FrameAssembler::Piece::OtherAddress) {
          ++counters_.otherAddress;
          log.push_back(Format("frame for address 0x%02X ignored", piece.bytes[1]));
        } else {
          counters_.garbageBytes += static_cast<std::uint32_t>(piece.bytes.size());
          log.push_back(Format("skipped %zu bytes: %s", piece.bytes.size(), Hex(piece.bytes).c_str()));
        }
      }
    }
  }
  if (hangUp) {
    if (connected_) OnDisconnected(log);
  }

  now = SimClock::now();
  if (connected_) {
    for (auto& piece : assembler_.Expire(now, options_.stalePartial)) {
      if (piece.kind == FrameAssembler::Piece::Frame) {
        OnFrame(piece.bytes, now, log);
        if (hungUp_) return;
      } else if (piece.kind == FrameAssembler::Piece::OtherAddress) {
        ++counters_.otherAddress;
      } else {
        counters_.garbageBytes += static_cast<std::uint32_t>(piece.bytes.size());
        log.push_back(Format("gave up %zu stale bytes: %s", piece.bytes.size(), Hex(piece.bytes).c_str()));
      }
    }
  }
  if (restartEnd_ && now >= *restartEnd_) {
    restartEnd_.reset();
    info_.Version[2] = options_.restartMajor;
    info_.Version[3] = options_.restartMinor;
    talkedTo_ = false;
    if (connected_) nextAnnounce_ = now;
    log.push_back(Format("restarted with firmware %u.%u", info_.Version[2], info_.Version[3]));
  }
  if (connected_ && !talkedTo_ && !silent_ && !restartEnd_ && nextAnnounce_ && now >= *nextAnnounce_) {
    Announce(now, log);
  }
  Flush(now, log);
}

void SimUnit::OnConnected(SimClock::time_point now, std::vector<std::string>& log) {
  connected_ = true;
  ++counters_.connections;
  talkedTo_ = false;
  assembler_.Clear();
  nextAnnounce_ = now + options_.settleDelay;
  log.push_back("tool opened the port");
}

void SimUnit::OnDisconnected(std::vector<std::string>& log) {
  connected_ = false;
  ++counters_.disconnections;
  if (transfer_ && !transfer_->done) log.push_back(Format("%s transfer dropped", KindName(transfer_->command)));
  transfer_.reset();
  assembler_.Clear();
  outgoing_.clear();
  nextAnnounce_.reset();
  talkedTo_ = false;
  log.push_back("tool closed the port");
}

SimBytes SimUnit::AnnouncementFrame() const {
  const auto text = [](const std::string& s) {
    return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  return BuildFrame(CmdDeviceInfo, DeviceInfoPayload(info_, text(options_.textA), text(options_.textB)),
                    UnitToTool);
}

void SimUnit::Announce(SimClock::time_point now, std::vector<std::string>& log) {
  Queue(now, AnnouncementFrame(), true);
  nextAnnounce_ = now + options_.announcePeriod;
  log.push_back(Format("announce: mode %u, v%u.%u.%u.%u, id %08X %08X %08X", info_.Mode, info_.Version[0],
                       info_.Version[1], info_.Version[2], info_.Version[3], info_.Id[2], info_.Id[1],
                       info_.Id[0]));
}

void SimUnit::Queue(SimClock::time_point due, SimBytes bytes, bool announcement) {
  const auto at = std::upper_bound(outgoing_.begin(), outgoing_.end(), due,
                                   [](SimClock::time_point t, const Outgoing& o) { return t < o.due; });
  outgoing_.insert(at, Outgoing{due, std::move(bytes), announcement});
}

void SimUnit::Flush(SimClock::time_point now, std::vector<std::string>& log) {
  while (!outgoing_.empty() && outgoing_.front().due <= now && !hungUp_) {
    Outgoing next = std::move(outgoing_.front());
    outgoing_.pop_front();
    if (!connected_) continue;
    if (WriteNow(next.bytes, log) && next.announcement) ++counters_.announcements;
  }
}

bool SimUnit::WriteNow(const SimBytes& bytes, std::vector<std::string>& log) {
  std::size_t done = 0;
  const auto deadline = SimClock::now() + std::chrono::milliseconds(500);
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && SimClock::now() < deadline) {
      pollfd p{master_, POLLOUT, 0};
      poll(&p, 1, 20);  // the tool is not reading: wait a little for room
      continue;
    }
    log.push_back(Format("write failed after %zu of %zu bytes", done, bytes.size()));
    break;
  }
  ++counters_.writes;
  if (options_.keepRecords && done > 0) {
    written_.push_back({SimClock::now(), SimBytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(done))});
  }
  return done == bytes.size();
}

void SimUnit::HangUpLine(std::vector<std::string>& log) {
  close(master_);
  master_ = -1;
  hungUp_ = true;
  connected_ = false;
  outgoing_.clear();
  transfer_.reset();
  log.push_back("unplugged: line closed");
}

// ---- Frames from the tool -------------------------------------------------------------------

void SimUnit::OnFrame(const SimBytes& frame, SimClock::time_point now, std::vector<std::string>& log) {
  const std::uint32_t number = ++counters_.frames;
  const std::uint8_t command = frame[2];
  const auto payload = std::span<const std::uint8_t>(frame).subspan(5, frame.size() - FrameOverhead);
  if (options_.keepRecords) frames_.push_back({now, number, command, frame});

  std::vector<SimFault> faults;
  for (const auto& f : options_.faults) {
    if (f.frame == number) faults.push_back(f);
    if (f.kind == SimFaultKind::SilentFrom && f.frame <= number && !silent_) {
      silent_ = true;
      log.push_back(Format("fault: silent from frame %u on", f.frame));
    }
  }
  const auto has = [&](SimFaultKind kind) -> const SimFault* {
    for (const auto& f : faults) {
      if (f.kind == kind) return &f;
    }
    return nullptr;
  };

  if (has(SimFaultKind::HangUp)) {
    log.push_back(Format("fault: hang-up at frame %u", number));
    HangUpLine(log);
    return;
  }
  if (silent_) {
    log.push_back(Format("frame %u (command %u) unanswered: silent", number, command));
    return;
  }
  if (restartEnd_) {
    log.push_back(Format("frame %u (command %u) unanswered: restarting", number, command));
    return;
  }
  talkedTo_ = true;

  std::optional<SimBytes> answer;
  if (has(SimFaultKind::Refuse)) {
    log.push_back(Format("fault: frame %u refused", number));
    answer = Refuse(SimRefusal::FaultOption, log);
  } else {
    answer = Answer(command, payload, now, log);
  }
  // The restart, if this frame caused one, begins after the answer has gone out.
  const auto due = now + options_.ackDelay;

  if (answer && has(SimFaultKind::DropAnswer)) {
    log.push_back(Format("fault: answer to frame %u dropped", number));
    answer.reset();
  }
  if (answer) {
    SimBytes out = std::move(*answer);
    if (const auto* f = has(SimFaultKind::WrongAddress)) {
      const std::uint8_t address = f->param ? static_cast<std::uint8_t>(f->param) : DefaultWrongAddress;
      const SimBytes body(out.begin() + 5, out.end() - 3);
      out = BuildFrame(out[2], body, address);
      log.push_back(Format("fault: answer to frame %u sent to address 0x%02X", number, address));
    }
    if (has(SimFaultKind::BadSumAnswer)) {
      out.back() = static_cast<std::uint8_t>(out.back() + 1);
      log.push_back(Format("fault: answer to frame %u with a bad sum", number));
    }
    if (has(SimFaultKind::NoStartAnswer)) {
      out[0] = 0x3C;
      log.push_back(Format("fault: answer to frame %u without its start byte", number));
    }
    if (has(SimFaultKind::ShortAnswer)) {
      out.resize(5);
      log.push_back(Format("fault: answer to frame %u cut to 5 bytes", number));
    }
    bool extraAnnouncement = false;
    if (has(SimFaultKind::TwoFrames)) {
      const SimBytes extra = AnnouncementFrame();
      out.insert(out.end(), extra.begin(), extra.end());
      extraAnnouncement = true;
      log.push_back(Format("fault: answer to frame %u and an announcement in one write", number));
    }
    if (const auto* f = has(SimFaultKind::SplitAnswer)) {
      const auto gap = std::chrono::milliseconds(f->param ? f->param : DefaultSplitGapMs);
      const std::size_t half = out.size() / 2;
      Queue(due, SimBytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(half)));
      Queue(due + gap, SimBytes(out.begin() + static_cast<std::ptrdiff_t>(half), out.end()), extraAnnouncement);
      log.push_back(Format("fault: answer to frame %u split in two writes", number));
    } else {
      Queue(due, std::move(out), extraAnnouncement);
    }
  }
  if (const auto* f = has(SimFaultKind::Reannounce)) {
    Queue(due + std::chrono::milliseconds(f->param ? f->param : DefaultExtraGapMs), AnnouncementFrame(), true);
    log.push_back(Format("fault: announcing again after frame %u", number));
  }
  if (const auto* f = has(SimFaultKind::OperatingNotice)) {
    Queue(due + std::chrono::milliseconds(f->param ? f->param : DefaultExtraGapMs),
          BuildFrame(CmdOperatingMode, {}, UnitToTool));
    log.push_back(Format("fault: operating-mode notice after frame %u", number));
  }
  if (restartEnd_) restartEnd_ = due + options_.restartDelay;
}

std::optional<SimBytes> SimUnit::Answer(std::uint8_t command, std::span<const std::uint8_t> payload,
                                        SimClock::time_point now, std::vector<std::string>& log) {
  switch (command) {
    case CmdFirmwareBlock:
    case CmdConfigBlock:
      return AnswerBlock(command, payload, now, log);
    case CmdConfigRead:
      return AnswerRead(payload, log);
    case CmdJump:
      ++counters_.jumps;
      log.push_back("jump");
      return std::nullopt;
    default:
      log.push_back(Format("command %u ignored", command));
      return std::nullopt;
  }
}

SimBytes SimUnit::Refuse(SimRefusal why, std::vector<std::string>& log) {
  ++counters_.refusals;
  counters_.lastRefusal = why;
  log.push_back(Format("refused: %s", SimRefusalName(why)));
  return BuildFrame(CmdRefusal, {}, UnitToTool);
}

std::optional<SimBytes> SimUnit::AnswerBlock(std::uint8_t command, std::span<const std::uint8_t> payload,
                                             SimClock::time_point now, std::vector<std::string>& log) {
  const auto block = ParseBlockPayload(payload);
  if (!block) return Refuse(SimRefusal::BadPayload, log);
  const std::uint16_t index = block->index;
  const std::uint16_t count = block->count;
  const std::size_t size = block->data.size();
  log.push_back(Format("%s block %u/%u token 0x%04X, %zu bytes", KindName(command), index, count,
                       block->token, size));
  if (index == 0) return Refuse(SimRefusal::WrongIndex, log);
  if (count == 0 || index > count) return Refuse(SimRefusal::WrongCount, log);
  const bool sizeFits = index == count       ? size == TrailerSize
                        : index + 1 == count ? size >= 1 && size <= BlockSize
                                             : size == BlockSize;
  if (index != 1) {
    if (!transfer_) return Refuse(SimRefusal::NoTransfer, log);
    if (transfer_->command != command) return Refuse(SimRefusal::WrongKind, log);
    if (block->token != transfer_->token) return Refuse(SimRefusal::WrongToken, log);
    if (count != transfer_->count) return Refuse(SimRefusal::WrongCount, log);
    if (index != transfer_->last && index != transfer_->last + 1) return Refuse(SimRefusal::WrongIndex, log);
  }
  if (!sizeFits) return Refuse(SimRefusal::WrongSize, log);

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
      if (found == t.blocks.end()) return Refuse(SimRefusal::WrongIndex, log);
      data.insert(data.end(), found->second.begin(), found->second.end());
    }
    const auto expected = UnitTrailer(data);
    if (!std::equal(expected.begin(), expected.end(), block->data.begin(), block->data.end()))
      return Refuse(SimRefusal::BadTrailer, log);
    if (command == CmdConfigBlock && data.size() != ConfigImageSize) return Refuse(SimRefusal::WrongLength, log);
    t.last = index;
    if (command == CmdConfigBlock) {
      std::copy(data.begin(), data.end(), memory_.begin());
      t.done = true;
      ++counters_.configWrites;
      log.push_back("configuration replaced (2032 bytes)");
      for (const SimFault& f : options_.faults) {
        if (f.kind != SimFaultKind::AlterWrite || f.frame > counters_.frames) continue;
        const std::size_t at = f.param ? f.param : DefaultAlteredByte;
        if (at >= ImageSumOffset) {
          log.push_back(Format("fault: byte %zu is past the fields; left as sent", at));
          continue;
        }
        ++memory_[at];
        FixImageSum(memory_);
        log.push_back(Format("fault: byte %zu of the configuration stored one higher", at));
      }
    } else {
      ++counters_.restarts;
      restartEnd_ = now + options_.restartDelay;  // moved past the answer by OnFrame
      transfer_.reset();
      log.push_back(Format("firmware received (%zu bytes): restarting", data.size()));
    }
  }
  ++counters_.acks;
  SimBytes ack;
  PutU16(ack, index);
  return BuildFrame(CmdAck, ack, UnitToTool);
}

std::optional<SimBytes> SimUnit::AnswerRead(std::span<const std::uint8_t> payload, std::vector<std::string>& log) {
  const auto request = ParseConfigReadRequest(payload);
  if (!request) return Refuse(SimRefusal::BadPayload, log);
  log.push_back(Format("read 0x%08X + %u", request->address, request->count));
  const std::uint32_t base = info_.ConfigBaseAddress;
  if (request->address < base || request->address - base >= ConfigImageSize || request->count == 0)
    return Refuse(SimRefusal::OutOfRange, log);
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
