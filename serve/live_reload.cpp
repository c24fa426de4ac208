#include "serve/live_reload.h"

#include <optional>

#include "base/html_document.h"

namespace qf {

namespace {

// A page told "close" stops listening for good: a newer page took its
// stream. The "error" listener also hears the stream's own connection
// errors, which carry no data. After a connection is lost for good (the
// server stopped), a new one is tried every second.
constexpr std::string_view kScript = R"(<script>
(() => {
  const overlayId = "_quillforge-overlay";
  const here = () => {
    const path = decodeURIComponent(location.pathname);
    return path.endsWith("/") ? path + "index.html" : path;
  };
  const isPage = (path) => /\.html?$/i.test(path);
  const hideOverlay = () => document.getElementById(overlayId)?.remove();
  const showOverlay = (text) => {
    let overlay = document.getElementById(overlayId);
    if (!overlay) {
      overlay = document.createElement("pre");
      overlay.id = overlayId;
      overlay.style.cssText = "position:fixed;inset:0;z-index:2147483647;margin:0;padding:1em;" +
        "overflow:auto;background:rgba(40,0,0,.92);color:#fff;font:14px/1.4 monospace;" +
        "white-space:pre-wrap";
      document.documentElement.appendChild(overlay);
    }
    overlay.textContent = text;
  };
  const swapStyleSheets = () => {
    for (const link of document.querySelectorAll('link[rel~="stylesheet"]')) {
      const url = new URL(link.href, location.href);
      if (url.origin !== location.origin) continue;
      url.searchParams.set("_quillforge", Date.now());
      const fresh = link.cloneNode();
      fresh.href = url.href;
      fresh.onload = fresh.onerror = () => link.remove();
      link.after(fresh);
    }
  };
  const connect = () => {
    const source = new EventSource("/_quillforge/events");
    source.onopen = () => { window._quillforgeConnected = true; };
    source.addEventListener("reload", (event) => {
      hideOverlay();
      const changed = event.data.split("\n");
      const mine = (path) => path === here() || path === here() + ".html";
      if (changed.some((path) => mine(path) || !isPage(path))) location.reload();
    });
    source.addEventListener("css", () => { hideOverlay(); swapStyleSheets(); });
    source.addEventListener("clear", hideOverlay);
    source.addEventListener("close", () => source.close());
    source.addEventListener("error", (event) => {
      if (typeof event.data === "string") showOverlay(event.data);
      else if (source.readyState === EventSource.CLOSED) setTimeout(connect, 1000);
    });
  };
  connect();
})();
</script>
)";

void appendDataLines(std::string& out, std::string_view line) {
  std::size_t start = 0;
  while (true) {
    const std::size_t end = line.find_first_of("\r\n", start);
    out += "data: ";
    out += line.substr(start, end - start);
    out += '\n';
    if (end == std::string_view::npos) return;
    start = line.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
  }
}

}  // namespace

std::string_view liveReloadScript() { return kScript; }

std::string withLiveReloadScript(std::string_view html) {
  const HtmlDocument document(html);
  std::optional<std::size_t> end = document.endTagOffset("head");
  if (!end) end = document.endTagOffset("body");
  const std::size_t at = end.value_or(html.size());
  std::string result;
  result.reserve(html.size() + kScript.size());
  result.append(html.substr(0, at)).append(kScript).append(html.substr(at));
  return result;
}

std::string formatEvent(std::string_view event, const std::vector<std::string>& lines) {
  std::string out = "event: " + std::string(event) + "\n";
  if (lines.empty()) appendDataLines(out, "-");
  for (const std::string& line : lines) appendDataLines(out, line);
  out += '\n';
  return out;
}

}  // namespace qf
