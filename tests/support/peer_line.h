#pragma once
// The far end of the cable in tests of the serial component: the test plays the unit on a
// PeerLine while the component has the port. POSIX: the master side of a pseudo-terminal
// (tests/serial/comport_test.cpp); Windows: a peer COM port driven with plain Win32 calls
// (tests/serial/comport_win32_test.cpp). The fixture below is what the line tests of both
// systems share (tests/serial/comport_line_test.cpp). Qt-free, header only.

// lib
#include "serial/comport.h"
#include "support/ui_loop.h"

#include <gtest/gtest.h>

// Std
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace comport_line {

using ui_loop::Bytes;

// What a line's system does its own way; each test keeps the strictest check that holds there.
struct LineTraits {
  // How much earlier than its limit a timed read or write may seem to end (the clock's tick).
  int timerSlackMs = 2;
  // Written bytes reach the port through a driver or a relay, maybe in pieces, after Write
  // has returned: a test that reads them all at once waits until they are in.
  bool relayed = false;
  // A write ended by its time limit has passed some bytes on.
  bool limitedWritePassesSome = true;
  // The system error a read or write fails with after a hang-up, where it is always the same.
  std::optional<int> hangUpError;
  // Why HangUp cannot unplug this line (the hang-up test is skipped), or empty.
  std::string noHangUp;
};

class PeerLine {
 public:
  explicit PeerLine(LineTraits traits) : traits_(std::move(traits)) {}
  virtual ~PeerLine() = default;
  PeerLine(const PeerLine&) = delete;
  PeerLine& operator=(const PeerLine&) = delete;

  [[nodiscard]] const LineTraits& Traits() const { return traits_; }
  // The name the component opens to reach this line.
  [[nodiscard]] virtual std::string PortName() const = 0;
  // Writes every byte (the unit talking). False on failure.
  virtual bool Write(const Bytes& bytes) = 0;
  // What has arrived from the port once `count` bytes are in or `limit` has passed.
  [[nodiscard]] virtual Bytes Read(std::size_t count, std::chrono::milliseconds limit) = 0;
  // Discards what has arrived so far.
  virtual void Drain() = 0;
  // Lets go of the far end: to the port this is the unit being unplugged.
  virtual void HangUp() = 0;

 private:
  LineTraits traits_;
};

// The system's line for the next test, in `line`; skips or fails the test where there is none.
void OpenPeerLine(std::unique_ptr<PeerLine>& line);

// A port with the window's values on a line; what the port announces is collected, and the
// handler reads what it is told of unless `readInHandler` is cleared.
class ComPortLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenPeerLine(line);
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(line);
    port.Port = line->PortName();
    ui_loop::SetVcpValues(port);
    port.SetHandOff(loop.handOff);
    port.OnRxChar = [this](TCustomComPort& sender, int count) {
      EXPECT_EQ(&sender, &port);
      counts.push_back(count);
      if (readInHandler) {
        Bytes buffer(static_cast<std::size_t>(count));
        const int n = sender.Read(buffer.data(), count);
        received.insert(received.end(), buffer.begin(), buffer.begin() + std::max(n, 0));
      }
    };
    port.OnHangUp = [this](TCustomComPort&) { ++hangUps; };
  }

  // Opens the port and lets the line start empty.
  void Open() {
    port.Open();
    line->Drain();
  }

  int Read(Bytes& out, int count) {
    out.assign(static_cast<std::size_t>(count), 0);
    const int n = port.Read(out.data(), count);
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    return n;
  }

  std::unique_ptr<PeerLine> line;
  ui_loop::UiLoop loop;
  std::vector<int> counts;
  Bytes received;
  bool readInHandler = true;
  int hangUps = 0;
  TComPort port;  // last: closed before the line's far end lets go
};

}  // namespace comport_line
