#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// Where pages listen for the server's events.
inline constexpr std::string_view kEventsPath = "/_quillforge/events";

/// The events a page understands. Each carries lines of data:
/// reload: URL paths that changed; a page reloads when its own path is
///   among them or any of them is not a page (a picture, a script).
/// css: style sheets that changed; the page fetches its style sheets anew
///   without reloading.
/// error: the failures of a build, shown over the page: each group of lines
///   up to an empty line is one failure; when its first line starts with
///   kFailurePagesPrefix, that line lists (space-separated) the URL paths of
///   the pages that failed so, whose own failures come first over them.
/// clear: a good build changed nothing; the failure lines go.
/// links: the site's broken links: a title line, then one line per broken
///   link, "URL path of the page<TAB>warning"; a page shows its own in a
///   small panel, and removes the panel when it has none.
/// close: the server ends this page's stream to make room for a newer one;
///   the page stops listening.
inline constexpr std::string_view kReloadEvent = "reload";
inline constexpr std::string_view kCssEvent = "css";
inline constexpr std::string_view kErrorEvent = "error";
inline constexpr std::string_view kClearEvent = "clear";
inline constexpr std::string_view kLinksEvent = "links";
inline constexpr std::string_view kCloseEvent = "close";
inline constexpr std::string_view kFailurePagesPrefix = "@pages ";

/// The script element that makes a page follow the events, reconnecting by
/// itself when the server goes away and comes back.
std::string_view liveReloadScript();

/// html with the script inserted before the end tag of its head element as
/// the page's parser reads it (so never inside a comment, script, style
/// sheet, title or text area), else before that of its body, else at the
/// end.
std::string withLiveReloadScript(std::string_view html);

/// One event in the event-stream format. Line breaks inside a line start a
/// new data line; an event without lines carries one "-" (browsers drop
/// events without data).
std::string formatEvent(std::string_view event, const std::vector<std::string>& lines);

}  // namespace qf
