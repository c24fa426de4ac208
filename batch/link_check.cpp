#include "batch/link_check.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "base/directory.h"
#include "base/file_system.h"
#include "base/html_document.h"
#include "base/path.h"
#include "base/text.h"
#include "base/tree_walk.h"
#include "batch/run_messages.h"

namespace qf {

namespace {

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), lowered);
  return lower;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && lowerCase(a) == lowerCase(b);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isAsciiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isAsciiSpace(text.back())) text.remove_suffix(1);
  return text;
}

// A URL as browsers take it: without surrounding white space, and without
// tabs and line ends inside.
std::string cleanedUrl(std::string_view value) {
  std::string url;
  for (const char c : trimmed(value)) {
    if (c != '\t' && c != '\n' && c != '\r') url += c;
  }
  return url;
}

// Neither empty, nor with a scheme ("https:", "mailto:"), nor "//host/...".
bool isLocal(std::string_view url) {
  if (url.empty() || url.substr(0, 2) == "//") return false;
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) return true;
  const auto isSchemeChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  };
  return !std::isalpha(static_cast<unsigned char>(url[0])) ||
         !std::all_of(url.begin(), url.begin() + static_cast<long>(colon), isSchemeChar);
}

// The URLs of a srcset: each candidate is a URL, then descriptors up to the
// next comma outside parentheses; a URL ending in commas ends its candidate.
void srcsetUrls(std::string_view srcset, std::vector<std::string_view>& urls) {
  std::size_t at = 0;
  while (at < srcset.size()) {
    while (at < srcset.size() && (isAsciiSpace(srcset[at]) || srcset[at] == ',')) ++at;
    std::size_t end = at;
    while (end < srcset.size() && !isAsciiSpace(srcset[end])) ++end;
    std::string_view url = srcset.substr(at, end - at);
    at = end;
    if (!url.empty() && url.back() == ',') {
      while (!url.empty() && url.back() == ',') url.remove_suffix(1);
    } else {
      int depth = 0;
      for (; at < srcset.size() && (depth > 0 || srcset[at] != ','); ++at) {
        if (srcset[at] == '(') ++depth;
        if (srcset[at] == ')' && depth > 0) --depth;
      }
    }
    if (!url.empty()) urls.push_back(url);
  }
}

// The URL of a refresh: "5; url=page.html", "0;URL='page.html'", "3, page.html".
std::optional<std::string_view> refreshUrl(std::string_view content) {
  std::size_t at = 0;
  while (at < content.size() && isAsciiSpace(content[at])) ++at;
  while (at < content.size() &&
         (std::isdigit(static_cast<unsigned char>(content[at])) || content[at] == '.')) {
    ++at;
  }
  while (at < content.size() && isAsciiSpace(content[at])) ++at;
  if (at < content.size() && (content[at] == ';' || content[at] == ',')) ++at;
  while (at < content.size() && isAsciiSpace(content[at])) ++at;
  std::string_view rest = content.substr(at);
  if (rest.size() >= 3 && equalsIgnoringCase(rest.substr(0, 3), "url")) {
    std::string_view afterUrl = trimmed(rest.substr(3));
    if (!afterUrl.empty() && afterUrl[0] == '=') rest = trimmed(afterUrl.substr(1));
  }
  if (!rest.empty() && (rest[0] == '\'' || rest[0] == '"')) {
    const char quote = rest[0];
    rest.remove_prefix(1);
    rest = rest.substr(0, rest.find(quote));
  }
  if (rest.empty()) return std::nullopt;
  return rest;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

void putText(std::string& out, std::string_view text) {
  out += std::to_string(text.size());
  out += ':';
  out += text;
}

void putNumber(std::string& out, long long number) {
  out += std::to_string(number);
  out += ';';
}

// Reads what putText and putNumber wrote, in order; fails for good at the first mismatch.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool number(long long& value) {
    const auto [end, error] = std::from_chars(text_.data(), text_.data() + text_.size(), value);
    if (error != std::errc() || end == text_.data() + text_.size() || *end != ';') return false;
    text_.remove_prefix(static_cast<std::size_t>(end - text_.data()) + 1);
    return true;
  }
  bool text(std::string& value) {
    long long size = 0;
    const auto [end, error] = std::from_chars(text_.data(), text_.data() + text_.size(), size);
    if (error != std::errc() || end == text_.data() + text_.size() || *end != ':' || size < 0) {
      return false;
    }
    const std::size_t start = static_cast<std::size_t>(end - text_.data()) + 1;
    if (static_cast<unsigned long long>(size) > text_.size() - start) return false;
    value.assign(text_.substr(start, static_cast<std::size_t>(size)));
    text_.remove_prefix(start + static_cast<std::size_t>(size));
    return true;
  }
  bool atEnd() const { return text_.empty(); }

 private:
  std::string_view text_;
};

}  // namespace

PageLinks linksOf(std::string_view html, const OutputLineMap* map, const std::string& page) {
  PageLinks found;
  std::set<std::string> ids;
  // The map's files by the address of their path, which tells them apart.
  std::unordered_map<const std::string*, std::size_t> sources;
  const auto sourceOf = [&](const std::string* path, const std::vector<IncludeSite>& chain) {
    const auto [known, added] = sources.emplace(path, found.sources.size());
    if (added) found.sources.push_back({path ? *path : page, chain});
    return known->second;
  };
  const HtmlDocument document(html);
  std::vector<std::string_view> urls;
  document.forEachElement([&](const HtmlDocument::Element& element) {
    urls.clear();
    bool refresh = false;
    std::string_view content;
    for (const HtmlDocument::Attribute& attribute : element.attributes) {
      const std::string_view name = attribute.name;
      if (name == "id" || (name == "name" && element.tag == "a")) {
        if (!attribute.value.empty()) ids.emplace(attribute.value);
      } else if ((name == "href" && element.tag != "base") || name == "src" || name == "poster") {
        urls.push_back(attribute.value);
      } else if (name == "srcset") {
        srcsetUrls(attribute.value, urls);
      } else if (name == "http-equiv") {
        refresh = equalsIgnoringCase(trimmed(attribute.value), "refresh");
      } else if (name == "content") {
        content = attribute.value;
      }
    }
    if (refresh && element.tag == "meta") {
      if (const auto url = refreshUrl(content)) urls.push_back(*url);
    }
    for (const std::string_view value : urls) {
      std::string url = cleanedUrl(value);
      if (!isLocal(url)) continue;
      if (const auto origin = map ? map->originOf(element.line) : std::nullopt) {
        found.links.push_back(
            {std::move(url), sourceOf(&origin->path, origin->includedFrom), origin->line});
      } else {
        found.links.push_back(
            {std::move(url), sourceOf(nullptr, {}), static_cast<long>(element.line)});
      }
    }
  });
  found.ids.assign(ids.begin(), ids.end());
  return found;
}

std::string encodeLinks(const PageLinks& links) {
  std::string out;
  putNumber(out, static_cast<long long>(links.sources.size()));
  for (const LinkSource& source : links.sources) {
    putText(out, source.file);
    putNumber(out, static_cast<long long>(source.includedFrom.size()));
    for (const IncludeSite& site : source.includedFrom) {
      putText(out, site.path);
      putNumber(out, site.line);
    }
  }
  putNumber(out, static_cast<long long>(links.links.size()));
  for (const PageLink& link : links.links) {
    putText(out, link.reference);
    putNumber(out, static_cast<long long>(link.source));
    putNumber(out, link.line);
  }
  putNumber(out, static_cast<long long>(links.ids.size()));
  for (const std::string& id : links.ids) putText(out, id);
  return out;
}

std::optional<PageLinks> decodeLinks(std::string_view text) {
  Reader in(text);
  PageLinks links;
  long long count = 0;
  long long line = 0;
  if (!in.number(count)) return std::nullopt;
  for (long long i = 0; i < count; ++i) {
    LinkSource& source = links.sources.emplace_back();
    long long chain = 0;
    if (!in.text(source.file) || !in.number(chain)) return std::nullopt;
    for (long long j = 0; j < chain; ++j) {
      IncludeSite& site = source.includedFrom.emplace_back();
      if (!in.text(site.path) || !in.number(line)) return std::nullopt;
      site.line = static_cast<long>(line);
    }
  }
  if (!in.number(count)) return std::nullopt;
  for (long long i = 0; i < count; ++i) {
    PageLink& link = links.links.emplace_back();
    long long source = 0;
    if (!in.text(link.reference) || !in.number(source) || !in.number(line) || source < 0 ||
        static_cast<unsigned long long>(source) >= links.sources.size()) {
      return std::nullopt;
    }
    link.source = static_cast<std::size_t>(source);
    link.line = static_cast<long>(line);
  }
  if (!in.number(count)) return std::nullopt;
  for (long long i = 0; i < count; ++i) {
    if (!in.text(links.ids.emplace_back())) return std::nullopt;
  }
  if (!in.atEnd()) return std::nullopt;
  return links;
}

void OutputTree::addFile(const std::string& path) {
  resolved_.clear();
  if (files_.insert(path).second) addLowerCase(lowerCase(path), path);
}

// Another file with the same letters may stand in for the one removed.
void OutputTree::removeFile(const std::string& path) {
  resolved_.clear();
  if (!files_.erase(path)) return;
  pages_.erase(path);
  const std::string letters = lowerCase(path);
  const auto same = byLowerCase_.find(letters);
  if (same == byLowerCase_.end() || same->second != path) return;
  byLowerCase_.erase(same);
  for (const std::string& file : files_) {
    if (equalsIgnoringCase(file, path)) addLowerCase(letters, file);
  }
}

void OutputTree::addLowerCase(const std::string& letters, const std::string& path) {
  const auto [same, added] = byLowerCase_.try_emplace(letters, path);
  if (!added && path < same->second) same->second = path;
}

void OutputTree::addPage(const std::string& path, std::string source,
                         std::vector<std::string> ids) {
  addFile(path);
  pages_[path] = Page{std::move(source), std::move(ids)};
}

OutputTree OutputTree::walk(const std::string& root) {
  // Every file below root, under each name a browser could ask for it by.
  class Files : public TreeVisitor {
   public:
    explicit Files(OutputTree& tree) : tree_(tree) {}
    bool wanted(const std::string&, const DirectoryEntry&) override { return true; }
    bool enter(const std::string&) override { return true; }
    void visit(const std::string& relative, const DirectoryEntry& entry) override {
      if (!entry.isDirectory) tree_.addFile(relative);
    }

   private:
    OutputTree& tree_;
  };
  OutputTree tree;
  Files files(tree);
  walkTree(root, files);
  return tree;
}

std::optional<OutputTree::Target> OutputTree::find(const std::string& pagePath,
                                                   std::string_view reference) const {
  const std::string_view path = reference.substr(0, reference.find_first_of("?#"));
  if (path.empty()) return Target{pagePath, ""};
  std::string key(path);
  if (path[0] != '/') key = directoryOf(pagePath) + '\n' + key;
  auto [known, added] = resolved_.try_emplace(std::move(key));
  if (added) known->second = resolve(pagePath, path);
  std::optional<Target> target = known->second;
  if (target && !target->suggestion.empty()) target->suggestion += reference.substr(path.size());
  return target;
}

std::optional<OutputTree::Target> OutputTree::resolve(const std::string& pagePath,
                                                      std::string_view path) const {
  const bool fromRoot = path[0] == '/';
  struct Name {
    std::string text;
    int written;  // which written name it is; -1 for one of the page's directory
  };
  std::vector<Name> names;
  if (!fromRoot) {
    const std::vector<std::string_view> directory = split(pagePath, '/');
    for (std::size_t i = 0; i + 1 < directory.size(); ++i)
      names.push_back({std::string(directory[i]), -1});
  }
  std::vector<std::string_view> written = split(fromRoot ? path.substr(1) : path, '/');
  bool asDirectory = false;
  for (std::size_t i = 0; i < written.size(); ++i) {
    const std::optional<std::string> name = percentDecoded(written[i]);
    // A name holds no '/' or NUL, however escaped.
    if (!name || name->find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
      return std::nullopt;
    }
    asDirectory = *name == "." || *name == ".." || name->empty();
    if (*name == "..") {
      if (!names.empty()) names.pop_back();  // as browsers do, never above the root
    } else if (!asDirectory) {
      names.push_back({*name, static_cast<int>(i)});
    }
  }
  std::string joined;
  for (const Name& name : names) joined += (joined.empty() ? "" : "/") + name.text;
  std::vector<std::string> candidates;
  if (!asDirectory && !joined.empty()) candidates.push_back(joined);
  candidates.push_back(joined.empty() ? "index.html" : joined + "/index.html");
  for (const std::string& candidate : candidates) {
    if (files_.count(candidate)) return Target{candidate, ""};
  }
  for (const std::string& candidate : candidates) {
    const auto same = byLowerCase_.find(lowerCase(candidate));
    if (same == byLowerCase_.end()) continue;
    const std::vector<std::string_view> actual = split(same->second, '/');
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i].written >= 0 && actual[i] != names[i].text) {
        written[static_cast<std::size_t>(names[i].written)] = actual[i];
      }
    }
    std::string suggestion = fromRoot ? "/" : "";
    for (std::size_t i = 0; i < written.size(); ++i) {
      suggestion += (i ? "/" : "") + std::string(written[i]);
    }
    if (actual.size() > names.size() && actual.back() != "index.html") {
      suggestion += (asDirectory ? "" : "/") + std::string(actual.back());
    }
    return Target{"", suggestion};
  }
  return Target{};
}

std::vector<std::string> OutputTree::check(const std::string& path, const PageLinks& links) const {
  std::vector<std::string> lines;
  std::unordered_set<std::string> reported;
  for (const PageLink& link : links.links) {
    std::string problem;
    const std::optional<Target> target = find(path, link.reference);
    if (!target || target->file.empty()) {
      if (target && !target->suggestion.empty()) {
        problem = run_messages::didYouMean(target->suggestion);
      }
    } else {
      const std::size_t hash = link.reference.find('#');
      const auto page = pages_.find(target->file);
      if (hash == std::string::npos || page == pages_.end()) continue;
      const std::string_view written = std::string_view(link.reference).substr(hash + 1);
      const std::string id = percentDecoded(written).value_or(std::string(written));
      // An empty fragment and "top" lead to the top of any page.
      if (id.empty() || equalsIgnoringCase(id, "top") ||
          std::binary_search(page->second.ids.begin(), page->second.ids.end(), id)) {
        continue;
      }
      problem = run_messages::noElementWithId(id, page->second.source);
    }
    const LinkSource& source = links.sources[link.source];
    std::string line = run_messages::brokenLink(source.file, link.line, link.reference, problem,
                                                source.includedFrom);
    const std::string key =
        source.file + '\n' + std::to_string(link.line) + '\n' + link.reference + '\n' + problem;
    if (reported.insert(key).second) lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace qf
