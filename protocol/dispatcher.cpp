// The receive dispatcher: every frame from the unit arrives here. It drives the block
// transfer and the configuration read with the unit's answers, takes in the unit's identity
// and starts what follows on its own: firmware upload, configuration read, closing the port.
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "protocol/service_rules.h"
#include "transfer/transfer_core.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <vector>

namespace {

const QColor LogRed{255, 0, 0};

void OperatingModeNotice(TRichLog* log) {
  log->Add("O ZPi foi detectado em modo de operação!");
  log->Add("1-Desconectar todos os chicotes");
  log->Add("2-Conectar apenas o cabo USB");
  log->Add("3-Aguardar o Windows criar a porta (5 segundos)");
  log->Add("4-Rodar o ZPiTool e abrir a porta COM criada");
}

}  // namespace

void TForm1::VCPRxChar(int Count) {
  ProcessMessages();
  // A delayed close may have fallen due just now: the port is gone, and so are its bytes.
  if (!VCP.Connected()) return;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Count > 0 ? Count : 0));
  const int got = bytes.empty() ? 0 : VCP.Read(bytes.data(), static_cast<int>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  DispatchReceived(bytes);
  ProcessMessages();
}

void TForm1::DispatchReceived(std::span<const std::uint8_t> bytes) {
  const CheckedFrame frame = CheckFrame(bytes);
  switch (frame.outcome) {
    case FrameOutcome::ShortRead:
      ++Transfer.Code10;
      if (Timer1->isActive()) Timer1Timer();
      break;
    case FrameOutcome::NoStartByte:
      ++Transfer.Code15;
      break;
    case FrameOutcome::TooLong:
    case FrameOutcome::Truncated:
    case FrameOutcome::BadChecksum:
      break;
    case FrameOutcome::WrongDestination:
      Log->Add("Destino inválido!");
      break;
    case FrameOutcome::Accepted:
      if (HandleUnitFrame(frame) && frame.trailingBytes) ++Transfer.Code20;
      break;
  }
}

bool TForm1::HandleUnitFrame(const CheckedFrame& frame) {
  switch (frame.command) {
    case CmdAck:
      return HandleAck(frame.payload);
    case CmdRefusal:
      ++Transfer.Nacks;
      if (Timer1->isActive()) Timer1Timer();
      return true;
    case CmdDeviceInfo:
      return HandleDeviceInfo(frame.payload);
    case CmdConfigRead:
      return HandleConfigData(frame.payload);
    case CmdOperatingMode:
      OperatingModeNotice(Log);
      Timer2->start();
      return true;
    default:
      return true;
  }
}

bool TForm1::HandleAck(std::span<const std::uint8_t> payload) {
  const std::optional<std::uint16_t> index = ParseAck(payload);
  if (!index) return false;
  Transfer.LastAckIndex = *index;
  if (*index < Transfer.BlockCount) {
    if (*index == 1) {
      if (Transfer.Kind == TransferFirmware) Log->Add("Atualizando firmware...");
      if (Transfer.Kind == TransferConfig) Log->Add("Atualizando configuração...");
    }
    Transfer.Acknowledged = true;
    if (Timer1->isActive()) Timer1Timer();
    return true;
  }
  // The last frame is acknowledged: the transfer is complete.
  Timer1->stop();
  SetProgress(ProgressBar1, 0);
  ProcessMessages();
  Log->Add("Atualização concluída com sucesso!");
  if (Transfer.Kind == TransferFirmware) {
    Log->Add("");
    IdentityHandled = false;  // the restarted unit is judged afresh
  } else {
    B_SetConfig->setEnabled(true);
    if (Cb_COMAutoClose->isChecked() && IsCurrentReleaseUnit(DeviceInfo)) {
      Timer2->start();
      ComboBox1->setEnabled(true);
    }
  }
  return true;
}

bool TForm1::HandleDeviceInfo(std::span<const std::uint8_t> payload) {
  if (IdentityHandled) return true;
  const std::optional<TDeviceInfo> info = ParseDeviceInfo(payload);
  if (!info) return false;
  DeviceInfo = *info;
  if (DeviceInfo.Mode == 0) {
    OperatingModeNotice(Log);
    Timer2->start();
    return false;
  }
  Log->Add(QString::fromStdString(IdentityLine(DeviceInfo)));
  if (IsCurrentReleaseUnit(DeviceInfo)) AddReleaseId(DeviceInfo.Id[2], DeviceInfo.Id[1], DeviceInfo.Id[0]);
  switch (ActionFor(DeviceInfo)) {
    case IdentityAction::Discontinued:
      Log->SetColor(LogRed);
      Log->Add("Essa versão do zpi está descontinuada, entre em contato com a Kestrona para mais informações!");
      B_GetConfigClick();
      break;
    case IdentityAction::UploadFirmware:
      B_FwTxClick();
      break;
    case IdentityAction::ReadConfig:
      Log->Add("O ZPi está atualizado!");
      B_GetConfigClick();
      break;
    case IdentityAction::None:
      break;
  }
  IdentityHandled = true;
  return true;
}

bool TForm1::HandleConfigData(std::span<const std::uint8_t> payload) {
  if (payload.size() < 7) return false;
  // An answer whose data runs past its payload, or would land outside the receive image,
  // is dropped like a frame with a bad sum.
  const std::optional<ConfigData> answer = ParseConfigData(payload);
  if (!answer) return false;
  const std::optional<std::uint32_t> block = PlaceConfigData(RxImage, DeviceInfo.ConfigBaseAddress, *answer);
  if (!block) return false;
  Transfer.LastAckIndex = *block;
  if (*block < ReadBlockCount) {
    SetProgress(ProgressBar1, static_cast<int>(*block + 1));
    Transfer.Acknowledged = true;
    if (Timer3->isActive()) Timer3Timer();
    return true;
  }
  Timer3->stop();
  ProcessMessages();
  SetProgress(ProgressBar1, 0);
  FinishConfigRead();
  return true;
}
