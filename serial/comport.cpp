#include "serial/comport.h"
// Placeholder: the component is being written.
class TComThread {};
struct TCustomComPort::Os {};
EComPort::EComPort(int code, int winCode) : std::runtime_error(ComErrorText(code)), code_(code), winCode_(winCode) {}
const char* ComErrorText(int) { return ""; }
TCustomComPort::TCustomComPort() = default;
TCustomComPort::~TCustomComPort() = default;
void TCustomComPort::CreateHandle() {}
void TCustomComPort::DestroyHandle() {}
void TCustomComPort::SetupComPort() {}
void TCustomComPort::ApplyDCB() {}
void TCustomComPort::ApplyTimeouts() {}
void TCustomComPort::ApplyBuffer() {}
void TCustomComPort::DoRxChar(int) {}
void TCustomComPort::SetConnected(bool) {}
void TCustomComPort::SetCustomBaudRate(std::int32_t r) { customBaudRate_ = r; }
void TCustomComPort::SetHandOff(std::shared_ptr<TComHandOff> h) { handOff_ = std::move(h); }
void TCustomComPort::ClearBuffer(bool, bool) {}
int TCustomComPort::Read(void*, int) { return 0; }
int TCustomComPort::Write(const void*, int) { return 0; }
int TCustomComPort::InputCount() { return 0; }
void EnumComPorts(std::vector<std::string>& ports) { ports.clear(); }
