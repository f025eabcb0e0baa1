// zpisim: one simulated ZPi on a pseudo-terminal, until SIGINT or SIGTERM.

// lib
#include "sim/sim_args.h"
#include "sim/sim_unit.h"

// Std
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

// POSIX
#include <pthread.h>

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

  SimUnit unit(line->options);
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
  if (!line->quiet) std::fprintf(stderr, "zpisim: stopped\n");
  return 0;
}
