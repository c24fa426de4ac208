#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/compile_result.h"
#include "engine/output_line_map.h"

namespace qf {

/// A source file as one compile of a page reached it.
struct LinkSource {
  std::string file;                       // spelled as in include chains
  std::vector<IncludeSite> includedFrom;  // innermost first; empty for the page's own source
};

/// A local reference of a page (href, src, a srcset candidate, poster, or the
/// URL of a meta refresh), where the page's source wrote it.
struct PageLink {
  std::string reference;   // as written, without surrounding white space
  std::size_t source = 0;  // in PageLinks::sources
  long line = 0;
};

/// What the link check needs of one page.
struct PageLinks {
  std::vector<LinkSource> sources;  // each once
  std::vector<PageLink> links;      // in document order
  std::vector<std::string> ids;     // the ids and <a name>s it defines, sorted, once each
};

/// The links and ids of an HTML page. Each link is placed at the source line
/// that wrote its element's start tag, as map (may be null) tells; a line the
/// map does not know is placed at page, that line of the output.
PageLinks linksOf(std::string_view html, const OutputLineMap* map, const std::string& page);

/// links as one text for the build state, and back; nullopt for a text that
/// encodeLinks did not make.
std::string encodeLinks(const PageLinks& links);
std::optional<PageLinks> decodeLinks(std::string_view text);

/// The files of an output tree, as the link check sees them: paths relative
/// to the tree's root, '/' between names. Pages that this build made also
/// have their ids and the source they were made from. What a reference leads
/// to depends on the files and pages alone, not on the order they came in.
class OutputTree {
 public:
  void addFile(const std::string& path);
  void removeFile(const std::string& path);
  /// A page at path, with its ids as linksOf gives them.
  void addPage(const std::string& path, std::string source, std::vector<std::string> ids);

  /// The same files and pages: every check gives the same lines in both.
  friend bool operator==(const OutputTree& a, const OutputTree& b) {
    return a.files_ == b.files_ && a.pages_ == b.pages_;
  }

  /// Every file below root (ending in '/'), found by walking it.
  static OutputTree walk(const std::string& root);

  /// One warning line ("file:line: warning: broken link ...") for every
  /// reference of the page at path that leads to no file of the tree, or to
  /// no element of a page of the build that has the fragment as its id. A
  /// place and reference that break alike are reported once. Not to be
  /// called from several threads at once.
  std::vector<std::string> check(const std::string& path, const PageLinks& links) const;

 private:
  struct Page {
    std::string source;
    std::vector<std::string> ids;
    friend bool operator==(const Page&, const Page&) = default;
  };
  // Where a reference leads: a file of the tree, or why it leads nowhere.
  struct Target {
    std::string file;        // empty when there is none
    std::string suggestion;  // the reference with the tree's letter case, when only that differs
  };
  /// Where the reference leads from the page at pagePath; nullopt when it can
  /// name no file at all.
  std::optional<Target> find(const std::string& pagePath, std::string_view reference) const;
  /// The same for a reference's path (not empty), the suggestion without
  /// query and fragment.
  std::optional<Target> resolve(const std::string& pagePath, std::string_view path) const;
  void addLowerCase(const std::string& letters, const std::string& path);

  std::unordered_set<std::string> files_;
  /// The least file, in byte order (the order a walk finds them in), with
  /// those letters.
  std::unordered_map<std::string, std::string> byLowerCase_;
  std::unordered_map<std::string, Page> pages_;
  // What resolve() found, by path (and the page's directory for a relative one).
  mutable std::unordered_map<std::string, std::optional<Target>> resolved_;
};

}  // namespace qf
