// The zpisim executable, run as a person or a script would run it.
#include "tool_side.h"

#include <gtest/gtest.h>

// Std
#include <csignal>
#include <string>
#include <vector>

// POSIX
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// A running zpisim with its stdout and stderr on pipes.
class Process {
 public:
  explicit Process(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    args.insert(args.begin(), ZPISIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, ZPISIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Process() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  [[nodiscard]] bool Started() const { return pid_ > 0; }

  // Reads stdout until a line is complete (without its newline) or the time is up.
  std::string Line(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (const auto nl = outText_.find('\n'); nl != std::string::npos) {
        std::string line = outText_.substr(0, nl);
        outText_.erase(0, nl + 1);
        return line;
      }
      if (!ReadSome(out_, outText_, deadline)) return {};
    }
  }

  // Waits for the exit; -1 when it did not come in time.
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      poll(nullptr, 0, 5);
    }
  }
  void Signal(int signal) { kill(pid_, signal); }

  // All that is left on stdout and stderr (after the exit).
  std::string Out() {
    while (ReadSome(out_, outText_, std::chrono::steady_clock::now() + 1s)) {
    }
    return outText_;
  }
  std::string Err() {
    while (ReadSome(err_, errText_, std::chrono::steady_clock::now() + 1s)) {
    }
    return errText_;
  }

 private:
  static bool ReadSome(int fd, std::string& into, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    into.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool exited_ = false;
  std::string outText_, errText_;
};

TEST(Zpisim, HelpListsEveryOption) {
  Process p({"--help"});
  ASSERT_TRUE(p.Started());
  ASSERT_EQ(p.Wait(10s), 0);
  const std::string help = p.Out();
  for (const char* option : {"--mode", "--kind", "--version2", "--firmware", "--restart-firmware", "--id", "--base",
                             "--text-a", "--text-b", "--image", "--ack-delay", "--restart-delay",
                             "--announce-period", "--fault", "--quiet", "--help", "ZPITOOL_EXTRA_PORTS"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

TEST(Zpisim, ABadOptionIsReportedAndNothingRuns) {
  Process p({"--fault", "melt@1"});
  ASSERT_TRUE(p.Started());
  EXPECT_EQ(p.Wait(10s), 2);
  EXPECT_EQ(p.Out(), "");
  EXPECT_NE(p.Err().find("melt@1"), std::string::npos);
}

TEST(Zpisim, PrintsItsDeviceAndAnnouncesUntilStopped) {
  Process p({"--announce-period", "100", "--kind", "3", "--firmware", "2.10"});
  ASSERT_TRUE(p.Started());
  const std::string path = p.Line(10s);
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << "first line: \"" << path << "\"";
  {
    ToolSide tool(path);
    for (int i = 0; i < 3; ++i) {
      const auto frame = tool.NextFrame(2s);
      ASSERT_TRUE(frame) << "announcement " << i;
      const auto info = ParseDeviceInfo(std::span<const std::uint8_t>(*frame).subspan(5, frame->size() - 8));
      ASSERT_TRUE(info);
      EXPECT_EQ(info->Version[0], 3);
      EXPECT_EQ(info->Version[2], 2);
      EXPECT_EQ(info->Version[3], 10);
    }
  }
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(10s), 0);
  const std::string log = p.Err();
  EXPECT_NE(log.find("tool opened the port"), std::string::npos) << log;
  EXPECT_NE(log.find("announce: mode 1, v3.1.2.10"), std::string::npos) << log;
  EXPECT_NE(log.find("stopped"), std::string::npos) << log;
}

TEST(Zpisim, StopsOnInterruptAndExitsWhenUnplugged) {
  {
    Process p({"--quiet"});
    ASSERT_TRUE(p.Started());
    ASSERT_FALSE(p.Line(10s).empty());
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(10s), 0);
    EXPECT_EQ(p.Err(), "") << "quiet";
  }
  {
    Process p({"--fault", "hang-up@1", "-q"});
    ASSERT_TRUE(p.Started());
    const std::string path = p.Line(10s);
    ToolSide tool(path);
    ASSERT_TRUE(tool.NextFrame(2s));
    tool.Send(ReadRequest(0x10000, 4));
    EXPECT_TRUE(tool.PumpUntil([&] { return tool.HungUp(); }, 2s));
    EXPECT_EQ(p.Wait(10s), 0);
  }
}

}  // namespace
