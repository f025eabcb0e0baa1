#include "service/service_engine.h"

// lib
#include "protocol/service_rules.h"
#include "transfer/firmware.h"

// Std
#include <cstdio>
#include <vector>

namespace {

constexpr const char* NoConnection = "Não há conexão ativa!";

std::string ErrorTitle(int code) {
  char title[16];
  std::snprintf(title, sizeof title, "ERRO #0x%02X", static_cast<unsigned>(code));
  return title;
}

}  // namespace

ServiceEngine::ServiceEngine(ServiceFrontEnd& frontEnd, Options options) : front_(frontEnd), options_(options) {}

// ---- The receive dispatcher ------------------------------------------------------------

void ServiceEngine::Receive(std::span<const std::uint8_t> bytes) {
  const CheckedFrame frame = CheckFrame(bytes);
  switch (frame.outcome) {
    case FrameOutcome::ShortRead:
      ++transfer_.Code10;
      if (Pacing(Pacer::Transfer)) TickTransfer();
      break;
    case FrameOutcome::NoStartByte:
      ++transfer_.Code15;
      break;
    case FrameOutcome::TooLong:
    case FrameOutcome::Truncated:
    case FrameOutcome::BadChecksum:
      break;
    case FrameOutcome::WrongDestination:
      front_.Log("Destino inválido!");
      break;
    case FrameOutcome::Accepted:
      if (HandleUnitFrame(frame) && frame.trailingBytes) ++transfer_.Code20;
      break;
  }
}

bool ServiceEngine::HandleUnitFrame(const CheckedFrame& frame) {
  switch (frame.command) {
    case CmdAck:
      return HandleAck(frame.payload);
    case CmdRefusal:
      ++transfer_.Nacks;
      if (Pacing(Pacer::Transfer)) TickTransfer();
      return true;
    case CmdDeviceInfo:
      return HandleDeviceInfo(frame.payload);
    case CmdConfigRead:
      return HandleConfigData(frame.payload);
    case CmdOperatingMode:
      OperatingModeNotice(nullptr);
      return true;
    default:
      return true;
  }
}

bool ServiceEngine::HandleAck(std::span<const std::uint8_t> payload) {
  const std::optional<std::uint16_t> index = ParseAck(payload);
  if (!index) return false;
  transfer_.LastAckIndex = *index;
  if (*index < transfer_.BlockCount) {
    if (*index == 1) {
      if (transfer_.Kind == TransferFirmware) front_.Log("Atualizando firmware...");
      if (transfer_.Kind == TransferConfig) front_.Log("Atualizando configuração...");
    }
    transfer_.Acknowledged = true;
    if (Pacing(Pacer::Transfer)) TickTransfer();
    return true;
  }
  // The last frame is acknowledged: the transfer is complete.
  Stop(Pacer::Transfer);
  front_.Progress(0);
  front_.ProcessMessages();
  front_.Log("Atualização concluída com sucesso!");
  const std::uint8_t kind = transfer_.Kind;
  if (kind == TransferFirmware) {
    front_.Log("");
    identityHandled_ = false;  // the restarted unit is judged afresh
    front_.TransferComplete(kind);
  } else {
    front_.TransferComplete(kind);
    if (front_.AutoClose() && IsCurrentReleaseUnit(deviceInfo_)) front_.CloseSoon(true);
  }
  return true;
}

bool ServiceEngine::HandleDeviceInfo(std::span<const std::uint8_t> payload) {
  if (identityHandled_ && !CompletesUpload(payload)) return true;
  const std::optional<TDeviceInfo> info = ParseDeviceInfo(payload);
  if (!info) return false;
  deviceInfo_ = *info;
  if (deviceInfo_.Mode == 0) {
    OperatingModeNotice(&deviceInfo_);
    return false;
  }
  front_.Log(IdentityLine(deviceInfo_));
  front_.Identified(deviceInfo_);
  switch (options_.actOnIdentity ? ActionFor(deviceInfo_) : IdentityAction::None) {
    case IdentityAction::Discontinued:
      front_.LogInRed();
      front_.Log("Essa versão do zpi está descontinuada, entre em contato com a Kestrona para mais informações!");
      ReadConfig();
      break;
    case IdentityAction::UploadFirmware:
      UploadFirmware();
      break;
    case IdentityAction::ReadConfig:
      front_.Log("O ZPi está atualizado!");
      ReadConfig();
      break;
    case IdentityAction::None:
      break;
  }
  identityHandled_ = true;
  return true;
}

bool ServiceEngine::HandleConfigData(std::span<const std::uint8_t> payload) {
  if (payload.size() < 7) return false;
  // An answer whose data runs past its payload, or would land outside the receive image,
  // is dropped like a frame with a bad sum.
  const std::optional<ConfigData> answer = ParseConfigData(payload);
  if (!answer) return false;
  const std::optional<std::uint32_t> block = PlaceConfigData(rxImage_, deviceInfo_.ConfigBaseAddress, *answer);
  if (!block) return false;
  transfer_.LastAckIndex = *block;
  if (*block < ReadBlockCount) {
    front_.Progress(static_cast<int>(*block + 1));
    transfer_.Acknowledged = true;
    if (Pacing(Pacer::Read)) TickRead();
    return true;
  }
  Stop(Pacer::Read);
  front_.ProcessMessages();
  front_.Progress(0);
  FinishConfigRead();
  return true;
}

bool ServiceEngine::CompletesUpload(std::span<const std::uint8_t> payload) {
  if (!options_.announcementCompletesUpload || !Pacing(Pacer::Transfer) || transfer_.Kind != TransferFirmware ||
      transfer_.Index != transfer_.BlockCount)
    return false;
  const std::optional<TDeviceInfo> info = ParseDeviceInfo(payload);
  if (!info || info->Mode == 0 || info->Version[2] != CarriedFirmwareMajor ||
      info->Version[3] != CarriedFirmwareMinor)
    return false;
  // The unit restarted on the firmware just sent: the upload is complete, and this
  // announcement is the restarted unit's, judged afresh.
  Stop(Pacer::Transfer);
  front_.Progress(0);
  identityHandled_ = false;
  front_.LastAckLost();
  front_.TransferComplete(TransferFirmware);
  return true;
}

void ServiceEngine::OperatingModeNotice(const TDeviceInfo* identity) {
  front_.OperatingMode(identity);
  front_.Log("O ZPi foi detectado em modo de operação!");
  front_.Log("1-Desconectar todos os chicotes");
  front_.Log("2-Conectar apenas o cabo USB");
  front_.Log("3-Aguardar o Windows criar a porta (5 segundos)");
  front_.Log("4-Rodar o ZPiTool e abrir a porta COM criada");
  front_.CloseSoon(false);
}

// ---- The block transfer and the configuration read ---------------------------------------

void ServiceEngine::TxInit() {
  // A transfer and a read share their state: whichever starts last ends the other.
  if (Pacing(Pacer::Read)) Stop(Pacer::Read);
  transfer_.BlockCount = TransferBlockCount(transfer_.Length);
  front_.ProgressMax(static_cast<int>(transfer_.BlockCount));
  transfer_.LastAckIndex = NoAckIndex;
  transfer_.Index = 0;
  transfer_.Token = static_cast<std::uint16_t>(
      MakeTransferToken(0xFFFF, front_.DateTimeText(), transfer_.TokenShift, [this] {
        if (!seeded_) SeedTokenFallback(std::random_device{}());
        return static_cast<std::uint32_t>(random_());
      }));
  transfer_.Nacks = transfer_.Code10 = transfer_.Code15 = transfer_.Code20 = 0;
  if (front_.PortOpen()) front_.Log("Iniciando atualização...");
  TickTransfer();
}

void ServiceEngine::TickTransfer() { PacedTick(Pacer::Transfer, &ServiceEngine::SendPackage, 1); }
void ServiceEngine::TickRead() { PacedTick(Pacer::Read, &ServiceEngine::RequestPackage, 3); }

void ServiceEngine::PacedTick(Pacer pacer, void (ServiceEngine::*send)(), int noConnectionCode) {
  if (!front_.PortOpen()) {
    Stop(pacer);
    front_.ProcessMessages();
    front_.Progress(0);
    front_.Failure({noConnectionCode, ErrorTitle(noConnectionCode), NoConnection, false});
    front_.ProcessMessages();
    return;
  }
  // The acknowledgement flag is consumed, and the ticking started, before the frame goes
  // out: an answer that arrives while the frame is being sent then runs the next tick at
  // once instead of being lost or left for the timer.
  const TickOutcome tick = ::TransferTick(transfer_);
  if (transfer_.Index == 1 && !tick.giveUp && !Pacing(pacer)) Start(pacer);
  if (tick.send) (this->*send)();
  if (tick.giveUp) {
    GiveUp(pacer);
    return;
  }
  front_.ProcessMessages();
}

void ServiceEngine::GiveUp(Pacer pacer) {
  Stop(pacer);
  front_.ProcessMessages();
  if (pacer == Pacer::Transfer) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "A operação não foi concluida!\r\nNacks = %d\r\nCode10 = %d\r\nCode15 = %d\r\nCode20 = %d",
                  static_cast<int>(transfer_.Nacks), static_cast<int>(transfer_.Code10),
                  static_cast<int>(transfer_.Code15), static_cast<int>(transfer_.Code20));
    front_.Failure({2, ErrorTitle(2), text, false});
  } else {
    front_.Failure({4, ErrorTitle(4), "A operação não pode ser concluida!", true});
  }
  front_.Progress(0);
}

void ServiceEngine::Start(Pacer pacer) {
  pacing_[static_cast<int>(pacer)] = true;
  front_.StartPacing(pacer);
}

void ServiceEngine::Stop(Pacer pacer) {
  pacing_[static_cast<int>(pacer)] = false;
  front_.StopPacing(pacer);
}

void ServiceEngine::SendPackage() {
  const std::vector<std::uint8_t> frame = BuildFrame(transfer_.Kind, BlockFramePayload(transfer_, transfer_.Index));
  front_.Write(frame);
  front_.Progress(static_cast<int>(transfer_.Index));
  front_.ProcessMessages();
}

void ServiceEngine::ReadConfig() {
  if (Pacing(Pacer::Transfer)) Stop(Pacer::Transfer);
  transfer_.BlockCount = ReadBlockCount;
  front_.ProgressMax(static_cast<int>(transfer_.BlockCount));
  transfer_.LastAckIndex = NoAckIndex;
  transfer_.Index = 0;
  transfer_.Nacks = transfer_.Code10 = transfer_.Code15 = transfer_.Code20 = 0;
  front_.ReadStarted();
  front_.Log("Buscando configuração interna...");
  TickRead();
}

void ServiceEngine::RequestPackage() {
  const ConfigReadRequest request = ReadRequestFor(transfer_.Index, deviceInfo_.ConfigBaseAddress);
  const std::vector<std::uint8_t> frame = BuildFrame(CmdConfigRead, ConfigReadRequestPayload(request.address, request.count));
  if (front_.PortOpen()) front_.Write(frame);
}

void ServiceEngine::UploadFirmware() {
  transfer_.Kind = TransferFirmware;
  // For a kind that does not take this firmware nothing is sent: the data in hand would
  // otherwise be whatever the previous transfer left there.
  if (!TakesCarriedFirmware(deviceInfo_.Version[0])) return;
  const std::span<const std::uint8_t> image = FirmwareImage();
  transfer_.Data = image;
  transfer_.Length = static_cast<std::uint32_t>(image.size());
  transfer_.Trailer = FirmwareTrailer();
  TxInit();
}

void ServiceEngine::Jump() {
  const std::vector<std::uint8_t> frame = BuildFrame(CmdJump, {});
  if (front_.PortOpen()) front_.Write(frame);
  front_.ProcessMessages();
}

void ServiceEngine::WriteConfig(const ConfigRecord& record) {
  txConfig_ = EncodeConfigImage(record);
  transfer_.Kind = TransferConfig;
  transfer_.Data = txConfig_.image;
  transfer_.Length = static_cast<std::uint32_t>(txConfig_.image.size());
  transfer_.Trailer = txConfig_.trailer;
  TxInit();
}

void ServiceEngine::FinishConfigRead() {
  const bool ventora = front_.ForceVentora();
  const DecodedConfig decoded = DecodeConfigImage(rxImage_, ventora);
  front_.ConfigRead(decoded);
  if (decoded.errors == 0) {
    front_.Log("Leitura da configuração interna concluída!");
    return;
  }
  front_.LogInRed();
  front_.Log("Configuração inválida!");
  if (!options_.rewriteInvalid) return;
  front_.Log(ventora ? "Preparando configuração Ventora..." : "Preparando configuração padrão...");
  const ConfigRecord& stock = ventora ? VentoraPreset() : DefaultConfig();
  front_.ShowStock(stock);
  WriteConfig(stock);
}
