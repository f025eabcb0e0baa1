// The block transfer's pacing: Timer1 ticks the engine every 500 ms while a transfer runs.
#include "app/form1.h"
#include "service/service_engine.h"

void TForm1::Timer1Timer() { Engine().TickTransfer(); }
