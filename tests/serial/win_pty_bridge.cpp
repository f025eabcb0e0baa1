// win_pty_bridge: a null-modem cable between two pseudo-terminals, for the Windows serial
// tests under Wine. Each pseudo-terminal is mapped to a COM port through a symbolic link in
// the Wine prefix (dosdevices/comN), and every byte written to one port is read from the
// other. When the peer's side closes while the port's side is open, the port's side is hung
// up (its master closed, as a unit being unplugged) and a fresh pseudo-terminal takes its
// place under the same name.
//
//   win_pty_bridge <port link> <peer link>      e.g. .../dosdevices/com5 .../dosdevices/com6
//
// Prints "ready" once both links exist; runs until SIGINT or SIGTERM.

// System
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// Std
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) { stopRequested = 1; }

// One pseudo-terminal, its slave reached through a link.
struct Line {
  std::string link;
  int master = -1;
  bool open = false;  // a slave is open (the master shows no hang-up)

  bool Make() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0) return false;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) return false;
    termios tio{};
    if (::tcgetattr(master, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(master, TCSANOW, &tio);
    }
    open = false;
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    return ::symlink(name, temporary.c_str()) == 0 && ::rename(temporary.c_str(), link.c_str()) == 0;
  }

  void Close() {
    if (master >= 0) ::close(master);
    master = -1;
    open = false;
  }
};

// Whether a slave of `line` is open now; notes the change.
bool SlaveOpen(Line& line) {
  pollfd p{line.master, 0, 0};
  ::poll(&p, 1, 0);
  line.open = (p.revents & POLLHUP) == 0;
  return line.open;
}

// Moves what `from` has to `to`, as much as `to` takes; with nobody at `to` it is dropped,
// like bytes sent down a cable with nothing at its end.
void Carry(Line& from, Line& to) {
  unsigned char buffer[4096];
  for (;;) {
    if (to.open) {
      pollfd out{to.master, POLLOUT, 0};
      if (::poll(&out, 1, 0) <= 0 || !(out.revents & POLLOUT)) return;  // full: wait
    }
    const ssize_t n = ::read(from.master, buffer, sizeof buffer);
    if (n <= 0) return;
    if (!to.open) continue;
    ssize_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(to.master, buffer + done, static_cast<std::size_t>(n - done));
      if (w > 0) {
        done += w;
      } else if (w < 0 && errno == EAGAIN) {
        pollfd out{to.master, POLLOUT, 0};
        ::poll(&out, 1, 100);
      } else {
        return;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: win_pty_bridge <port link> <peer link>\n");
    return 2;
  }
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  Line port{argv[1]};
  Line peer{argv[2]};
  if (!port.Make() || !peer.Make()) {
    std::perror("win_pty_bridge");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);

  while (!stopRequested) {
    const bool portWasOpen = port.open;
    const bool peerWasOpen = peer.open;
    SlaveOpen(port);
    SlaveOpen(peer);
    if (peerWasOpen && !peer.open && port.open) {
      // The peer let go: the port's side is unplugged, and a new line waits under its name.
      port.Close();
      if (!port.Make()) break;
    } else if (portWasOpen && !port.open) {
      // The port was closed: nothing of this connection reaches the next one.
      ::tcflush(port.master, TCIOFLUSH);
    }
    if (peerWasOpen && !peer.open) ::tcflush(peer.master, TCIOFLUSH);

    pollfd fds[2] = {{port.master, static_cast<short>(port.open ? POLLIN : 0), 0},
                     {peer.master, static_cast<short>(peer.open ? POLLIN : 0), 0}};
    // Closed sides show a hang-up at once: look again at a short period rather than spin.
    ::poll(fds, 2, (port.open && peer.open) ? 10 : 5);
    if (!port.open || !peer.open) ::usleep(5000);
    if (port.open) Carry(port, peer);
    if (peer.open) Carry(peer, port);
  }
  port.Close();
  peer.Close();
  ::unlink(argv[1]);
  ::unlink(argv[2]);
  return 0;
}
