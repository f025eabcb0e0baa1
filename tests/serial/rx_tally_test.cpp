// The event thread's received-bytes bookkeeping on its own, against a driver queue played by
// the test: sequences of arrivals, reads, purges, looks and hand-offs, with the reads that
// race a look placed where a line cannot place them.
#include "serial/rx_tally.h"

#include <gtest/gtest.h>

// Std
#include <cstdint>
#include <vector>

namespace {

struct Step {
  enum Op {
    Arrive,      // n bytes reach the driver's queue
    Purge,       // the queue is discarded
    Look,        // the event thread looks (ready: the wake was poll's "readable")
    LookRacing,  // the owner reads n bytes after the look took the counter, before the queue
    HandOff,     // a handler told of the queue reads n of it, `during` more arrive meanwhile
    Silence,     // the queue can no longer be asked
    Busy,        // the next n asks find the driver busy
  } op;
  int n = 0;
  int during = 0;
  bool ready = false;
  TRxLook expect = TRxLook::Nothing;  // Look, LookRacing
  bool watching = false;              // after the step
};

struct Row {
  const char* name;
  std::vector<Step> steps;
};

Step Arrive(int n) { return {Step::Arrive, n}; }
Step Look(TRxLook expect, bool watching, bool ready = false) {
  return {Step::Look, 0, 0, ready, expect, watching};
}
Step Racing(int n, TRxLook expect) { return {Step::LookRacing, n, 0, false, expect}; }
Step HandOff(int read, bool watching, int during = 0) { return {Step::HandOff, read, during, false, {}, watching}; }
Step Busy(int n) { return {Step::Busy, n}; }
// `n` looks that find nothing and go on slowly.
std::vector<Step> Quiet(int n) { return std::vector<Step>(static_cast<std::size_t>(n), Look(TRxLook::Nothing, true)); }
std::vector<Step> Then(std::vector<Step> a, const std::vector<Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr TRxLook News = TRxLook::News;
constexpr TRxLook Nothing = TRxLook::Nothing;
constexpr TRxLook Gone = TRxLook::Gone;

TEST(RxTally, EachSequenceAnnouncesWhatIsNewOnce) {
  const Row rows[] = {
      {"a frame read whole", {Arrive(8), Look(News, false), HandOff(8, false), Look(Nothing, false)}},
      {"readable with nothing new goes on slowly until the queue is empty",
       {Arrive(8), Look(News, false), HandOff(8, false), Look(Nothing, true, true), Look(Nothing, false)}},
      {"left unread is not news until more arrive",
       {Arrive(5), Look(News, false), HandOff(0, true), Look(Nothing, true), Arrive(3), Look(News, true)}},
      {"partly read",
       {Arrive(10), Look(News, false), HandOff(4, true), Look(Nothing, true), Arrive(1), Look(News, true)}},
      {"arriving while the handler runs is news at once",
       {Arrive(4), Look(News, false), HandOff(4, false, 9), Look(News, false)}},
      {"a read between the counter and the queue announces nothing",
       {Arrive(8), Look(News, false), HandOff(8, false), Arrive(5), Racing(5, Nothing)}},
      {"discarded unread does not hide the next bytes",
       {Arrive(5), Look(News, false), HandOff(0, true), {Step::Purge}, Look(Nothing, false), Arrive(3),
        Look(News, false)}},
      {"a queue that cannot be asked is a port gone", {Arrive(2), {Step::Silence}, Look(Gone, false)}},
      {"a busy driver is asked again at the slow pace",
       {Arrive(5), Busy(2), Look(Nothing, true), Look(Nothing, true), Look(News, true)}},
      {"a driver busy for ten looks in a row has gone",
       Then({Arrive(5), Busy(10)}, Then(Quiet(9), {Look(Gone, true)}))},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TRxTally tally;
    tally.Reset();
    std::uint64_t queue = 0;
    bool answers = true;
    int busy = 0;
    const auto queued = [&]() -> TQueued {
      if (!answers) return {TQueued::Failed, 0, 5};
      if (busy > 0) {
        --busy;
        return {TQueued::Busy, 0, 4};
      }
      return {TQueued::Count, queue};
    };
    int at = 0;
    for (const Step& step : row.steps) {
      SCOPED_TRACE(at++);
      switch (step.op) {
        case Step::Arrive: queue += static_cast<std::uint64_t>(step.n); break;
        case Step::Purge: queue = 0; break;
        case Step::Silence: answers = false; break;
        case Step::Busy: busy = step.n; break;
        case Step::Look: EXPECT_EQ(tally.Look(queued, step.ready), step.expect); break;
        case Step::LookRacing:
          EXPECT_EQ(tally.Look([&] {
            queue -= static_cast<std::uint64_t>(step.n);
            tally.Handed(step.n);
            return queued();
          }), step.expect);
          break;
        case Step::HandOff: {
          const std::uint64_t before = tally.HandedOut();
          const int announced = static_cast<int>(queue);
          queue -= static_cast<std::uint64_t>(step.n);
          tally.Handed(step.n);
          queue += static_cast<std::uint64_t>(step.during);
          tally.AfterHandOff(before, announced, queued);
          break;
        }
      }
      if (step.op == Step::Look || step.op == Step::HandOff) {
        EXPECT_EQ(tally.Watching(), step.watching);
      }
    }
  }
}

}  // namespace
