#pragma once
// The service of one unit, Qt-free: the receive dispatcher, the block transfer and the
// configuration read with their resends and give-ups, the identity rules and the automatic
// flow (upload old firmware, read the configuration, replace an invalid one). It owns the
// protocol state. A front end (the window, the command line) feeds it the bytes of each
// receive event, the ticks of its two pacing timers and its requests, and carries out what
// it asks for through ServiceFrontEnd. Time comes in as ticks only, so the engine is
// deterministic.
//
// Re-entry. The front end's ProcessMessages, and its Failure (a box that waits for its OK),
// may run the inputs queued meanwhile before they return: the bytes of another receive event,
// a tick of a running pacer, the port closed, a request, a new connection. The engine lets
// that happen only where the step in hand has settled what such an input reads: after a frame
// or a request is written (the acknowledgement it waits for already armed), at the end of a
// tick, after the last answer of a transfer or a read has stopped its pacer, and around the
// boxes of a give-up or a lost connection. A nested input acts as it would between two calls;
// the step then goes on with the state as the input left it (a port closed there makes the
// stock record's write fail with ERRO #0x01; an identity taken in before an upload's last
// acknowledgement has been handled is not acted on, the next one is).

// lib
#include "config/config_record.h"
#include "protocol/frame.h"
#include "transfer/transfer_core.h"

// Std
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>

// The two pacing timers: the block transfer ticks every 500 ms, the configuration read every
// 100 ms. They tick only while the engine has them started.
enum class Pacer : std::uint8_t { Transfer, Read };
constexpr int PacerIntervalMs(Pacer pacer) { return pacer == Pacer::Transfer ? 500 : 100; }

// One of the four message boxes of a transfer or a read that failed.
struct ServiceFailure {
  int code = 0;       // 1, 2 (transfer), 3, 4 (read)
  std::string title;  // "ERRO #0x0N"
  std::string text;
  bool warningIcon = false;
};

// What the engine needs of its front end. Texts are UTF-8. Calls come on the thread that
// calls the engine, in the order the service does them.
class ServiceFrontEnd {
 public:
  virtual ~ServiceFrontEnd() = default;

  // The port: whether it is open now, and one whole frame to write (may throw the port's error).
  [[nodiscard]] virtual bool PortOpen() = 0;
  virtual void Write(std::span<const std::uint8_t> frame) = 0;

  // The log: a line appended in the current colour ("\r\n" inside starts another line), and
  // red for every line from here on (until the front end clears its log).
  virtual void Log(std::string_view line) = 0;
  virtual void LogInRed() = 0;

  virtual void ProgressMax(int maximum) = 0;
  virtual void Progress(int position) = 0;
  virtual void Failure(const ServiceFailure& failure) = 0;  // may let pending events run
  virtual void StartPacing(Pacer pacer) = 0;
  virtual void StopPacing(Pacer pacer) = 0;
  // Close the port 50 ms from now, outside the receive handler; `portListUsable`: the port
  // list may be used again (after a configuration write, not after operating mode).
  virtual void CloseSoon(bool portListUsable) = 0;

  // A unit in service mode announced itself (after its identity line).
  virtual void Identified(const TDeviceInfo& info) = 0;
  // A configuration read is starting: what showed the last one is now stale.
  virtual void ReadStarted() = 0;
  // The read is complete: the image decoded with `errors` 0 and its record, or failed.
  virtual void ConfigRead(const DecodedConfig& decoded) = 0;
  // A stock record about to replace an invalid configuration.
  virtual void ShowStock(const ConfigRecord& stock) = 0;
  // The last frame of a transfer was acknowledged (kind: what the transfer last set up).
  virtual void TransferComplete(std::uint8_t kind) = 0;
  // The unit runs in operating mode: its identity said so (`identity`), or a notice did (null).
  virtual void OperatingMode(const TDeviceInfo* /*identity*/) {}
  // A firmware upload was completed by the restarted unit's announcement, its last
  // acknowledgement lost (Options::announcementCompletesUpload); TransferComplete follows.
  virtual void LastAckLost() {}

  // Settings read when they matter: force the Ventora preset on a read; close the port after
  // a configuration write.
  [[nodiscard]] virtual bool ForceVentora() = 0;
  [[nodiscard]] virtual bool AutoClose() = 0;
  // The date in the system's short date format followed by its long time format (the token).
  [[nodiscard]] virtual std::string DateTimeText() = 0;

  // Let pending events run (the window's messages); nothing by default. See "Re-entry" above.
  virtual void ProcessMessages() {}
};

class ServiceEngine {
 public:
  struct Options {
    // A unit's identity starts what it calls for: the firmware upload or the configuration
    // read. Without this the identity is only taken in and reported.
    bool actOnIdentity = true;
    // A read whose image is invalid is replaced at once by the stock record; without this the
    // read only reports it and the front end decides.
    bool rewriteInvalid = true;
    // While the last frame of a firmware upload waits for its acknowledgement, an announcement
    // at the carried firmware completes the upload: the unit took the frame and restarted, and
    // the acknowledgement was lost on the way. Without this the announcement is not acted on
    // and the transfer gives up with ERRO #0x02, as in the window.
    bool announcementCompletesUpload = false;
  };

  explicit ServiceEngine(ServiceFrontEnd& frontEnd) : ServiceEngine(frontEnd, Options{}) {}
  ServiceEngine(ServiceFrontEnd& frontEnd, Options options);
  ServiceEngine(const ServiceEngine&) = delete;
  ServiceEngine& operator=(const ServiceEngine&) = delete;

  // ---- Inputs ----
  // The bytes of one receive event, judged as one frame and acted on.
  void Receive(std::span<const std::uint8_t> bytes);
  // One tick of a pacing timer (also run by the engine itself on an answer).
  void TickTransfer();
  void TickRead();
  // The port has just been opened: the unit's next identity is acted on.
  void NewConnection() { identityHandled_ = false; }

  // ---- Requests ----
  void UploadFirmware();  // the firmware the tool carries, to a unit of kind 3, 4 or 41
  void Jump();            // the jump frame, when the port is open
  void ReadConfig();      // the unit's configuration area, in five requests
  void WriteConfig(const ConfigRecord& record);  // a record that passed the write checks

  // ---- State ----
  [[nodiscard]] const TDeviceInfo& DeviceInfo() const { return deviceInfo_; }
  [[nodiscard]] bool IdentityHandled() const { return identityHandled_; }
  [[nodiscard]] const TransferState& Transfer() const { return transfer_; }
  [[nodiscard]] const ConfigImage& RxImage() const { return rxImage_; }
  [[nodiscard]] const EncodedConfig& TxConfig() const { return txConfig_; }
  [[nodiscard]] bool Pacing(Pacer pacer) const { return pacing_[static_cast<int>(pacer)]; }
  // The rotating shift of the next transfer token (5..11); the token's date arithmetic
  // depends on it.
  void SetTokenShift(std::uint8_t shift) { transfer_.TokenShift = shift; }
  // The generator behind the token when its date arithmetic gives 0 (seeded from the system
  // on first use otherwise).
  void SeedTokenFallback(std::uint32_t seed) {
    random_.seed(seed);
    seeded_ = true;
  }

 private:
  void TxInit();
  void SendPackage();
  void RequestPackage();
  void FinishConfigRead();
  void PacedTick(Pacer pacer, void (ServiceEngine::*send)(), int noConnectionCode);
  void GiveUp(Pacer pacer);
  void Start(Pacer pacer);
  void Stop(Pacer pacer);
  void OperatingModeNotice(const TDeviceInfo* identity);

  // One accepted frame; false for the ends that skip the trailing-bytes count (and for
  // payloads too short to read).
  bool HandleUnitFrame(const CheckedFrame& frame);
  bool HandleAck(std::span<const std::uint8_t> payload);
  bool HandleDeviceInfo(std::span<const std::uint8_t> payload);
  bool CompletesUpload(std::span<const std::uint8_t> payload);
  bool HandleConfigData(std::span<const std::uint8_t> payload);

  ServiceFrontEnd& front_;
  Options options_;
  TDeviceInfo deviceInfo_;        // the unit last heard
  bool identityHandled_ = false;  // one device-information frame acted on per connection
  TransferState transfer_;        // the block transfer and the configuration read
  ConfigImage rxImage_{};         // filled by the configuration read
  EncodedConfig txConfig_;        // the image a configuration write sends, and its trailer
  bool pacing_[2] = {false, false};
  std::minstd_rand random_;
  bool seeded_ = false;
};
