// The configuration read: five requests for the unit's 2032-byte configuration area, one
// at a time, paced by Timer3 like the block transfer is by Timer1.
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "transfer/transfer_core.h"

#include <QProgressBar>
#include <QTimer>

void TForm1::B_GetConfigClick() {
  Transfer.BlockCount = ReadBlockCount;
  ProgressBar1->setMaximum(static_cast<int>(Transfer.BlockCount));
  Transfer.LastAckIndex = NoAckIndex;
  Transfer.Index = 0;
  Transfer.Nacks = Transfer.Code10 = Transfer.Code15 = Transfer.Code20 = 0;
  CB_PING->setCurrentIndex(-1);
  CB_A232->setCurrentIndex(-1);
  CB_B232->setCurrentIndex(-1);
  Log->Add("Buscando configuração interna...");
  Timer3Timer();
}

void TForm1::Timer3Timer() {
  PacedTick(Timer3, &TForm1::RequestPackage, "ERRO #0x03",
            [] { ShowMessageBox("A operação não pode ser concluida!", "ERRO #0x04", MsgIcon::Warning); });
}

void TForm1::RequestPackage() {
  const ConfigReadRequest request = ReadRequestFor(Transfer.Index, DeviceInfo.ConfigBaseAddress);
  const std::vector<std::uint8_t> frame =
      BuildFrame(CmdConfigRead, ConfigReadRequestPayload(request.address, request.count));
  if (VCP.Connected()) VCP.Write(frame.data(), static_cast<int>(frame.size()));
}
