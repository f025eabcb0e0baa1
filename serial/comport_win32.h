#pragma once
// The serial port component's Windows side: the pieces that tests check without a port.

// lib
#include "serial/comport.h"

// System
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The device control block that ApplyDCB hands to SetCommState for the port's properties.
[[nodiscard]] DCB ComPortDCB(const TCustomComPort& port);

// The five time limits as SetCommTimeouts takes them; -1 ("no limit") becomes 0xFFFFFFFF.
[[nodiscard]] COMMTIMEOUTS ComPortTimeouts(const TComTimeouts& timeouts);

// The event thread's wait, as the last wait of `port` ran: by line events (WaitCommEvent),
// or by looking at the input queue at a short period because the driver refused that wait.
enum class TComWaitMode { None, LineEvents, Watching };
[[nodiscard]] TComWaitMode ComPortWaitMode(const TCustomComPort& port);

// True when the process runs under Wine (ntdll exports wine_get_version).
[[nodiscard]] bool RunningUnderWine();
