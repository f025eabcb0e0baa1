// The configuration read: five requests for the unit's 2032-byte configuration area, one at
// a time, paced by Timer3 (100 ms) like the block transfer is by Timer1.
#include "app/form1.h"
#include "service/service_engine.h"

void TForm1::B_GetConfigClick() { Engine().ReadConfig(); }

void TForm1::Timer3Timer() { Engine().TickRead(); }
