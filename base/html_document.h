#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// An HTML page parsed once, the way browsers parse it, for finding where its
/// elements really stand in the text. Tags written inside comments, scripts,
/// style sheets, titles and text areas are text there, not tags.
class HtmlDocument {
 public:
  struct Attribute {
    std::string_view name;   // lower case
    std::string_view value;  // with character references decoded
  };
  struct Element {
    std::string tag;       // lower case
    std::size_t line = 0;  // of the start tag, from 1; 0 for an implied element
    std::vector<Attribute> attributes;
  };

  /// Parses text, which must stay unchanged while the document is used. Any
  /// bytes are accepted.
  explicit HtmlDocument(std::string_view text);
  ~HtmlDocument();
  HtmlDocument(const HtmlDocument&) = delete;
  HtmlDocument& operator=(const HtmlDocument&) = delete;

  /// The byte offset of the end tag that closes the first element named tag
  /// (lower case, e.g. "head"), as written in the text in any case. Nullopt
  /// when there is no such element or its end is implied (not written, or
  /// brought about by another tag). Where the parser takes several end tags
  /// for one element (a "</body>" after content that followed an earlier
  /// one), the last.
  std::optional<std::size_t> endTagOffset(std::string_view tag) const;

  /// Calls visit for every element in document order, implied ones (an
  /// unwritten <head>, say) included. The views in an Element stay valid as
  /// long as the document.
  void forEachElement(const std::function<void(const Element&)>& visit) const;

 private:
  struct Parsed;
  std::string_view text_;
  std::unique_ptr<Parsed> parsed_;
};

}  // namespace qf
