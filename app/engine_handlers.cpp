// The window's thin hand-offs to the service engine (service/service_engine.h), which acts
// on every frame from the unit and paces transfers and reads: the receive event, the two
// pacing timers (Timer1 500 ms for block transfers, Timer3 100 ms for the configuration
// read) and the three buttons beyond the right edge.
#include "app/form1.h"
#include "app/platform.h"
#include "app/window_front_end.h"
#include "service/service_engine.h"

#include <vector>

void TForm1::VCPRxChar(int Count) {
  const TWindowFrontEnd::Receiving receiving(*frontEnd_);
  ProcessMessages();
  // A delayed close may have fallen due just now: the port is gone, and so are its bytes.
  if (!VCP.Connected()) return;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Count > 0 ? Count : 0));
  const int got = bytes.empty() ? 0 : VCP.Read(bytes.data(), static_cast<int>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  Engine().Receive(bytes);
  ProcessMessages();
}

void TForm1::Timer1Timer() { Engine().TickTransfer(); }

void TForm1::Timer3Timer() { Engine().TickRead(); }

void TForm1::B_FwTxClick() { Engine().UploadFirmware(); }

void TForm1::B_FwJumpClick() { Engine().Jump(); }

void TForm1::B_GetConfigClick() { Engine().ReadConfig(); }
