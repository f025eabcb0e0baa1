// The remote command listing and the write checks on any panel contents: every group gives
// exactly one line, and a write is only ever allowed with values that fit the image.
#include "config/remote_commands.h"

#include <cstdlib>
#include <span>

namespace {

// Takes the panel's contents from the front of the input; an exhausted input gives zeros.
class Input {
 public:
  explicit Input(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint8_t Byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
  bool ConsumeBool() { return Byte() & 1; }
  int ConsumeIntegralInRange(int low, int high) { return low + Byte() % (high - low + 1); }
  std::string ConsumeRandomLengthString(std::size_t most) {
    std::string text;
    for (std::size_t n = Byte() % (most + 1); n > 0 && at_ < bytes_.size(); --n) text.push_back(static_cast<char>(Byte()));
    return text;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in({data, size});
  ConfigPanelValues values;
  values.PingItem = in.ConsumeIntegralInRange(-1, static_cast<int>(PingTable.size()) - 1);
  values.A232Item = in.ConsumeIntegralInRange(-1, static_cast<int>(BaudTable.size()) - 1);
  values.B232Item = in.ConsumeIntegralInRange(-1, static_cast<int>(BaudTable.size()) - 1);
  for (std::string& text : values.Text) text = in.ConsumeRandomLengthString(12);
  for (AlertChoices* c : {&values.Choices.VMX, &values.Choices.VCH, &values.Choices.RPX, &values.Choices.OSC,
                          &values.Choices.BGL}) {
    c->BZ_IN = in.ConsumeBool();
    c->BZ_OUT = in.ConsumeBool();
    c->BZ_WH = in.ConsumeBool();
    c->EV_IN = in.ConsumeBool();
    c->EV_OUT = in.ConsumeBool();
  }
  values.Choices.BZ_ACP = in.ConsumeBool();
  values.Choices.EV_ACP = in.ConsumeBool();
  values.Choices.BZ_ACN = in.ConsumeBool();
  values.Choices.EV_ACN = in.ConsumeBool();

  const RemoteListing listing = ListRemoteCommands(values);
  if (listing.Lines.size() != 10) std::abort();  // the header and nine groups

  const PanelCheck check = CheckConfigPanel(values);
  if (check.record.has_value() == !check.message.empty()) std::abort();
  // The panel never lets "during" stand with "entry" or "exit" of the same buzzer.
  const auto interlocked = [](const AlertChoices& c) { return !(c.BZ_WH && (c.BZ_IN || c.BZ_OUT)); };
  const PanelChoices& ch = values.Choices;
  if (check.record && interlocked(ch.VMX) && interlocked(ch.VCH) && interlocked(ch.RPX) && interlocked(ch.OSC) &&
      interlocked(ch.BGL)) {
    // What passes is encoded and decoded without loss (A232 aside, which a read insists on).
    ConfigRecord record = *check.record;
    record.A232 = 1152;
    const DecodedConfig decoded = DecodeConfigImage(EncodeConfigImage(record).image, false);
    if (decoded.errors != 0 || decoded.record != record) std::abort();
  }
  return 0;
}
