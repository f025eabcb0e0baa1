// The frame checker and every payload reader on arbitrary bytes: nothing is read outside
// the bytes given, and what is accepted is consistent with what was given.
#include "protocol/frame.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const std::uint8_t receiver : {ToolAddress, UnitAddress}) {
    const CheckedFrame frame = CheckFrame(bytes, receiver);
    if (frame.outcome != FrameOutcome::Accepted) continue;
    // An accepted frame lies inside the bytes and rebuilds to the same bytes.
    if (frame.payload.size() != frame.length || frame.length + FrameOverhead > size) std::abort();
    const auto rebuilt = BuildFrame(frame.command, frame.payload, frame.address);
    if (!std::equal(rebuilt.begin(), rebuilt.end(), bytes.begin())) std::abort();
    if (frame.trailingBytes != (size > rebuilt.size())) std::abort();
  }
  // The readers take any payload, the whole input included.
  (void)ParseAck(bytes);
  if (const auto info = ParseDeviceInfo(bytes)) {
    const auto again = ParseDeviceInfo(DeviceInfoPayload(*info, bytes.subspan(13, 12), bytes.subspan(25, 12)));
    if (!again || again->Id != info->Id || again->Version != info->Version) std::abort();
  }
  if (const auto answer = ParseConfigData(bytes)) {
    if (answer->data.data() < data || answer->data.data() + answer->data.size() > data + size) std::abort();
  }
  (void)ParseConfigReadRequest(bytes);
  (void)ParseBlockPayload(bytes);
  return 0;
}
