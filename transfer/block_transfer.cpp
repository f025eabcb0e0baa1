// The block transfer engine: TxInit starts a transfer, Timer1Timer is one tick (from the
// timer, from TxInit and from the dispatcher on each answer), SendPackage writes one frame.
// PacedTick is the tick itself, shared with the configuration read (Timer3Timer).
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "transfer/transfer_core.h"

#include <QProgressBar>
#include <QTimer>

#include <random>

namespace {

// The token's fallback when the date arithmetic gives 0 (it often does).
std::uint32_t TokenFallback() {
  static std::mt19937 generator{std::random_device{}()};
  return static_cast<std::uint32_t>(generator());
}

}  // namespace

void TForm1::TxInit() {
  Transfer.BlockCount = TransferBlockCount(Transfer.Length);
  ProgressBar1->setMaximum(static_cast<int>(Transfer.BlockCount));
  Transfer.LastAckIndex = NoAckIndex;
  Transfer.Index = 0;
  Transfer.Token = static_cast<std::uint16_t>(
      MakeTransferToken(0xFFFF, DateTimeText().toLatin1().toStdString(), Transfer.TokenShift, TokenFallback));
  Transfer.Nacks = Transfer.Code10 = Transfer.Code15 = Transfer.Code20 = 0;
  if (VCP.Connected()) Log->Add("Iniciando atualização...");
  Timer1Timer();
}

void TForm1::Timer1Timer() {
  PacedTick(Timer1, &TForm1::SendPackage, "ERRO #0x01", [this] {
    ShowMessageBox(QString::asprintf("A operação não foi concluida!\r\nNacks = %d\r\nCode10 = %d\r\nCode15 = %d\r\nCode20 = %d",
                                     static_cast<int>(Transfer.Nacks), static_cast<int>(Transfer.Code10),
                                     static_cast<int>(Transfer.Code15), static_cast<int>(Transfer.Code20)),
                   "ERRO #0x02");
  });
}

void TForm1::PacedTick(QTimer* timer, void (TForm1::*send)(), const char* noConnectionTitle,
                       const std::function<void()>& showGiveUp) {
  if (!VCP.Connected()) {
    timer->stop();
    ProcessMessages();
    SetProgress(ProgressBar1, 0);
    ShowMessageBox("Não há conexão ativa!", noConnectionTitle);
    ProcessMessages();
    return;
  }
  // The acknowledgement flag is consumed, and the ticking started, before the frame goes
  // out: an answer that arrives while the frame is being sent then runs the next tick at
  // once instead of being lost or left for the timer.
  const TickOutcome tick = TransferTick(Transfer);
  if (Transfer.Index == 1 && !tick.giveUp && !timer->isActive()) timer->start();
  if (tick.send) (this->*send)();
  if (tick.giveUp) {
    timer->stop();
    ProcessMessages();
    showGiveUp();
    SetProgress(ProgressBar1, 0);
    return;
  }
  ProcessMessages();
}

void TForm1::SendPackage() {
  const std::vector<std::uint8_t> frame = BuildFrame(Transfer.Kind, BlockFramePayload(Transfer, Transfer.Index));
  VCP.Write(frame.data(), static_cast<int>(frame.size()));
  SetProgress(ProgressBar1, static_cast<int>(Transfer.Index));
  ProcessMessages();
}
