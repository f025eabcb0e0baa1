#pragma once
// Random configuration records for the core tests.

// lib
#include "config/config_record.h"

// Std
#include <random>

// Choices that the panel allows: the buzzer "during" never with entry or exit.
inline AlertChoices RandomAlerts(std::mt19937& rng) {
  for (;;) {
    const unsigned bits = rng() % 32;
    AlertChoices c{.BZ_IN = (bits & 1) != 0, .BZ_OUT = (bits & 2) != 0, .BZ_WH = (bits & 4) != 0,
                   .EV_IN = (bits & 8) != 0, .EV_OUT = (bits & 16) != 0};
    if (!(c.BZ_WH && (c.BZ_IN || c.BZ_OUT))) return c;
  }
}

// A record that passes the write checks, with RS232-A at 115200.
inline ConfigRecord RandomRecord(std::mt19937& rng) {
  const auto in = [&rng](unsigned lo, unsigned hi) { return lo + rng() % (hi - lo + 1); };
  ConfigRecord r;
  r.PING = PingTable[rng() % PingTable.size()];
  r.A232 = 1152;
  r.B232 = BaudTable[rng() % BaudTable.size()];
  r.ACP = static_cast<std::uint8_t>(in(0, 255));
  r.ACN = static_cast<std::uint8_t>(in(0, 255));
  r.BZ_ACP = rng() & 1, r.EV_ACP = rng() & 1, r.BZ_ACN = rng() & 1, r.EV_ACN = rng() & 1;
  r.VMX = static_cast<std::uint8_t>(in(0, 150)), r.TVMX = static_cast<std::uint8_t>(in(0, 60));
  r.VCH = static_cast<std::uint8_t>(in(0, 150)), r.TVCH = static_cast<std::uint8_t>(in(0, 60));
  r.RPX = static_cast<std::uint16_t>(in(1000, 9999)), r.TRPX = static_cast<std::uint8_t>(in(0, 60));
  r.TOSC = static_cast<std::uint8_t>(in(1, 99)), r.XOSC = static_cast<std::uint8_t>(in(0, 60));
  r.VBGL = static_cast<std::uint8_t>(in(1, 255)), r.RBGL = static_cast<std::uint16_t>(in(300, 1000));
  r.TBGL = static_cast<std::uint8_t>(in(0, 30));
  r.VMX_Alerts = RandomAlerts(rng), r.VCH_Alerts = RandomAlerts(rng), r.RPX_Alerts = RandomAlerts(rng);
  r.OSC_Alerts = RandomAlerts(rng), r.BGL_Alerts = RandomAlerts(rng);
  return r;
}
