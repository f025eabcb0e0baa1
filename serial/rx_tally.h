#pragma once
// The received-bytes bookkeeping of a port's event thread, the same on every system: how many
// bytes Read has handed out since opening, how many of those received are not news, and whether
// bytes were left unread, so that the input queue is looked at again at a slow pace instead of
// on every wake. The system side only says how many bytes wait in the driver. Qt-free.

// Std
#include <algorithm>
#include <atomic>
#include <cstdint>

// What the driver said when asked how many bytes wait in its input queue.
struct TQueued {
  enum Kind {
    Count,   // `bytes` wait
    Busy,    // not now (interrupted): ask again
    Failed,  // `error`, the system's
  } kind = Count;
  std::uint64_t bytes = 0;
  int error = 0;
};

// What a look at the input queue found.
enum class TRxLook {
  News,     // bytes arrived that nobody was told of
  Nothing,  // nothing new (bytes were read or discarded meanwhile, or the wake meant nothing)
  Gone,     // the queue cannot be asked: the port no longer answers
};

class TRxTally {
 public:
  // Opening: nothing handed out, nothing seen.
  void Reset() {
    handedOut_ = 0;
    seen_ = 0;
    watching_ = false;
    busyLooks_ = 0;
  }

  // Read handed out `n` bytes (any thread).
  void Handed(int n) {
    if (n > 0) handedOut_ += static_cast<std::uint64_t>(n);
  }
  [[nodiscard]] std::uint64_t HandedOut() const { return handedOut_; }

  // Event thread: whether bytes arrived that nobody was told of. `queued` asks the driver how
  // many bytes wait; a busy driver is asked again at the slow pace, and one that fails, or is
  // busy for PatientLooks looks in a row, has gone. `ready` says the wake was a readiness that
  // stays true while bytes wait (poll's "readable"): a wake that brought nothing new then goes
  // on at the slow pace until the queue is empty, so a readable-but-empty port cannot spin the
  // thread.
  template <class Queued>
  TRxLook Look(Queued&& queued, bool ready = false) {
    // The counter before the queue: a read in between can only make the total look smaller,
    // never announce bytes twice.
    const std::uint64_t handedOut = handedOut_;
    const TQueued waiting = queued();
    if (waiting.kind == TQueued::Failed) return TRxLook::Gone;
    if (waiting.kind == TQueued::Busy) {
      watching_ = true;
      return ++busyLooks_ >= PatientLooks ? TRxLook::Gone : TRxLook::Nothing;
    }
    busyLooks_ = 0;
    const std::uint64_t total = handedOut + waiting.bytes;
    if (total > seen_) return TRxLook::News;
    seen_ = total;
    watching_ = waiting.bytes > 0 || ready;
    return TRxLook::Nothing;
  }

  // At the end of a received-data hand-off (the event thread waits for it meanwhile): the
  // count handed out before it and the count announced to its handler. What the handler was
  // told of and left unread is not news; whatever arrives after the count was taken is.
  template <class Queued>
  void AfterHandOff(std::uint64_t readBefore, int announced, Queued&& queued) {
    seen_ = readBefore + static_cast<std::uint64_t>(std::max(announced, 0));
    // Announced bytes still waiting: look again at a slow pace rather than on every wake.
    const std::uint64_t handedOut = handedOut_;
    const TQueued queue = queued();
    const std::uint64_t waiting = queue.kind == TQueued::Count ? queue.bytes : 0;
    watching_ = waiting > 0 && handedOut + waiting <= seen_;
  }

  // Bytes were left unread: the event thread looks at the queue at a slow pace.
  [[nodiscard]] bool Watching() const { return watching_; }

 private:
  static constexpr int PatientLooks = 10;

  std::atomic<std::uint64_t> handedOut_{0};
  // Bytes received that are not news: those handed out before the last handler ran plus those
  // it was told of, or the total when the event thread last looked.
  std::uint64_t seen_ = 0;
  bool watching_ = false;
  int busyLooks_ = 0;  // looks in a row that found the driver busy
};
