// zpisim: one simulated ZPi on a pseudo-terminal, until SIGINT or SIGTERM.

// lib
#include "sim/sim_args.h"
#include "sim/sim_unit.h"

// nlohmann-json
#include <nlohmann/json.hpp>

// Std
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

// POSIX
#include <pthread.h>

namespace {

// What --dump writes (the form is in zpisim --help).
std::string MemoryDump(const ConfigImage& memory, const std::optional<SimBytes>& firmware) {
  constexpr char Digits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(2 * memory.size());
  for (const std::uint8_t b : memory) {
    hex += Digits[b >> 4];
    hex += Digits[b & 0x0F];
  }
  nlohmann::json dump = {{"configuration", hex}, {"firmware", nullptr}};
  if (firmware) {
    const auto trailer = UnitTrailer(*firmware);
    const std::uint32_t sum = std::uint32_t{trailer[1]} << 24 | std::uint32_t{trailer[2]} << 16 |
                              std::uint32_t{trailer[3]} << 8 | trailer[4];
    dump["firmware"] = {{"length", firmware->size()}, {"xor", trailer[0]}, {"sum", sum}};
  }
  return dump.dump();
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto line = ParseSimCommandLine(args, &error);
  if (!line) {
    std::fprintf(stderr, "zpisim: %s\n", error.c_str());
    return 2;
  }
  if (line->help) {
    std::fputs(SimUsage().c_str(), stdout);
    return 0;
  }

  // Block the stop signals before the unit's thread exists, so only sigtimedwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // The dump file is opened (and emptied) now, so that one that cannot be written stops zpisim
  // before it starts.
  std::ofstream dump;
  if (!line->dump.empty()) {
    dump.open(line->dump, std::ios::trunc);
    if (!dump) {
      std::fprintf(stderr, "zpisim: --dump %s: %s\n", line->dump.c_str(), std::strerror(errno));
      return 1;
    }
  }

  SimOptions options = line->options;
  options.keepRecords = false;  // nobody reads them here, and zpisim may run for days
  SimUnit unit(std::move(options));
  if (!line->quiet) {
    unit.SetLogger([](const std::string& text) {
      std::fprintf(stderr, "zpisim: %s\n", text.c_str());
      std::fflush(stderr);
    });
  }
  try {
    unit.Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zpisim: %s\n", e.what());
    return 1;
  }
  std::printf("%s\n", unit.DevicePath().c_str());
  std::fflush(stdout);

  const timespec tick{0, 100'000'000};
  for (;;) {
    const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
    if (signal == SIGINT || signal == SIGTERM) break;
    if (unit.HungUp()) break;  // the line is gone: nothing left to simulate
  }
  unit.Stop();
  if (dump.is_open()) {
    dump << MemoryDump(unit.Memory(), unit.Firmware()) << '\n';
    dump.close();
    if (!dump) {
      std::fprintf(stderr, "zpisim: --dump %s: could not be written\n", line->dump.c_str());
      return 1;
    }
  }
  if (!line->quiet) std::fprintf(stderr, "zpisim: stopped\n");
  return 0;
}
