// The serial port component's system side on Linux: the tty device, termios2 settings,
// poll() time limits, the event thread's wait and the port list from /sys/class/tty.
#include "serial/comport.h"

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

namespace {

using Clock = std::chrono::steady_clock;

// While a handler has left bytes unread, the event thread looks for more this often instead
// of waiting for "readable", which would be true at once and spin.
constexpr int WatchPeriodMs = 10;

constexpr const char* TextDomain = "cport";

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

// Total time limit mult * n + constant; none when both are 0 or either is -1 ("no limit").
std::optional<Clock::time_point> TotalDeadline(Clock::time_point start, std::int32_t mult,
                                               std::int32_t constant, int count) {
  if (mult < 0 || constant < 0) return std::nullopt;
  if (mult == 0 && constant == 0) return std::nullopt;
  const long long ms = static_cast<long long>(mult) * count + constant;
  return start + std::chrono::milliseconds(ms);
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
    const ssize_t n = ::read(fd, out + got, static_cast<std::size_t>(count - got));
    if (n > 0) {
      got += static_cast<int>(n);
      rx_.Handed(static_cast<int>(n));
      lastByte = Clock::now();
      if (got == count) return got;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EIO) {
      // The other side is gone. Bytes already in hand are returned; the next call fails.
      os_->hungUp = true;
      if (got > 0) return got;
      throw EComPort(CError_ReadFailed, EIO);
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) throw EComPort(CError_ReadFailed, errno);
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
    const ssize_t n = ::write(fd, in + done, static_cast<std::size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      if (done == count) return done;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EIO) {
      os_->hungUp = true;
      throw EComPort(CError_WriteFailed, EIO);
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) throw EComPort(CError_WriteFailed, errno);
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
  int waiting = 0;
  if (::ioctl(os_->fd, FIONREAD, &waiting) != 0) {
    // A hung-up tty keeps nothing to read; the hang-up itself is announced and makes
    // reads and writes fail.
    if (errno != EIO) throw EComPort(CError_ClearComFailed, errno);
    os_->hungUp = true;
    return 0;
  }
  return waiting;
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

std::optional<std::uint64_t> TCustomComPort::QueuedBytes() const {
  int waiting = 0;
  if (os_->fd < 0 || ::ioctl(os_->fd, FIONREAD, &waiting) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(std::max(waiting, 0));
}

TCustomComPort::TLineEvent TCustomComPort::WaitLineEvent() {
  const Os& os = *os_;
  for (;;) {
    const bool watching = rx_.Watching();
    pollfd fds[2] = {{os.stopFd, POLLIN, 0}, {os.fd, static_cast<short>(watching ? 0 : POLLIN), 0}};
    const int r = ::poll(fds, 2, watching ? WatchPeriodMs : -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return TLineEvent::Stop;  // a failed wait ends the thread
    }
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
