// The receive event: every frame from the unit arrives here and goes to the service engine,
// which acts on it (service/service_engine.cpp).
#include "app/form1.h"
#include "app/platform.h"
#include "service/service_engine.h"

#include <vector>

void TForm1::VCPRxChar(int Count) {
  ProcessMessages();
  // A delayed close may have fallen due just now: the port is gone, and so are its bytes.
  if (!VCP.Connected()) return;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Count > 0 ? Count : 0));
  const int got = bytes.empty() ? 0 : VCP.Read(bytes.data(), static_cast<int>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  Engine().Receive(bytes);
  ProcessMessages();
}
