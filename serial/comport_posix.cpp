// The serial port component's system side on Linux: the tty device, termios2 settings,
// poll() time limits, the event thread's wait and the port list from /sys/class/tty.
#include "serial/comport.h"
#include "serial/comport_faults.h"

// System
#include <asm/termbits.h>  // termios2, BOTHER (not mixable with <termios.h>)
#include <dirent.h>
#include <fcntl.h>
#include <libintl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// Std
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// While a handler has left bytes unread, the event thread looks for more this often instead
// of waiting for "readable", which would be true at once and spin.
constexpr int WatchPeriodMs = 10;
// A wait that keeps failing for want of resources this many times in a row, a WatchPeriodMs
// apart, leaves a port nobody can hear.
constexpr int PatientWaits = 50;

constexpr const char* TextDomain = "cport";

// Errors that say "not now": the call did nothing and may be made again.
bool IsTransient(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

// Errors with which a tty whose device has gone away (USB unplugged) answers.
bool PortIsGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

// A zero-byte read is how a hung-up tty answers; it is one only when the port says so.
bool HungUpNow(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// ---- The system calls the fault seam covers --------------------------------------------------

// The result a fault puts in place of a read() or write() of `n` bytes, with errno set; none
// when the call is to be made (of `n` cut down, for a partial one).
std::optional<ssize_t> FaultInstead(TComCall call, const std::string& port, std::size_t& n) {
  const TComFault fault = ComFaultBefore(call, port);
  switch (fault.kind) {
    case TComFaultKind::None: break;
    case TComFaultKind::Partial: n = std::min(n, static_cast<std::size_t>(std::max(fault.bytes, 1))); break;
    case TComFaultKind::Empty: return 0;
    case TComFaultKind::Interrupted: errno = EINTR; return -1;
    case TComFaultKind::Busy: errno = EAGAIN; return -1;
    case TComFaultKind::Gone: errno = fault.error ? fault.error : EIO; return -1;
  }
  return std::nullopt;
}

ssize_t ReadSome(int fd, const std::string& port, void* buffer, std::size_t n) {
  if (const auto instead = FaultInstead(TComCall::Read, port, n)) return *instead;
  return ::read(fd, buffer, n);
}

ssize_t WriteSome(int fd, const std::string& port, const void* buffer, std::size_t n) {
  if (const auto instead = FaultInstead(TComCall::Write, port, n)) return *instead;
  return ::write(fd, buffer, n);
}

// FIONREAD: 0 with the count, or -1 with errno set.
int AskQueue(int fd, const std::string& port, int& waiting) {
  const TComFault fault = ComFaultBefore(TComCall::Queued, port);
  switch (fault.kind) {
    case TComFaultKind::Empty: waiting = 0; return 0;
    case TComFaultKind::Interrupted: errno = EINTR; return -1;
    case TComFaultKind::Busy: errno = EAGAIN; return -1;
    case TComFaultKind::Gone: errno = fault.error ? fault.error : EIO; return -1;
    default: return ::ioctl(fd, FIONREAD, &waiting);
  }
}

// The event thread's poll of the stop signal and the port; a device gone reports its hang-up.
int PollLine(pollfd (&fds)[2], int timeoutMs, const std::string& port) {
  const TComFault fault = ComFaultBefore(TComCall::Wait, port);
  switch (fault.kind) {
    case TComFaultKind::Empty: return 0;
    case TComFaultKind::Interrupted: errno = EINTR; return -1;
    case TComFaultKind::Busy: errno = EAGAIN; return -1;
    case TComFaultKind::Gone:
      fds[0].revents = 0;
      fds[1].revents = POLLHUP | POLLERR;
      return 1;
    default: return ::poll(fds, 2, timeoutMs);
  }
}

int PollOnce(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  const int r = ::poll(&p, 1, timeoutMs);
  return r > 0 ? p.revents : r;
}

// Milliseconds from now to `deadline`, clipped to what poll takes; 0 once it has passed.
int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

std::optional<Clock::time_point> TotalDeadline(Clock::time_point start, std::int32_t mult,
                                               std::int32_t constant, int count) {
  const auto limit = TotalLimit(mult, constant, count);
  if (!limit) return std::nullopt;
  return start + *limit;
}

std::string DevicePath(const std::string& port) {
  if (!port.empty() && port.front() == '/') return port;
  return "/dev/" + port;
}

tcflag_t DataBitsFlag(TDataBits bits) {
  switch (bits) {
    case dbFive: return CS5;
    case dbSix: return CS6;
    case dbSeven: return CS7;
    case dbEight: break;
  }
  return CS8;
}

std::int32_t FixedRate(TBaudRate rate, std::int32_t custom) {
  switch (rate) {
    case br9600: return 9600;
    case br19200: return 19200;
    case br38400: return 38400;
    case br57600: return 57600;
    case br115200: return 115200;
    case brCustom: break;
  }
  return custom;
}

// DTR and RTS: a pseudo-terminal has no modem lines and says so with ENOTTY or EINVAL.
bool SetModemLine(int fd, int line, bool active) {
  int bits = line;
  if (::ioctl(fd, active ? TIOCMBIS : TIOCMBIC, &bits) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

}  // namespace

struct TCustomComPort::Os {
  int fd = -1;
  int stopFd = -1;
  std::string name;  // the port as it was opened, for the fault seam
  std::int32_t appliedRate = 0;
  TComTimeouts timeouts;  // as applied at opening
  bool hungUp = false;    // owner's thread: a read or write found the other side gone
};

void TCustomComPort::OsDeleter::operator()(Os* os) const {
  if (!os) return;
  if (os->stopFd >= 0) ::close(os->stopFd);
  if (os->fd >= 0) ::close(os->fd);
  delete os;
}

std::unique_ptr<TCustomComPort::Os, TCustomComPort::OsDeleter> TCustomComPort::MakeOs() {
  return std::unique_ptr<Os, OsDeleter>(new Os);
}

// ---- Message catalogue ---------------------------------------------------------------------

std::string ComTranslate(const char* text) {
  static std::once_flag bound;
  std::call_once(bound, [] {
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return;
    std::string dir(exe, static_cast<std::size_t>(n));
    const std::size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    ::bindtextdomain(TextDomain, (dir + "/locale").c_str());
    ::bind_textdomain_codeset(TextDomain, "UTF-8");
  });
  if (!text || !*text) return {};  // gettext("") is the catalogue header
  const char* translated = ::dgettext(TextDomain, text);
  return translated ? translated : text;
}

// ---- Opening and settings ------------------------------------------------------------------

void TCustomComPort::CreateHandle() {
  if (os_->fd >= 0) return;
  const std::string path = DevicePath(Port);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw EComPort(CError_OpenFailed, errno);
  // TIOCEXCL keeps other openers out except root; the lock keeps every other opening of
  // this device out, root's too.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    ::close(fd);
    throw EComPort(CError_OpenFailed, error);
  }
  os_->fd = fd;
  os_->name = Port;
  os_->appliedRate = 0;
  os_->hungUp = false;
}

void TCustomComPort::DestroyHandle() {
  if (os_->fd < 0) return;
  ::ioctl(os_->fd, TIOCNXCL);
  ::close(os_->fd);
  os_->fd = -1;
  os_->appliedRate = 0;
}

void TCustomComPort::ApplyBuffer() {
  if (os_->fd < 0) return;
  // The tty layer sizes its own queues; only nonsense is refused.
  if (Buffer.InputSize <= 0 || Buffer.OutputSize <= 0) throw EComPort(CError_SetupComFailed, EINVAL);
}

void TCustomComPort::ApplyDCB() {
  const int fd = os_->fd;
  if (fd < 0) return;
  const std::int32_t rate = FixedRate(BaudRate, customBaudRate_);
  if (rate <= 0) throw EComPort(CError_SetStateFailed, EINVAL);

  termios2 tio{};
  if (::ioctl(fd, TCGETS2, &tio) != 0) throw EComPort(CError_SetStateFailed, errno);
  // Raw: no translation of any byte, no echo, no signals, no flow control.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL | CBAUD |
                                        (CBAUD << IBSHIFT));
  tio.c_cflag |= DataBitsFlag(DataBits) | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  if (StopBits != sbOneStopBit) tio.c_cflag |= CSTOPB;
  switch (Parity.Bits) {
    case prNone: break;
    case prOdd: tio.c_cflag |= PARENB | PARODD; break;
    case prEven: tio.c_cflag |= PARENB; break;
    case prMark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case prSpace: tio.c_cflag |= PARENB | CMSPAR; break;
  }
  if (Parity.Bits != prNone && Parity.Check) tio.c_iflag |= INPCK;
  if (FlowControl.OutCTSFlow || FlowControl.ControlRTS == rtsHandshake) tio.c_cflag |= CRTSCTS;
  if (FlowControl.XonXoffOut) tio.c_iflag |= IXON;
  if (FlowControl.XonXoffIn) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(FlowControl.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(FlowControl.XoffChar);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  tio.c_ispeed = static_cast<speed_t>(rate);
  tio.c_ospeed = static_cast<speed_t>(rate);
  if (::ioctl(fd, TCSETS2, &tio) != 0) throw EComPort(CError_SetStateFailed, errno);

  termios2 back{};
  if (::ioctl(fd, TCGETS2, &back) != 0) throw EComPort(CError_SetStateFailed, errno);
  if (back.c_ospeed != static_cast<speed_t>(rate)) throw EComPort(CError_SetStateFailed, EINVAL);
  os_->appliedRate = static_cast<std::int32_t>(back.c_ospeed);

  if (!SetModemLine(fd, TIOCM_DTR, FlowControl.ControlDTR == dtrEnable) ||
      !SetModemLine(fd, TIOCM_RTS, FlowControl.ControlRTS == rtsEnable))
    throw EComPort(CError_SetStateFailed, errno);
}

void TCustomComPort::ApplyTimeouts() {
  if (os_->fd < 0) return;
  os_->timeouts = Timeouts;
}

std::int32_t TCustomComPort::AppliedBaudRate() const { return os_->fd >= 0 ? os_->appliedRate : 0; }

// ---- Reading and writing -------------------------------------------------------------------

int TCustomComPort::Read(void* buffer, int count) {
  const int fd = os_->fd;
  if (fd < 0) throw EComPort(CError_ReadFailed, EBADF);
  if (count <= 0) return 0;
  if (!buffer) throw EComPort(CError_ReadFailed, EFAULT);
  if (os_->hungUp) throw EComPort(CError_ReadFailed, EIO);

  const TComTimeouts& t = os_->timeouts;
  const auto start = Clock::now();
  const auto total = TotalDeadline(start, t.ReadTotalMultiplier, t.ReadTotalConstant, count);
  // No interval and no total limit: hand out what is there and return.
  const bool immediate = t.ReadInterval < 0 && !total;
  auto* out = static_cast<unsigned char*>(buffer);
  int got = 0;
  Clock::time_point lastByte = start;
  for (;;) {
    const ssize_t n = ReadSome(fd, os_->name, out + got, static_cast<std::size_t>(count - got));
    if (n > 0) {
      got += static_cast<int>(n);
      rx_.Handed(static_cast<int>(n));
      lastByte = Clock::now();
      if (got == count) return got;
      continue;
    }
    const int error = n < 0 ? errno : 0;
    if (error == EINTR) continue;
    if (n == 0 ? HungUpNow(fd) : PortIsGone(error)) {
      // The other side is gone. Bytes already in hand are returned; the next call fails.
      os_->hungUp = true;
      if (got > 0) return got;
      throw EComPort(CError_ReadFailed, n == 0 ? EIO : error);
    }
    // Nothing there yet (a read that found nothing is no hang-up by itself).
    if (n < 0 && !IsTransient(error)) throw EComPort(CError_ReadFailed, error);
    if (immediate) return got;

    int wait = -1;
    if (total) wait = MsUntil(*total);
    if (got > 0 && t.ReadInterval > 0) {
      const int interval = MsUntil(lastByte + std::chrono::milliseconds(t.ReadInterval));
      wait = wait < 0 ? interval : std::min(wait, interval);
    }
    if (wait == 0) return got;
    const int r = PollOnce(fd, POLLIN, wait);
    if (r < 0 && errno != EINTR) throw EComPort(CError_ReadFailed, errno);
    // Readable, hung up or timed out: the next read() or the deadlines decide.
  }
}

int TCustomComPort::Write(const void* buffer, int count) {
  const int fd = os_->fd;
  if (fd < 0) throw EComPort(CError_WriteFailed, EBADF);
  if (count <= 0) return 0;
  if (!buffer) throw EComPort(CError_WriteFailed, EFAULT);
  if (os_->hungUp) throw EComPort(CError_WriteFailed, EIO);

  const TComTimeouts& t = os_->timeouts;
  const auto total = TotalDeadline(Clock::now(), t.WriteTotalMultiplier, t.WriteTotalConstant, count);
  const auto* in = static_cast<const unsigned char*>(buffer);
  int done = 0;
  for (;;) {
    const ssize_t n = WriteSome(fd, os_->name, in + done, static_cast<std::size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      if (done == count) return done;
      continue;
    }
    const int error = n < 0 ? errno : 0;
    if (error == EINTR) continue;
    if (PortIsGone(error)) {
      os_->hungUp = true;
      throw EComPort(CError_WriteFailed, error);
    }
    if (n < 0 && !IsTransient(error)) throw EComPort(CError_WriteFailed, error);
    const int wait = total ? MsUntil(*total) : -1;
    if (wait == 0) return done;
    const int r = PollOnce(fd, POLLOUT, wait);
    if (r < 0 && errno != EINTR) throw EComPort(CError_WriteFailed, errno);
    if (r > 0 && (r & (POLLHUP | POLLERR)) && !(r & POLLOUT)) {
      os_->hungUp = true;
      throw EComPort(CError_WriteFailed, EIO);
    }
  }
}

int TCustomComPort::InputCount() {
  if (os_->fd < 0) throw EComPort(CError_ClearComFailed, EBADF);
  const TQueued queued = QueuedBytes();
  switch (queued.kind) {
    case TQueued::Count: return static_cast<int>(std::min<std::uint64_t>(queued.bytes, INT_MAX));
    case TQueued::Busy: return 0;  // not now: the event thread looks again
    case TQueued::Failed: break;
  }
  // A hung-up tty keeps nothing to read; the hang-up itself is announced and makes reads and
  // writes fail.
  if (!PortIsGone(queued.error)) throw EComPort(CError_ClearComFailed, queued.error);
  os_->hungUp = true;
  return 0;
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
  if (os_->fd < 0) throw EComPort(CError_PurgeFailed, EBADF);
  if (!input && !output) return;
  const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  if (::ioctl(os_->fd, TCFLSH, which) != 0) throw EComPort(CError_PurgeFailed, errno);
}

void TCustomComPort::PurgeAtClose() {
  if (os_->fd >= 0) ::ioctl(os_->fd, TCFLSH, TCIOFLUSH);  // a hung-up port may refuse; it closes anyway
}

// ---- The event thread's wait ---------------------------------------------------------------

void TCustomComPort::OpenStopSignal() {
  if (os_->stopFd >= 0) ::close(os_->stopFd);
  os_->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (os_->stopFd < 0) throw EComPort(CError_OpenFailed, errno);
}

void TCustomComPort::SignalStop() {
  if (os_->stopFd < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(os_->stopFd, &one, sizeof one);
}

void TCustomComPort::CloseStopSignal() {
  if (os_->stopFd < 0) return;
  ::close(os_->stopFd);
  os_->stopFd = -1;
}

TQueued TCustomComPort::QueuedBytes() const {
  if (os_->fd < 0) return {TQueued::Failed, 0, EBADF};
  int waiting = 0;
  if (AskQueue(os_->fd, os_->name, waiting) == 0)
    return {TQueued::Count, static_cast<std::uint64_t>(std::max(waiting, 0))};
  const int error = errno;
  return {IsTransient(error) ? TQueued::Busy : TQueued::Failed, 0, error};
}

TCustomComPort::TLineEvent TCustomComPort::WaitLineEvent() {
  const Os& os = *os_;
  int failedWaits = 0;
  for (;;) {
    const bool watching = rx_.Watching();
    pollfd fds[2] = {{os.stopFd, POLLIN, 0}, {os.fd, static_cast<short>(watching ? 0 : POLLIN), 0}};
    const int r = PollLine(fds, watching ? WatchPeriodMs : -1, os.name);
    if (r < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      // Short of resources for a moment: wait again a little later. A wait that keeps
      // failing, or fails otherwise, leaves a port nobody can hear: it is announced as gone,
      // so that its owner closes it.
      if ((error == EAGAIN || error == ENOMEM) && ++failedWaits < PatientWaits) {
        std::this_thread::sleep_for(std::chrono::milliseconds(WatchPeriodMs));
        continue;
      }
      return TLineEvent::HangUp;
    }
    failedWaits = 0;
    if (fds[0].revents) return TLineEvent::Stop;
    switch (rx_.Look([this] { return QueuedBytes(); }, r > 0)) {
      case TRxLook::News: return TLineEvent::RxChar;  // announced before a hang-up, too
      case TRxLook::Gone: return TLineEvent::HangUp;
      case TRxLook::Nothing: break;
    }
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return TLineEvent::HangUp;
  }
}

// ---- Port list -----------------------------------------------------------------------------

namespace {
// A serial-core port without hardware behind it (the legacy ttyS entries) reports type 0,
// PORT_UNKNOWN, in its "type" attribute; USB ports have no such attribute.
bool IsAbsentSerialCorePort(const std::string& entry) {
  std::ifstream type(entry + "/type");
  if (!type) return false;
  int value = -1;
  return (type >> value) && value == 0;
}
}  // namespace

void EnumComPorts(std::vector<std::string>& ports) { EnumComPorts(ports, "/sys/class/tty"); }

void EnumComPorts(std::vector<std::string>& ports, const std::string& ttyClassDir) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(ttyClassDir.c_str());
  if (!dir) throw EComPort(CError_RegError, errno);
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir);
    if (!d) {
      const int error = errno;
      ::closedir(dir);
      if (error != 0) throw EComPort(CError_RegError, error);
      break;
    }
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    const std::string entry = ttyClassDir + "/" + name;
    struct stat st {};
    if (::lstat((entry + "/device").c_str(), &st) != 0) continue;
    if (IsAbsentSerialCorePort(entry)) continue;
    names.push_back(name);
  }
  if (const char* extra = std::getenv("ZPITOOL_EXTRA_PORTS")) {
    const std::string list = extra;
    std::size_t from = 0;
    while (from <= list.size()) {
      std::size_t to = list.find(':', from);
      if (to == std::string::npos) to = list.size();
      if (to > from) names.push_back(list.substr(from, to - from));
      from = to + 1;
    }
  }
  SortComPortNames(names);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  ports = std::move(names);
}
