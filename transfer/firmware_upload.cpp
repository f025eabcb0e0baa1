// The firmware upload (a block transfer of kind 1 of the image the tool carries) and the
// jump frame.
#include "app/form1.h"
#include "app/platform.h"
#include "transfer/firmware.h"

void TForm1::B_FwTxClick() {
  Transfer.Kind = TransferFirmware;
  // Only kinds 3, 4 and 41 take this firmware. For any other kind nothing is sent: the data
  // in hand would otherwise be whatever the previous transfer left there.
  const std::uint8_t kind = DeviceInfo.Version[0];
  if (kind != 3 && kind != 4 && kind != 41) return;
  const std::span<const std::uint8_t> image = FirmwareImage();
  Transfer.Data = image;
  Transfer.Length = static_cast<std::uint32_t>(image.size());
  Transfer.Trailer = FirmwareTrailer();
  TxInit();
}

void TForm1::B_FwJumpClick() {
  const std::vector<std::uint8_t> frame = BuildFrame(CmdJump, {});
  if (VCP.Connected()) VCP.Write(frame.data(), static_cast<int>(frame.size()));
  ProcessMessages();
}
