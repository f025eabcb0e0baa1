// The zpisim executable, run as a person or a script would run it.
#include "tool_side.h"

#include <gtest/gtest.h>

// lib
#include "support/process.h"

// Std
#include <csignal>
#include <string>
#include <vector>

namespace {

// zpisim with these arguments.
class ZpisimProcess : public Process {
 public:
  explicit ZpisimProcess(std::vector<std::string> args) : Process(ZPISIM_PATH, std::move(args)) {}
};

TEST(Zpisim, HelpListsEveryOption) {
  ZpisimProcess p({"--help"});
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
  ZpisimProcess p({"--fault", "melt@1"});
  ASSERT_TRUE(p.Started());
  EXPECT_EQ(p.Wait(10s), 2);
  EXPECT_EQ(p.Out(), "");
  EXPECT_NE(p.Err().find("melt@1"), std::string::npos);
}

TEST(Zpisim, PrintsItsDeviceAndAnnouncesUntilStopped) {
  ZpisimProcess p({"--announce-period", "100", "--kind", "3", "--firmware", "2.10"});
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
    ZpisimProcess p({"--quiet"});
    ASSERT_TRUE(p.Started());
    ASSERT_FALSE(p.Line(10s).empty());
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(10s), 0);
    EXPECT_EQ(p.Err(), "") << "quiet";
  }
  {
    ZpisimProcess p({"--fault", "hang-up@1", "-q"});
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
