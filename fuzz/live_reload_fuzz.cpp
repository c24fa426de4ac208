// Reads arbitrary pages: every end tag found must lie in the page and start
// with "</head" or "</body" (in any case), and the live-reload script must go
// in at the head's end tag, else the body's, else the end.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/html_document.h"
#include "serve/live_reload.h"

namespace {

bool startsEndTag(std::string_view text, std::size_t at) {
  for (const std::string_view tag : {"</head", "</body"}) {
    if (text.size() - at < tag.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < tag.size(); ++i) {
      same = same && std::tolower(static_cast<unsigned char>(text[at + i])) == tag[i];
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  const qf::HtmlDocument document(html);
  for (const std::string_view tag : {"head", "body"}) {
    const std::optional<std::size_t> end = document.endTagOffset(tag);
    if (end && (*end >= html.size() || !startsEndTag(html, *end))) std::abort();
  }
  const std::string result = qf::withLiveReloadScript(html);
  const std::string_view script = qf::liveReloadScript();
  const std::size_t place =
      document.endTagOffset("head").value_or(document.endTagOffset("body").value_or(html.size()));
  if (result !=
      std::string(html.substr(0, place)) + std::string(script) + std::string(html.substr(place))) {
    std::abort();
  }
  return 0;
}
