// The serial component on a line, the same on every system: the component has the port, the
// test plays the unit on the far end (support/peer_line.h) and a plain loop stands in for the
// UI thread. Where a system does something its own way the line's traits say so.
#include "support/peer_line.h"
#include "support/system_faults.h"

#include <gtest/gtest.h>

// Std
#include <algorithm>
#include <chrono>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace ui_loop;
using comport_line::ComPortLineTest;

namespace {

// ---- Opening -------------------------------------------------------------------------------

TEST_F(ComPortLineTest, OpeningAnOpenPortOrClosingAClosedOneDoesNothing) {
  EXPECT_NO_THROW(port.Close());
  EXPECT_FALSE(port.Connected());
  port.SetConnected(true);
  ASSERT_TRUE(port.Connected());
  line->Drain();
  EXPECT_NO_THROW(port.Open());
  EXPECT_NO_THROW(port.SetConnected(true));
  EXPECT_TRUE(port.Connected());

  // Still one working port with one event thread: one frame, one announcement.
  ASSERT_TRUE(line->Write(Sequence(8)));
  ASSERT_TRUE(loop.RunUntil([&] { return received.size() == 8; }));
  loop.RunFor(50ms);
  EXPECT_EQ(counts, std::vector<int>{8});

  port.SetConnected(false);
  EXPECT_FALSE(port.Connected());
  EXPECT_NO_THROW(port.SetConnected(false));
  EXPECT_NO_THROW(port.Close());
  // And it opens again.
  EXPECT_NO_THROW(port.Open());
  EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortLineTest, EveryByteValuePassesUnchangedBothWays) {
  port.SetHandOff(nullptr);  // plain reads, no announcements
  Open();
  const Bytes all = Sequence(256);
  ASSERT_TRUE(line->Write(all));
  if (line->Traits().relayed) {
    ASSERT_TRUE(WaitFor([&] { return port.InputCount() == 256; }));
  }
  Bytes in;
  EXPECT_EQ(Read(in, 256), 256);
  EXPECT_EQ(in, all);

  port.Timeouts = {200, 100, 100, 100, 1000};
  port.Close();
  Open();
  EXPECT_EQ(port.Write(all.data(), 256), 256);
  EXPECT_EQ(line->Read(256, 2000ms), all);
}

// ---- Announcements -------------------------------------------------------------------------

TEST_F(ComPortLineTest, TwoFramesWhileTheUiIsBusyAreOneAnnouncementWithTheSum) {
  Open();
  const Bytes first = Sequence(8, 0x10);
  const Bytes second = Sequence(13, 0x40);
  ASSERT_TRUE(line->Write(first));
  ASSERT_TRUE(loop.WaitPending(1));  // announced, but the UI thread is busy
  ASSERT_TRUE(line->Write(second));
  ASSERT_TRUE(WaitFor([&] { return port.InputCount() == 21; }));

  ASSERT_TRUE(loop.RunUntil([&] { return !counts.empty(); }));
  loop.RunFor(100ms);
  EXPECT_EQ(counts, std::vector<int>{21});
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  EXPECT_EQ(received, both);
}

TEST_F(ComPortLineTest, AnEventWhoseBytesWereAlreadyReadAnnouncesNothing) {
  Open();
  ASSERT_TRUE(line->Write(Sequence(8)));
  ASSERT_TRUE(loop.WaitPending(1));
  Bytes early;
  ASSERT_EQ(Read(early, 8), 8);
  ASSERT_TRUE(loop.RunUntil([&] { return loop.handOff->Pending() == 0; }));
  loop.RunFor(50ms);
  EXPECT_TRUE(counts.empty());

  // And the port goes on announcing.
  ASSERT_TRUE(line->Write(Sequence(5)));
  ASSERT_TRUE(loop.RunUntil([&] { return !counts.empty(); }));
  EXPECT_EQ(counts, std::vector<int>{5});
}

TEST_F(ComPortLineTest, BytesLeftUnreadAreNotAnnouncedAgainUntilMoreArrive) {
  readInHandler = false;
  Open();
  ASSERT_TRUE(line->Write(Sequence(5)));
  ASSERT_TRUE(loop.RunUntil([&] { return counts.size() == 1; }));
  loop.RunFor(150ms);
  EXPECT_EQ(counts, std::vector<int>{5});

  ASSERT_TRUE(line->Write(Sequence(3)));
  ASSERT_TRUE(loop.RunUntil([&] { return counts.size() == 2; }));
  loop.RunFor(50ms);
  EXPECT_EQ(counts, (std::vector<int>{5, 8}));
}

TEST_F(ComPortLineTest, BytesArrivingWhileTheHandlerRunsAreAnnouncedAfterIt) {
  bool more = true;
  port.OnRxChar = [&](TCustomComPort& sender, int count) {
    Bytes buffer(static_cast<std::size_t>(count));
    EXPECT_EQ(sender.Read(buffer.data(), count), count);
    counts.push_back(count);
    if (more) {
      more = false;
      // The next frame is in before this handler returns.
      ASSERT_TRUE(line->Write(Sequence(9)));
      ASSERT_TRUE(WaitFor([&] { return sender.InputCount() == 9; }));
    }
  };
  Open();
  ASSERT_TRUE(line->Write(Sequence(4)));
  ASSERT_TRUE(loop.RunUntil([&] { return counts.size() == 2; }));
  EXPECT_EQ(counts, (std::vector<int>{4, 9}));
}

// ---- Closing -------------------------------------------------------------------------------

TEST_F(ComPortLineTest, ClosingWithAHandOffPendingReturnsAndRunsIt) {
  Open();
  ASSERT_TRUE(line->Write(Sequence(8)));
  ASSERT_TRUE(loop.WaitPending(1));
  port.Close();  // never pumped by the test loop
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(loop.handOff->Pending(), 0u);
  // It ran while the handle was still open, so the bytes were there to read.
  EXPECT_EQ(counts, std::vector<int>{8});
  EXPECT_EQ(received, Sequence(8));
}

TEST_F(ComPortLineTest, ClosingFromInsideAHandlerDoesNotDeadlockAndTheNextOpeningWorks) {
  port.OnRxChar = [&](TCustomComPort& sender, int count) {
    counts.push_back(count);
    sender.Close();
    EXPECT_FALSE(sender.Connected());
  };
  Open();
  ASSERT_TRUE(line->Write(Sequence(8)));
  ASSERT_TRUE(loop.RunUntil([&] { return !counts.empty(); }));
  EXPECT_FALSE(port.Connected());

  port.OnRxChar = [&](TCustomComPort&, int count) { counts.push_back(count); };
  line->Drain();
  Open();
  ASSERT_TRUE(line->Write(Sequence(4)));
  ASSERT_TRUE(loop.RunUntil([&] { return counts.size() == 2; }));
  EXPECT_EQ(counts.back(), 4);
}

// ---- Hang-up -------------------------------------------------------------------------------

TEST_F(ComPortLineTest, HangUpIsAnnouncedOnceAndReadsAndWritesFailClearly) {
  if (!line->Traits().noHangUp.empty()) GTEST_SKIP() << line->Traits().noHangUp;
  Open();
  line->HangUp();
  ASSERT_TRUE(loop.RunUntil([&] { return hangUps == 1; }));
  loop.RunFor(100ms);
  EXPECT_EQ(hangUps, 1);
  EXPECT_TRUE(counts.empty());

  const auto expectSystemError = [&](const EComPort& e) {
    if (const auto code = line->Traits().hangUpError) {
      EXPECT_EQ(e.WinCode(), *code);
    } else {
      EXPECT_GT(e.WinCode(), 0);
    }
  };
  Bytes in;
  try {
    Read(in, 8);
    ADD_FAILURE() << "read after hang-up";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 3);
    expectSystemError(e);
    EXPECT_EQ(std::string(e.what()), "ReadFile function failed (win error code: " + std::to_string(e.WinCode()) + ")");
  }
  const Bytes frame = Sequence(8);
  try {
    port.Write(frame.data(), 8);
    ADD_FAILURE() << "write after hang-up";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 2);
    expectSystemError(e);
  }
  EXPECT_EQ(port.InputCount(), 0);  // gone: nothing waits, and no error box for it
  EXPECT_NO_THROW(port.Close());
  EXPECT_FALSE(port.Connected());
}

// ---- Time limits ---------------------------------------------------------------------------

struct LimitCase {
  const char* name;
  TComTimeouts timeouts;
  int sent;
  int asked;
  int minMs;  // the limit; the read must not end before it (less the clock's tick)
};
void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class ReadLimitTest : public ComPortLineTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(ReadLimitTest, ReadOfMoreThanArrivesReturnsTheShorterCountAfterItsLimit) {
  const LimitCase& c = GetParam();
  port.SetHandOff(nullptr);
  port.Timeouts = c.timeouts;
  Open();
  ASSERT_TRUE(line->Write(Sequence(static_cast<std::size_t>(c.sent))));
  ASSERT_TRUE(WaitFor([&] { return port.InputCount() == c.sent; }));
  Bytes in;
  const auto start = Clock::now();
  EXPECT_EQ(Read(in, c.asked), c.sent);  // a time limit is no failure
  const auto ms = MsSince(start);
  EXPECT_EQ(in, Sequence(static_cast<std::size_t>(c.sent)));
  EXPECT_GE(ms, c.minMs - line->Traits().timerSlackMs);
  EXPECT_LT(ms, 2000);  // a limit, not a speed test
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ReadLimitTest,
    ::testing::Values(LimitCase{"Tool", {200, 100, 100, 2, 2}, 3, 10, 200},       // the gap after the last byte
                      LimitCase{"Total", {0, 2, 30, 2, 2}, 3, 10, 50},            // 2*10+30
                      LimitCase{"Interval", {40, 0, 0, 2, 2}, 3, 10, 40},
                      LimitCase{"IntervalFirst", {30, 5, 200, 2, 2}, 4, 8, 30},
                      LimitCase{"Immediate", {-1, 0, 0, 100, 1000}, 2, 9, 0},     // the component's own default
                      LimitCase{"NothingArrives", {-1, 1, 40, 2, 2}, 0, 5, 45}),  // 1*5+40
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ComPortLineTest, WriteStopsAtItsLimitWhenTheOtherSideTakesNothing) {
  port.SetHandOff(nullptr);
  port.Timeouts = {200, 0, 60, 0, 60};
  Open();
  const Bytes big(1 << 20, 0x55);  // more than any tty, driver or peer queue holds
  const auto start = Clock::now();
  const int n = port.Write(big.data(), static_cast<int>(big.size()));
  const auto ms = MsSince(start);
  if (line->Traits().limitedWritePassesSome) {
    EXPECT_GT(n, 0);
  }
  EXPECT_LT(n, static_cast<int>(big.size()));
  EXPECT_GE(ms, 60 - line->Traits().timerSlackMs);
  EXPECT_LT(ms, 2000);
}

TEST_F(ComPortLineTest, ClearBufferDiscardsWhatWaits) {
  port.SetHandOff(nullptr);
  Open();
  ASSERT_TRUE(line->Write(Sequence(10)));
  ASSERT_TRUE(WaitFor([&] { return port.InputCount() == 10; }));
  port.ClearBuffer(false, true);
  EXPECT_EQ(port.InputCount(), 10);
  port.ClearBuffer(true, false);
  EXPECT_EQ(port.InputCount(), 0);
  char b[4] = {};
  EXPECT_EQ(port.Read(b, 0), 0);
  EXPECT_THROW((void)port.Read(nullptr, 4), EComPort);
}

// ---- Faults from the system ----------------------------------------------------------------

class ComPortSystemFaults : public ComPortLineTest, public ::testing::WithParamInterface<system_faults::Row> {};

// The unit's frame in and the tool's frame out, twice, with the row's fault on the first call
// of its kind: what the system recovers from loses, repeats and cuts nothing on the line; a
// device gone ends as one hang-up and the failure of the call that found it, and nothing waits
// for ever.
TEST_P(ComPortSystemFaults, NothingIsLostRepeatedOrCutAndAVanishedDeviceEndsAsAHangUp) {
  const system_faults::Row& row = GetParam();
  std::vector<int> failures;  // codes of the port's failures, in the handler or out of Write
  port.OnHandlerError = [&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const EComPort& e) {
      failures.push_back(e.Code());
    }
  };
  Open();
  system_faults::Armed fault(port.Port, row, 0, [this] { (void)line->Write(Bytes{0x7E}); });
  Bytes sent, wrote, arrived;
  for (std::uint8_t round = 0; round < 2 && hangUps == 0; ++round) {
    const Bytes in = Sequence(40, static_cast<std::uint8_t>(0x10 + 0x40 * round));
    ASSERT_TRUE(line->Write(in));
    sent.insert(sent.end(), in.begin(), in.end());
    // Each frame is heard before the next one is sent: an answer left waiting is an answer lost.
    const bool heard =
        loop.RunUntil([&] { return received.size() >= sent.size() || hangUps > 0 || !failures.empty(); });
    if (row.Recoverable()) {
      EXPECT_TRUE(heard) << "round " << int{round};
    }
    const Bytes out = Sequence(40, static_cast<std::uint8_t>(0x80 + 0x40 * round));
    try {
      EXPECT_EQ(port.Write(out.data(), 40), 40);
    } catch (const EComPort& e) {
      failures.push_back(e.Code());
    }
    wrote.insert(wrote.end(), out.begin(), out.end());
    const Bytes back = line->Read(40, row.Recoverable() ? 2000ms : 100ms);
    arrived.insert(arrived.end(), back.begin(), back.end());
  }
#if defined(_WIN32)
  if (!fault.Fired() && row.call == TComCall::Wait && ComPortWaitMode(port) == TComWaitMode::Watching)
    GTEST_SKIP() << "the driver has no line-event wait here; the port is watched instead";
#endif
  EXPECT_TRUE(fault.Fired());
  if (row.Recoverable()) {
    EXPECT_EQ(received, sent);
    EXPECT_EQ(arrived, wrote);
    EXPECT_TRUE(line->Read(1, 50ms).empty());
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(hangUps, 0);
  } else {
    ASSERT_TRUE(loop.RunUntil([&] { return hangUps > 0; })) << "no hang-up";
    loop.RunFor(50ms);
    EXPECT_EQ(hangUps, 1);
    // Whatever got through before went whole and once.
    ASSERT_LE(received.size(), sent.size());
    EXPECT_TRUE(std::equal(received.begin(), received.end(), sent.begin()));
    for (const int code : failures) EXPECT_TRUE(code == 2 || code == 3) << code;
  }
  EXPECT_NO_THROW(port.Close());
}

INSTANTIATE_TEST_SUITE_P(Rows, ComPortSystemFaults, ::testing::ValuesIn(system_faults::Rows()), system_faults::RowName);

}  // namespace
