#pragma once
// A pseudo-terminal pair for tests: the code under test opens SlavePath() as its serial port
// (directly or through ZPITOOL_EXTRA_PORTS) and the test plays the unit on the master side.
// The pair is raw (no echo, no line editing, no byte translation) from the start.

// Std
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class PtyPair {
 public:
  // holdSlave: keep a slave descriptor open so the master neither reads EIO nor loses
  // written bytes while nobody else has the port open. It takes no lock on the port.
  explicit PtyPair(bool holdSlave = true);
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  [[nodiscard]] bool Ok() const { return master_ >= 0; }
  [[nodiscard]] int Master() const { return master_; }
  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }

  // Writes every byte to the master side (the unit talking). False on failure.
  bool Write(std::span<const std::uint8_t> bytes);
  // Reads what arrives at the master side until `count` bytes are in or `timeout` passes.
  [[nodiscard]] std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout);
  // Discards what has arrived at the master side so far.
  void Drain();

  // Closes the master side: to the port this is the unit being unplugged.
  void HangUp();

 private:
  int master_ = -1;
  int heldSlave_ = -1;
  std::string slavePath_;
};
