#include "support/process.h"

// Std
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <csignal>

// POSIX
#include <fcntl.h>
#include <termios.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

int MillisecondsLeft(Process::Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Process::Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

}  // namespace

Process::Process(std::string program, std::vector<std::string> args, std::vector<std::string> environment) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return;
  }
  Spawn(std::move(program), std::move(args), std::move(environment), out[1], err[1], "");
  close(out[1]);
  close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
}

Process::Process(std::string program, std::vector<std::string> args, std::vector<std::string> environment,
                 Terminal terminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[64];
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    if (master >= 0) close(master);
    return;
  }
  const winsize size{terminal.rows, terminal.columns, 0, 0};
  ioctl(master, TIOCSWINSZ, &size);
  heldTerminal_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  Spawn(std::move(program), std::move(args), std::move(environment), -1, -1, name);
  outFd_ = terminalFd_ = master;
}

void Process::Spawn(std::string program, std::vector<std::string> args, std::vector<std::string> environment,
                    int out, int err, const std::string& terminal) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (std::none_of(environment.begin(), environment.end(),
                     [&](const std::string& mine) { return NameOf(mine) == NameOf(entry); }))
      env.push_back(entry);
  }
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (terminal.empty()) {
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
  } else {
    // A session of its own, whose first terminal opened becomes its controlling terminal.
    flags |= POSIX_SPAWN_SETSID;
    posix_spawn_file_actions_addopen(&actions, 1, terminal.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // The program gets the default reaction to the signals a test sends, whatever the test runs with.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, flags);
  if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ > 0) pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

Process::~Process() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    Reap(true);
  }
  for (const int fd : {outFd_, errFd_, pidFd_})
    if (fd >= 0) close(fd);
  if (terminalFd_ >= 0 && terminalFd_ != outFd_) close(terminalFd_);
  if (heldTerminal_ >= 0) close(heldTerminal_);
}

void Process::Signal(int signal) {
  if (pid_ > 0 && !exited_) kill(pid_, signal);
}

bool Process::Type(const std::string& keys) {
  return terminalFd_ >= 0 && write(terminalFd_, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
}

bool Process::Reap(bool block) {
  if (exited_ || pid_ <= 0) return exited_;
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got != pid_) return false;
  exited_ = true;
  if (heldTerminal_ >= 0) close(heldTerminal_);  // what is left to read ends the terminal's output
  heldTerminal_ = -1;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool Process::ReadSome(Clock::time_point deadline) {
  pollfd fds[3];
  nfds_t n = 0;
  for (const int fd : {outFd_, errFd_})
    if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
  const bool watchExit = !exited_ && pidFd_ >= 0;
  if (watchExit) fds[n++] = {pidFd_, POLLIN, 0};
  if (n == 0) return false;
  // Without a process descriptor the exit is looked for every 10 ms.
  const int timeout = !exited_ && pidFd_ < 0 ? std::min(10, MillisecondsLeft(deadline)) : MillisecondsLeft(deadline);
  const int ready = poll(fds, n, timeout);
  if (ready < 0 && errno != EINTR) return false;
  bool progressed = false;
  for (nfds_t i = 0; i < n; ++i) {
    if (!fds[i].revents) continue;
    if (fds[i].fd == pidFd_) {
      progressed |= Reap(false);
      continue;
    }
    int& fd = fds[i].fd == outFd_ ? outFd_ : errFd_;
    std::string& into = fd == outFd_ ? out_ : err_;
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      into.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      // A terminal's master reads EIO once the program and its children have let it go.
      if (fd == terminalFd_) terminalFd_ = -1;
      close(fd);
      fd = -1;
    }
    progressed = true;
  }
  if (pidFd_ < 0) progressed |= Reap(false);
  return progressed || Clock::now() < deadline;
}

bool Process::ReadUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= deadline || !ReadSome(deadline)) return done();
  }
  return true;
}

std::string Process::Line(std::chrono::milliseconds timeout) {
  std::size_t end = std::string::npos;
  ReadUntil([&] { return (end = out_.find('\n', lineFrom_)) != std::string::npos; }, timeout);
  if (end == std::string::npos) return {};
  std::string line = out_.substr(lineFrom_, end - lineFrom_);
  lineFrom_ = end + 1;
  return line;
}

int Process::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const bool ended = ReadUntil([&] { return exited_ && outFd_ < 0 && errFd_ < 0; }, timeout);
  if (!ended) {
    kill(pid_, SIGKILL);
    Reap(true);
    return -1;
  }
  return status_;
}

Finished RunProgram(const std::string& program, std::vector<std::string> args, std::vector<std::string> environment,
                    std::chrono::milliseconds timeout) {
  Process p(program, std::move(args), std::move(environment));
  Finished f;
  f.status = p.Wait(timeout);
  f.out = p.Out();
  f.err = p.Err();
  return f;
}
