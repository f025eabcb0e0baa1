// The version check on whatever a web server might send: the reply's body as a browser
// control gives it, then the token parser. The first byte picks the reply's content type.
#include "update/version_page.h"
#include "update/version_token.h"

#include <array>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 6> ContentTypes{
    "", "text/plain", "text/html", "Text/HTML; charset=utf-8", "application/octet-stream",
    "application/json"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view type = ContentTypes[data[0] % ContentTypes.size()];
  const std::string_view reply(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string body = PageBodyHtml(reply, type);
  if (PageKindOf(type, reply) == PageKind::Html) {
    // The body's text is a piece of the page.
    if (reply.find(body) == std::string_view::npos) std::abort();
  } else {
    // The whole text, escaped, inside <pre> and </pre>.
    if (body.size() < reply.size() + 11 || !body.starts_with("<pre>") || !body.ends_with("</pre>"))
      std::abort();
  }
  if (const auto version = ParseVersionToken(body)) {
    // Only a text of 33 to 499 characters can hold a token.
    if (body.size() <= 32 || body.size() >= 500) std::abort();
    (void)DownloadPath(*version);
  }
  return 0;
}
