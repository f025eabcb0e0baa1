// The firmware upload (a block transfer of kind 1 of the image the tool carries) and the
// jump frame.
#include "app/form1.h"
#include "service/service_engine.h"

void TForm1::B_FwTxClick() { Engine().UploadFirmware(); }

void TForm1::B_FwJumpClick() { Engine().Jump(); }
