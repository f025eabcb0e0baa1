// The configuration image decoder on arbitrary images, with and without the forced preset:
// it reads only inside the 2032 bytes, and every image it passes encodes back to itself.
#include "config/config_record.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Short inputs are laid over a valid image so the decoder's later checks are reached.
  ConfigImage image = EncodeConfigImage(DefaultConfig()).image;
  std::memcpy(image.data(), data, std::min(size, image.size()));
  for (const bool forcePreset : {false, true}) {
    const DecodedConfig decoded = DecodeConfigImage(image, forcePreset);
    if (decoded.errors != 0) continue;
    if (forcePreset && decoded.record != VentoraPreset()) std::abort();
    // A passing image re-encodes to a passing image holding the same record.
    const DecodedConfig again = DecodeConfigImage(EncodeConfigImage(decoded.record).image, forcePreset);
    if (again.errors != 0 || again.record != decoded.record) std::abort();
  }
  return 0;
}
