// zpictl's live view on a terminal of its own.
#include "config/config_record.h"
#include "ctl/journal.h"
#include "ctl/zpictl_support.h"
#include "support/terminal_screen.h"

// Std
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

// POSIX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace {

using namespace ctl_test;
namespace fs = std::filesystem;

SimOptions Unit(UnitShape shape, std::chrono::milliseconds ackDelay = 0ms) {
  SimOptions o = Options(shape);
  o.ackDelay = ackDelay;
  return o;
}

// ---- The live view on a terminal --------------------------------------------------------------

// The screen a program left, on a terminal of 100 by 30.
struct Screen {
  std::vector<std::string> lines;
  std::size_t bells = 0;
  int status = -1;
};

Screen OnTerminal(Process& program, std::chrono::milliseconds timeout) {
  Screen screen;
  screen.status = program.Wait(timeout);
  TerminalScreen terminal(100, 30);
  terminal.Feed(program.Out());
  screen.lines = terminal.Lines();
  screen.bells = terminal.Bells();
  return screen;
}

std::string Text(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(LiveView, LeavesTheScreenCleanWhenItEndsOrIsInterrupted) {
  const struct {
    const char* name;
    bool interrupt;
    std::string last;
  } cases[] = {{"run to its end", false, "2 of 2 units succeeded"},
               {"Ctrl+C typed mid-upload", true, "0 of 2 units succeeded"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto a = Started(Unit({.minor = 45, .serial = 1}, c.interrupt ? 2ms : 0ms));
    auto b = Started(Unit({.minor = 45, .serial = 2}, c.interrupt ? 2ms : 0ms));
    Process zpictl(ZPICTL_PATH, {"service", a->DevicePath(), b->DevicePath()}, {}, {100, 30});
    if (c.interrupt) {
      ASSERT_TRUE(zpictl.ReadUntil([&] { return zpictl.Out().find("% upload") != std::string::npos; }, 20s));
      zpictl.Type("\x03");
    }
    const Screen screen = OnTerminal(zpictl, 30s);
    const std::string text = Text(screen.lines);
    ASSERT_FALSE(screen.lines.empty());
    EXPECT_EQ(screen.lines.back(), c.last) << text << "nothing stays under the summary";
    for (const std::string& line : screen.lines) {
      EXPECT_EQ(line.find("] "), std::string::npos) << "a progress row is left: " << line;
      if (line.find("interrupted: closing every port") != std::string::npos) {
        EXPECT_EQ(line, "interrupted: closing every port") << "written over a row";
      }
    }
    EXPECT_EQ(std::count(screen.lines.begin(), screen.lines.end(), "interrupted: closing every port"),
              c.interrupt ? 1 : 0)
        << text;
  }
}

}  // namespace
