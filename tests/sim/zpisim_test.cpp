// The zpisim executable, run as a person or a script would run it.
#include "tool_side.h"

#include <gtest/gtest.h>

// lib
#include "support/process.h"

// nlohmann-json
#include <nlohmann/json.hpp>

// Std
#include <csignal>
#include <cstdio>
#include <fstream>
#include <numeric>
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
                             "--announce-period", "--fault", "--dump", "--quiet", "--help", "ZPITOOL_EXTRA_PORTS"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

TEST(Zpisim, ABadOptionIsReportedAndNothingRuns) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"--fault", "melt@1"}, 2, "melt@1"},
      {{"--dump", "/nonexistent/dump.json"}, 1, "--dump /nonexistent/dump.json: No such file or directory"},
  };
  for (const auto& c : cases) {
    ZpisimProcess p(c.args);
    ASSERT_TRUE(p.Started());
    EXPECT_EQ(p.Wait(10s), c.status);
    EXPECT_EQ(p.Out(), "");
    EXPECT_NE(p.Err().find(c.says), std::string::npos) << p.Err();
  }
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

TEST(Zpisim, DumpsItsMemoryWhenItEnds) {
  const std::string path = ::testing::TempDir() + "zpisim_dump.json";
  ZpisimProcess p({"--dump", path, "-q"});
  ASSERT_TRUE(p.Started());
  const std::string device = p.Line(10s);
  const auto written = EncodeConfigImage(Edited());
  {
    ToolSide tool(device);
    ASSERT_TRUE(tool.NextFrame(2s));
    for (const auto& frame : TransferFrames(CmdConfigBlock, 0x4000, written.image, written.trailer))
      ASSERT_TRUE(tool.Ask(frame));
    SimBytes firmware(100);
    std::iota(firmware.begin(), firmware.end(), std::uint8_t{7});  // exclusive OR 0x6C, sum 5650
    for (const auto& frame : TransferFrames(CmdFirmwareBlock, 0xBEEF, firmware, {0x6C, 0x00, 0x00, 0x16, 0x12}))
      ASSERT_TRUE(tool.Ask(frame));
  }
  p.Signal(SIGTERM);
  ASSERT_EQ(p.Wait(10s), 0);
  std::ifstream in(path);
  const auto dump = nlohmann::json::parse(in, nullptr, false);
  ASSERT_FALSE(dump.is_discarded()) << path;
  std::string hex;
  for (const std::uint8_t b : written.image) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", b);
    hex += digits;
  }
  EXPECT_EQ(dump.value("configuration", ""), hex);
  EXPECT_EQ(dump["firmware"], (nlohmann::json{{"length", 100}, {"xor", 0x6C}, {"sum", 5650}}));
  std::remove(path.c_str());
}

}  // namespace
