// The version token parser on whatever a web server might send.
#include "update/version_token.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto version = ParseVersionToken(text)) {
    // Only a text of 33 to 499 characters can hold a token.
    if (size <= 32 || size >= 500) std::abort();
    (void)DownloadPath(*version);
  }
  return 0;
}
