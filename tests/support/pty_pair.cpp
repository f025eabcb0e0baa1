#include "support/pty_pair.h"

// System
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// Std
#include <algorithm>
#include <cerrno>
#include <cstdlib>

PtyPair::PtyPair(bool holdSlave) {
  const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  char name[128];
  if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
    ::close(fd);
    return;
  }
  // Settings made on the master apply to the pair's slave side.
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  master_ = fd;
  slavePath_ = name;
  if (holdSlave) heldSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  if (heldSlave_ >= 0) ::close(heldSlave_);
  HangUp();
}

bool PtyPair::Write(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{master_, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return false;
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return true;
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < count) {
    std::uint8_t buffer[4096];
    const std::size_t want = std::min(count - got.size(), sizeof buffer);
    const ssize_t n = ::read(master_, buffer, want);
    if (n > 0) {
      got.insert(got.end(), buffer, buffer + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (!(n < 0 && errno == EAGAIN)) break;  // EIO: nobody has the slave open
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
  }
  return got;
}

void PtyPair::Drain() {
  std::uint8_t buffer[4096];
  while (::read(master_, buffer, sizeof buffer) > 0) {
  }
}

void PtyPair::HangUp() {
  if (master_ < 0) return;
  ::close(master_);
  master_ = -1;
}
