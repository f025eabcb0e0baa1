// The service engine fed arbitrary sequences of receive events, ticks, port closings and
// requests, with what must always hold checked after every write and every step:
//  - everything written is one whole frame for the unit, of a command the tool sends;
//  - one transfer at a time: the two pacers never run together, and every block frame is the
//    current transfer's (its token, count and index, its data or trailer);
//  - a configuration image set up for writing is always a valid one;
//  - nothing is read or written outside a buffer (the sanitizers).
// Input: a byte picks the step, followed by its arguments.
#include "config/panel_values.h"
#include "service/service_engine.h"

// Std
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fputs(what, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

class CheckingFrontEnd final : public ServiceFrontEnd {
 public:
  ServiceEngine* engine = nullptr;
  bool open = true;
  bool ventora = false;
  bool autoClose = false;

  bool PortOpen() override { return open; }
  void Write(std::span<const std::uint8_t> bytes) override {
    if (!open) Broken("written while the port is closed");
    const CheckedFrame frame = CheckFrame(bytes, UnitAddress);
    if (frame.outcome != FrameOutcome::Accepted || frame.trailingBytes) Broken("not one whole frame");
    const TransferState& t = engine->Transfer();
    switch (frame.command) {
      case CmdFirmwareBlock:
      case CmdConfigBlock: {
        if (engine->Pacing(Pacer::Read)) Broken("a block frame during a read");
        const std::optional<BlockPayload> block = ParseBlockPayload(frame.payload);
        if (!block || frame.command != t.Kind || block->token != t.Token || block->count != t.BlockCount ||
            block->index != t.Index || block->index == 0 || block->index > block->count)
          Broken("a block frame of another transfer");
        if (block->index == block->count) {
          if (!std::equal(block->data.begin(), block->data.end(), t.Trailer.begin(), t.Trailer.end()))
            Broken("the trailer frame does not carry the trailer");
        } else {
          const std::size_t from = std::size_t{block->index - 1u} * TransferBlockSize;
          if (from + block->data.size() > t.Data.size() ||
              !std::equal(block->data.begin(), block->data.end(), t.Data.begin() + static_cast<std::ptrdiff_t>(from)))
            Broken("a block frame's data is not the transfer's");
        }
        if (frame.command == CmdConfigBlock && t.Data.data() != engine->TxConfig().image.data())
          Broken("a configuration transfer of other data");
        break;
      }
      case CmdConfigRead: {
        if (engine->Pacing(Pacer::Transfer)) Broken("a read request during a transfer");
        const std::optional<ConfigReadRequest> request = ParseConfigReadRequest(frame.payload);
        if (!request || t.Index < 1 || t.Index > ReadBlockCount) Broken("a read request of no block");
        break;
      }
      case CmdJump:
        if (!frame.payload.empty()) Broken("a jump with a payload");
        break;
      default:
        Broken("a command the tool never sends");
    }
  }
  void Log(std::string_view line) override {
    if (line.size() > 200) Broken("a log line out of all proportion");
  }
  void LogInRed() override {}
  void ProgressMax(int) override {}
  void Progress(int) override {}
  void Failure(const ServiceFailure&) override {}
  void StartPacing(Pacer) override {
    if (engine->Pacing(Pacer::Transfer) && engine->Pacing(Pacer::Read)) Broken("both pacers run");
  }
  void StopPacing(Pacer) override {}
  void CloseSoon(bool) override {}
  void Identified(const TDeviceInfo&) override {}
  void ReadStarted() override {}
  void ConfigRead(const DecodedConfig&) override {}
  void ShowStock(const ConfigRecord&) override {}
  void TransferComplete(std::uint8_t) override {}
  bool ForceVentora() override { return ventora; }
  bool AutoClose() override { return autoClose; }
  std::string DateTimeText() override { return "31/01/202414:05:09"; }
};

// A panel's worth of values from the input; written only when they pass the write checks,
// with RS232-A at 115200 as its greyed list always holds it.
void PanelWrite(ServiceEngine& engine, const std::uint8_t*& at, const std::uint8_t* end) {
  const auto next = [&]() -> unsigned { return at < end ? *at++ : 0u; };
  ConfigPanelValues v;
  v.PingItem = static_cast<int>(next() % 11) - 1;
  v.A232Item = 3;
  v.B232Item = static_cast<int>(next() % 5) - 1;
  for (std::string& text : v.Text) text = std::to_string(next() * 8 + next() % 8);
  const unsigned bits = next() | next() << 8 | next() << 16 | next() << 24;
  AlertChoices* conditions[] = {&v.Choices.VMX, &v.Choices.VCH, &v.Choices.RPX, &v.Choices.OSC, &v.Choices.BGL};
  for (int i = 0; i < 5; ++i) {
    AlertChoices& c = *conditions[i];
    c.BZ_IN = bits >> (5 * i) & 1, c.BZ_OUT = bits >> (5 * i + 1) & 1, c.EV_IN = bits >> (5 * i + 2) & 1;
    c.EV_OUT = bits >> (5 * i + 3) & 1, c.BZ_WH = (bits >> (5 * i + 4) & 1) && !c.BZ_IN && !c.BZ_OUT;
  }
  v.Choices.BZ_ACP = bits >> 25 & 1, v.Choices.EV_ACP = bits >> 26 & 1;
  v.Choices.BZ_ACN = bits >> 27 & 1, v.Choices.EV_ACN = bits >> 28 & 1;
  const PanelCheck check = CheckConfigPanel(v);
  if (!check.record) return;
  engine.WriteConfig(*check.record);
  const DecodedConfig written = DecodeConfigImage(engine.TxConfig().image, false);
  if (written.errors != 0 || written.record != *check.record) Broken("a write image that is not the record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckingFrontEnd front;
  ServiceEngine engine(front);
  front.engine = &engine;
  engine.SeedTokenFallback(1);
  TransferTrailer trailer = engine.TxConfig().trailer;
  const std::uint8_t* at = data;
  const std::uint8_t* const end = data + size;
  while (at < end) {
    const std::uint8_t op = *at++;
    switch (op % 12) {
      case 0: case 1: case 2: case 3: case 4: {  // a receive event
        std::size_t length = at < end ? *at++ : 0;
        length = (length << 8 | (at < end ? *at++ : 0)) & 0x7FF;
        const std::size_t take = std::min<std::size_t>(length, static_cast<std::size_t>(end - at));
        engine.Receive({at, take});
        at += take;
        break;
      }
      case 5:  // the tick of whichever pacer runs
        if (engine.Pacing(Pacer::Transfer)) engine.TickTransfer();
        if (engine.Pacing(Pacer::Read)) engine.TickRead();
        break;
      case 6: engine.UploadFirmware(); break;
      case 7: engine.ReadConfig(); break;
      case 8: PanelWrite(engine, at, end); break;
      case 9: engine.Jump(); break;
      case 10: engine.NewConnection(); break;
      default:
        switch (op / 12 % 3) {
          case 0: front.open = !front.open; break;
          case 1: front.ventora = !front.ventora; break;
          default: front.autoClose = !front.autoClose; break;
        }
    }
    if (engine.Pacing(Pacer::Transfer) && engine.Pacing(Pacer::Read)) Broken("both pacers run");
    // A new write image (its trailer changes with it) must be a valid one.
    if (engine.TxConfig().trailer != trailer) {
      trailer = engine.TxConfig().trailer;
      if (DecodeConfigImage(engine.TxConfig().image, false).errors != 0) Broken("an invalid write image");
    }
  }
  return 0;
}
