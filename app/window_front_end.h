#pragma once
// The window as the service engine's front end: the port is VCP, the log is Log, the pacing
// timers are Timer1 and Timer3, the delayed close is Timer2, failures are message boxes, and
// records go to the configuration panel.

// lib
#include "service/service_engine.h"

// Std
#include <deque>

class TForm1;

class TWindowFrontEnd final : public ServiceFrontEnd {
 public:
  explicit TWindowFrontEnd(TForm1& form) : form_(form) {}

  bool PortOpen() override;
  void Write(std::span<const std::uint8_t> frame) override;
  void Log(std::string_view line) override;
  void LogInRed() override;
  void ProgressMax(int maximum) override;
  void Progress(int position) override;
  void Failure(const ServiceFailure& failure) override;
  void StartPacing(Pacer pacer) override;
  void StopPacing(Pacer pacer) override;
  void CloseSoon(bool portListUsable) override;
  void Identified(const TDeviceInfo& info) override;
  void ReadStarted() override;
  void ConfigRead(const DecodedConfig& decoded) override;
  void ShowStock(const ConfigRecord& stock) override;
  void TransferComplete(std::uint8_t kind) override;
  bool ForceVentora() override;
  bool AutoClose() override;
  std::string DateTimeText() override;
  void ProcessMessages() override;

  // While the receive handler runs, the port's event thread waits for it: a failure met there
  // is shown as soon as the handler has returned, so the port is not held while the box waits.
  class Receiving {
   public:
    explicit Receiving(TWindowFrontEnd& front) : front_(front) { ++front_.receiving_; }
    ~Receiving() { --front_.receiving_; }
    Receiving(const Receiving&) = delete;
    Receiving& operator=(const Receiving&) = delete;

   private:
    TWindowFrontEnd& front_;
  };

 private:
  void ShowWhenReceiveEnds();
  TForm1& form_;
  int receiving_ = 0;
  std::deque<ServiceFailure> waiting_;  // failures met inside the receive handler
};
