#include "sim/sim_unit.h"

// Std
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

// POSIX
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

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

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

int MillisUntil(SimClock::time_point t, int most) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - SimClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, most));
}

}  // namespace

// ---- SimUnit ------------------------------------------------------------------------------

SimUnit::SimUnit(SimOptions options) : model_(std::move(options)) {}

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
  model_.AddFault(fault);
}

void SimUnit::ClearFaults() {
  std::lock_guard lock(mutex_);
  model_.ClearFaults();
}

void SimUnit::SetMemory(const ConfigImage& memory) {
  std::lock_guard lock(mutex_);
  model_.SetMemory(memory);
  Changed();
}

void SimUnit::SetAckDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  model_.SetAckDelay(delay);
}

void SimUnit::Send(SimBytes bytes) {
  std::lock_guard lock(mutex_);
  Queue({{SimClock::now(), std::move(bytes)}});
  if (wake_ >= 0) {  // have the thread write it now
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
  }
}

std::vector<SimFrame> SimUnit::Frames() const {
  std::lock_guard lock(mutex_);
  return model_.Frames();
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
  SimCounters counters = model_.Counters();
  counters.announcements = line_.announcements;
  counters.writes = line_.writes;
  counters.garbageBytes = line_.garbageBytes;
  counters.otherAddress = line_.otherAddress;
  return counters;
}
ConfigImage SimUnit::Memory() const {
  std::lock_guard lock(mutex_);
  return model_.Memory();
}
std::optional<SimBytes> SimUnit::Firmware() const {
  std::lock_guard lock(mutex_);
  return model_.Firmware();
}
TDeviceInfo SimUnit::Info() const {
  std::lock_guard lock(mutex_);
  return model_.Info();
}
bool SimUnit::ToolConnected() const {
  std::lock_guard lock(mutex_);
  return master_ >= 0 && model_.ToolConnected();
}
bool SimUnit::HungUp() const {
  std::lock_guard lock(mutex_);
  return hungUp_;
}
bool SimUnit::Restarting() const {
  std::lock_guard lock(mutex_);
  return model_.Restarting();
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
      } else if (model_.ToolConnected()) {
        watchMaster = true;
        std::optional<SimClock::time_point> next = model_.NextDeadline();
        auto consider = [&](SimClock::time_point t) {
          if (!next || t < *next) next = t;
        };
        if (!outgoing_.empty()) consider(outgoing_.front().due);
        if (auto since = assembler_.PendingSince()) consider(*since + model_.Options().stalePartial);
        timeoutMs = next ? MillisUntil(*next, 1000) : 1000;
      } else if (const auto next = model_.NextDeadline()) {
        timeoutMs = MillisUntil(*next, IdlePollMs);
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
      Step();
      lines = std::exchange(lines_, {});
      if (model_.Options().keepRecords) log_.insert(log_.end(), lines.begin(), lines.end());
      logger = logger_;
      Changed();
    }
    if (logger) {
      for (const auto& line : lines) logger(line);
    }
  }
}

void SimUnit::Step() {
  if (hungUp_ || master_ < 0) return;
  pollfd p{master_, POLLIN, 0};
  poll(&p, 1, 0);
  const bool hangUp = (p.revents & POLLHUP) != 0;
  auto now = SimClock::now();
  if (!hangUp && !model_.ToolConnected()) {
    assembler_.Clear();
    model_.OnOpened(now);
    TakeModelLog();
  }

  if (model_.ToolConnected() && (p.revents & POLLIN)) {
    std::uint8_t buf[4096];
    for (;;) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      now = SimClock::now();
      const std::span<const std::uint8_t> chunk(buf, static_cast<std::size_t>(n));
      if (model_.Options().keepRecords) received_.push_back({now, SimBytes(chunk.begin(), chunk.end())});
      OnPieces(assembler_.Push(chunk, now), now, false);
      if (hungUp_) return;
    }
  }
  if (hangUp && model_.ToolConnected()) {
    model_.OnClosed();
    TakeModelLog();
    assembler_.Clear();
    outgoing_.clear();
  }

  now = SimClock::now();
  if (model_.ToolConnected()) {
    OnPieces(assembler_.Expire(now, model_.Options().stalePartial), now, true);
    if (hungUp_) return;
  }
  Queue(model_.Tick(now).writes);
  TakeModelLog();
  Flush(now);
}

void SimUnit::OnPieces(std::vector<FrameAssembler::Piece> pieces, SimClock::time_point now, bool stale) {
  for (auto& piece : pieces) {
    switch (piece.kind) {
      case FrameAssembler::Piece::Frame:
        OnFrame(piece.bytes, now);
        if (hungUp_) return;
        break;
      case FrameAssembler::Piece::OtherAddress:
        ++line_.otherAddress;
        lines_.push_back(SimLogLine("frame for address 0x%02X ignored", piece.bytes[1]));
        break;
      case FrameAssembler::Piece::Garbage:
        line_.garbageBytes += static_cast<std::uint32_t>(piece.bytes.size());
        lines_.push_back(SimLogLine(stale ? "gave up %zu stale bytes: %s" : "skipped %zu bytes: %s",
                                    piece.bytes.size(), Hex(piece.bytes).c_str()));
        break;
    }
  }
}

void SimUnit::OnFrame(const SimBytes& frame, SimClock::time_point now) {
  SimReply reply = model_.OnFrame(frame, now);
  TakeModelLog();
  if (reply.hangUp) {
    HangUpLine();
    return;
  }
  Queue(std::move(reply.writes));
}

void SimUnit::TakeModelLog() {
  for (auto& line : model_.TakeLog()) lines_.push_back(std::move(line));
}

void SimUnit::Queue(std::vector<SimWrite> writes) {
  for (auto& write : writes) {
    const auto at = std::upper_bound(outgoing_.begin(), outgoing_.end(), write.due,
                                     [](SimClock::time_point t, const SimWrite& o) { return t < o.due; });
    outgoing_.insert(at, std::move(write));
  }
}

void SimUnit::Flush(SimClock::time_point now) {
  while (!outgoing_.empty() && outgoing_.front().due <= now && !hungUp_) {
    SimWrite next = std::move(outgoing_.front());
    outgoing_.pop_front();
    if (!model_.ToolConnected()) continue;
    if (WriteNow(next.bytes) && next.announcement) ++line_.announcements;
  }
}

bool SimUnit::WriteNow(const SimBytes& bytes) {
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
    lines_.push_back(SimLogLine("write failed after %zu of %zu bytes", done, bytes.size()));
    break;
  }
  ++line_.writes;
  if (model_.Options().keepRecords && done > 0) {
    written_.push_back({SimClock::now(), SimBytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(done))});
  }
  return done == bytes.size();
}

void SimUnit::HangUpLine() {
  close(master_);
  master_ = -1;
  hungUp_ = true;
  outgoing_.clear();
  lines_.push_back("unplugged: line closed");
}
