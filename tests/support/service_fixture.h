#pragma once
// A window test with a simulated unit on a pseudo-terminal: start a unit, pick its port and
// connect, wait for log lines, and explain a failure with what both sides last did.

// lib
#include "sim/sim_unit.h"
#include "support/gui_support.h"

// Std
#include <chrono>
#include <memory>
#include <string>
#include <vector>

// Valid frames of one command the unit received.
[[nodiscard]] std::vector<SimFrame> FramesWith(const SimUnit& unit, std::uint8_t command);
// The block payload of a block frame the unit received.
[[nodiscard]] BlockPayload Block(const SimFrame& frame);

class ServiceTest : public WindowTest {
 protected:
  void TearDown() override;

  // Starts a unit (quick announcements and restart) and lists its port; replaces any unit.
  void StartUnit(SimOptions options);
  // Picks the unit's port in the list and presses the connect button.
  void Connect();
  // Closes the port with the button when it is open.
  void Disconnect();
  [[nodiscard]] bool WaitForLog(const QString& line, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                                int times = 1);
  // Waits until the log has been quiet for 200 ms with no transfer or read under way.
  void Settle();
  // What the window and the unit last did, for a failure message.
  [[nodiscard]] std::string Diagnose() const;

  std::unique_ptr<SimUnit> unit;
  std::unique_ptr<ScopedExtraPorts> ports;
};
