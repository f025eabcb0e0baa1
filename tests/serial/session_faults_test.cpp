// A UnitSession serving the simulated unit, the way zpictl serves one, with a fault from the
// system in the middle of reading an invalid configuration and writing the stock one in its
// place: the service completes, or ends as the port failure zpictl reports as unplugged, and
// every frame the unit got was whole and came once.
#include "config/config_record.h"
#include "service/unit_session.h"
#include "sim/sim_unit.h"
#include "support/system_faults.h"

#include <gtest/gtest.h>

// Std
#include <numeric>
#include <optional>
#include <set>
#include <string>

namespace {

using namespace std::chrono_literals;
using system_faults::Row;

class Outcome final : public SessionListener {
 public:
  void Failure(const ServiceFailure& failure) override { failed = failure.code; }
  void TransferComplete(std::uint8_t kind) override { written = written || kind == TransferConfig; }
  void Closed(std::string_view why) override { closed = std::string(why); }
  [[nodiscard]] bool Ended() const { return written || failed || closed; }

  bool written = false;
  std::optional<int> failed;
  std::optional<std::string> closed;
};

std::size_t Bytes(const std::vector<SimChunk>& chunks) {
  return std::accumulate(chunks.begin(), chunks.end(), std::size_t{0},
                         [](std::size_t n, const SimChunk& c) { return n + c.bytes.size(); });
}

class SessionSystemFaults : public ::testing::TestWithParam<Row> {};

TEST_P(SessionSystemFaults, TheServiceCompletesOrEndsAsAPortFailureAndNoFrameIsCutOrRepeated) {
  const Row& row = GetParam();
  SimOptions options;
  options.memory = StartImage("invalid");
  SimUnit unit(options);
  unit.Start();
  Outcome outcome;
  std::optional<std::string> thrown;  // a port failure on the owner's thread
  {
    system_faults::Armed fault(unit.DevicePath(), row, system_faults::MidService(row.call),
                               [&unit] { unit.Send({0x00}); });
    UnitSession session(unit.DevicePath(), outcome);
    session.Open();
    try {
      EXPECT_TRUE(session.RunUntil([&] { return outcome.Ended(); }, UnitSession::Clock::now() + 20s));
    } catch (const EComPort& e) {
      thrown = e.what();
    }
    session.Close();
    EXPECT_TRUE(fault.Fired());
  }

  // Every byte the unit took in belongs to a whole frame (a cut one never completes), and no
  // frame came twice (a lost answer would have brought a resend).
  EXPECT_TRUE(unit.WaitFor([&] {
    std::size_t inFrames = 0;
    for (const SimFrame& f : unit.Frames()) inFrames += f.bytes.size();
    return inFrames == Bytes(unit.Received());
  }, 1s)) << "bytes outside whole frames";
  const std::vector<SimFrame> frames = unit.Frames();
  std::set<SimBytes> distinct;
  for (const SimFrame& f : frames) distinct.insert(f.bytes);
  EXPECT_EQ(distinct.size(), frames.size()) << "a frame came twice";

  if (row.Recoverable()) {
    EXPECT_TRUE(outcome.written);
    EXPECT_FALSE(outcome.failed);
    EXPECT_FALSE(outcome.closed) << *outcome.closed;
    EXPECT_FALSE(thrown) << *thrown;
    EXPECT_EQ(frames.size(), 5u + 44u);  // the read's requests and the write's blocks
    EXPECT_EQ(unit.Memory(), EncodeConfigImage(DefaultConfig()).image);
  } else {
    EXPECT_TRUE(outcome.closed || thrown) << "the port failure was not reported";
    // The port closed, so a transfer or read that ticks meets no connection; it never waits
    // for a silent unit.
    if (outcome.failed) {
      EXPECT_TRUE(*outcome.failed == 1 || *outcome.failed == 3) << *outcome.failed;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, SessionSystemFaults, ::testing::ValuesIn(system_faults::Rows()), system_faults::RowName);

}  // namespace
