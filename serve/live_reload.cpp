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
  const linksId = "_quillforge-links";
  // The page's own broken links, in a corner; a click puts the panel away.
  const showLinks = (data) => {
    const [title, ...lines] = data.split("\n");
    const prefixes = [here() + "\t", here() + ".html\t"];  // "/name" serves name.html
    const mine = [];
    for (const line of lines) {
      const prefix = prefixes.find((p) => line.startsWith(p));
      if (prefix) mine.push(line.slice(prefix.length));
    }
    let panel = document.getElementById(linksId);
    if (mine.length === 0) { panel?.remove(); return; }
    if (!panel) {
      panel = document.createElement("pre");
      panel.id = linksId;
      panel.style.cssText = "position:fixed;right:8px;bottom:8px;z-index:2147483646;margin:0;" +
        "max-width:min(60em,90vw);max-height:30vh;overflow:auto;padding:.5em .8em;" +
        "background:#fff8dc;color:#222;border:1px solid #c90;border-radius:4px;" +
        "font:12px/1.4 monospace;white-space:pre-wrap;cursor:pointer";
      panel.onclick = () => panel.remove();
      document.documentElement.appendChild(panel);
    }
    panel.textContent = title + "\n" + mine.join("\n");
  };
  let dismissed = false;
  const hideOverlay = () => document.getElementById(overlayId)?.remove();
  const newBuild = () => { dismissed = false; hideOverlay(); };
  // Failures as the error event sends them; the page's own come first.
  const failuresOf = (data) => {
    const mine = (path) => path === here() || path === here() + ".html";
    const failures = data.split("\n\n").filter((block) => block.trim() !== "").map((block) => {
      const lines = block.split("\n");
      let pages = [];
      if (lines[0].startsWith("@pages ")) pages = lines.shift().slice(7).split(" ").filter(Boolean);
      return { pages, text: lines.join("\n").trimEnd(), own: pages.some(mine) };
    });
    return failures.filter((f) => f.own).concat(failures.filter((f) => !f.own));
  };
  const showOverlay = (data) => {
    if (dismissed) return;
    hideOverlay();
    const failures = failuresOf(data);
    const count = failures.reduce((sum, f) => sum + Math.max(1, f.pages.length), 0);
    const overlay = document.createElement("div");
    overlay.id = overlayId;
    overlay.style.cssText = "position:fixed;inset:0;z-index:2147483647;margin:0;padding:1em;" +
      "overflow:auto;background:rgba(40,0,0,.92);color:#fff;font:14px/1.4 monospace";
    const head = document.createElement("div");
    head.style.cssText = "display:flex;justify-content:space-between;font-weight:bold";
    const title = document.createElement("span");
    title.textContent = count + (count === 1 ? " failure" : " failures");
    const close = document.createElement("button");
    close.id = overlayId + "-close";
    close.textContent = "\u00d7";
    close.title = "Close: Esc";
    close.style.cssText = "font:inherit;color:inherit;background:none;border:0;cursor:pointer";
    close.onclick = () => { dismissed = true; hideOverlay(); };
    head.append(title, close);
    overlay.append(head);
    for (const failure of failures) {
      const text = document.createElement("pre");
      text.style.cssText = "white-space:pre-wrap;margin:1em 0;font:inherit" +
        (failure.own ? ";color:#ffd0d0" : "");
      text.textContent = failure.text;
      overlay.append(text);
    }
    document.documentElement.appendChild(overlay);
  };
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape" && document.getElementById(overlayId)) {
      dismissed = true;
      hideOverlay();
    }
  });
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
      newBuild();
      const changed = event.data.split("\n");
      const mine = (path) => path === here() || path === here() + ".html";
      if (changed.some((path) => mine(path) || !isPage(path))) location.reload();
    });
    source.addEventListener("css", () => { newBuild(); swapStyleSheets(); });
    source.addEventListener("clear", newBuild);
    source.addEventListener("links", (event) => showLinks(event.data));
    source.addEventListener("close", () => source.close());
    source.addEventListener("error", (event) => {
      if (typeof event.data === "string") { dismissed = false; showOverlay(event.data); }
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
