#include "base/html_document.h"

#include <gumbo.h>

#include <cctype>

namespace qf {

struct HtmlDocument::Parsed {
  GumboOptions options = kGumboDefaultOptions;
  GumboOutput* output = nullptr;

  ~Parsed() {
    if (output) gumbo_destroy_output(&options, output);
  }
};

namespace {

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string tagName(const GumboElement& element) {
  if (element.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(element.tag);
  GumboStringPiece name = element.original_tag;  // "<name ...>", cut down to the name
  gumbo_tag_from_original_text(&name);
  return lowerCase(std::string_view(name.data, name.length));
}

// Visits the elements below node in document order until visit returns false;
// false when it did.
bool walk(const GumboNode* node, const std::function<bool(const GumboElement&)>& visit) {
  if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE &&
      node->type != GUMBO_NODE_DOCUMENT) {
    return true;
  }
  const GumboVector& children =
      node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
  if (node->type != GUMBO_NODE_DOCUMENT && !visit(node->v.element)) return false;
  for (unsigned i = 0; i < children.length; ++i) {
    if (!walk(static_cast<const GumboNode*>(children.data[i]), visit)) return false;
  }
  return true;
}

}  // namespace

HtmlDocument::HtmlDocument(std::string_view text) : text_(text), parsed_(new Parsed) {
  parsed_->options.max_errors = 0;  // errors are not reported; don't keep them
  parsed_->output = gumbo_parse_with_options(&parsed_->options, text.data(), text.size());
}

HtmlDocument::~HtmlDocument() = default;

std::optional<std::size_t> HtmlDocument::endTagOffset(std::string_view tag) const {
  if (!parsed_->output) return std::nullopt;
  std::optional<std::size_t> offset;
  walk(parsed_->output->document, [&](const GumboElement& element) {
    if (tagName(element) != tag) return true;
    // The parser also records, as the end of an element, an end tag of another
    // element that closed it; only the element's own written end tag counts.
    const GumboStringPiece& end = element.original_end_tag;
    const std::string endTag = "</" + std::string(tag);
    const std::string_view written(end.data, end.length);
    if (written.size() > endTag.size() && lowerCase(written.substr(0, endTag.size())) == endTag &&
        std::string_view("\t\n\f\r />").find(written[endTag.size()]) != std::string_view::npos) {
      offset = static_cast<std::size_t>(end.data - text_.data());
    }
    return false;
  });
  return offset;
}

void HtmlDocument::forEachElement(const std::function<void(const Element&)>& visit) const {
  if (!parsed_->output) return;
  Element found;  // one for all, so that its buffers are reused
  walk(parsed_->output->document, [&](const GumboElement& element) {
    found.tag = tagName(element);
    found.line = element.original_tag.length > 0 ? element.start_pos.line : 0;
    found.attributes.clear();
    for (unsigned i = 0; i < element.attributes.length; ++i) {
      const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
      found.attributes.push_back({attribute->name, attribute->value});
    }
    visit(found);
    return true;
  });
}

}  // namespace qf
