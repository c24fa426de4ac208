#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qf {

/// The path below the served root that a request target names, with
/// percent escapes decoded, the query cut off and empty and "." names
/// dropped; "" for the root itself, a trailing '/' kept. Nullopt for a target
/// that could climb out of the root or is no plain path: a ".." name in any
/// spelling, a backslash, a control byte, a malformed escape, or a target not
/// starting with '/'.
std::optional<std::string> requestPathBelowRoot(std::string_view target);

/// What a path below the root leads to on disk.
struct Resolution {
  enum class Kind {
    kFile,                   // file: the regular file to send
    kDirectoryWithoutSlash,  // a directory asked for without its trailing '/'
    kNotFound,               // missing, or a directory without index.html
    kOutside,                // links lead out of the root
  };
  Kind kind = Kind::kNotFound;
  std::string file;
  /// True when file is the page relative names without its ".html".
  bool addedHtmlExtension = false;
};

/// Resolves relative (as requestPathBelowRoot gives it) under root, which is
/// an absolute path without links. Only what belongs to the site is found
/// (belongsToSite: nothing hidden, no editor's scratch file). Links are
/// followed, and their targets must stay inside the root (resolveBelow); a
/// directory stands for its index.html, and a missing "name" for
/// "name.html" when that is a file.
Resolution resolveBelowRoot(const std::string& root, const std::string& relative);

}  // namespace qf
