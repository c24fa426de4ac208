#include "testing/differential.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "testing/chunked_source.h"
#include "testing/reference_engine.h"

namespace qf {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFileSeparator = "\n@@@@ ";
constexpr std::size_t kMostFileBytes = 16 * 1024;
constexpr std::size_t kMostWork = std::size_t{8} << 20;

// Names that sources define, test and use; some are built in.
const char* const kNames[] = {"A",
                              "B",
                              "T",
                              "AB",
                              "x",
                              "h1",
                              "b",
                              "_X",
                              "TITLE",
                              "F",
                              "_DAY_",
                              "_TIME_",
                              "_MONTH_",
                              "_INFILETITLE_",
                              "_OUTFILENAME_",
                              "_FILEW_",
                              "_FILEH_",
                              "_FILEB_",
                              "_FILEM_",
                              "_FILETITLE_"};
// Files that sources include, test and describe, relative to the input's
// directory unless found elsewhere.
// The first half of each list is mostly there; the rest may be missing.
const char* const kIncludeNames[] = {"a.inc",      "sub/b.inc",    "c.inc",        "deep/d.inc",
                                     "sub\\b.inc", "sub/a.inc",    "index.src",    "missing.inc",
                                     "|F|.inc",    "sub/../a.inc", "../inc/c.inc", "sub"};
const char* const kPictureNames[] = {"p.gif", "sub/q.png", "t.txt", "r.JPG", "nothing.gif", "sub"};
const char* const kWords[] = {"hello", "<b>", "</b>", " ", "  ",   "=",     "\"",
                              "<h1>",  ".",   "\t",   "-", "2026", "&amp;", ">"};

class Writer {
 public:
  Writer(Draws& draws, char directive, char concat)
      : draws_(draws), directive_(directive), concat_(concat) {}

  std::string file(int depth) {
    std::string text;
    if (draws_.chance(5)) text += "\xEF\xBB\xBF";
    lineEnd_ = draws_.chance(5) ? "\r" : pickOf({"\n", "\r\n"});
    if (depth > 0 && draws_.chance(30)) {
      // Wrapped whole in a guard, as included files often are.
      const std::string name = draws_.pick(kNames);
      directiveLine(text, "ifndef " + name);
      if (draws_.chance(80)) directiveLine(text, "define " + name);
      block(text, depth, 1);
      directiveLine(text, "endif");
    } else {
      block(text, depth, 0);
    }
    if (!text.empty() && draws_.chance(30)) {
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    }
    return text;
  }

 private:
  const char* pickOf(std::initializer_list<const char*> items) {
    return *(items.begin() + draws_.below(items.size()));
  }

  void endLine(std::string& text) {
    // Mostly the file's own line end, sometimes another.
    text += draws_.chance(90) ? lineEnd_ : pickOf({"\n", "\r\n", "\r", "\r\r\n"});
  }

  const char* someName() {
    const std::size_t left = std::size(kNames) - laterNames_;
    return left == 0 ? "word" : kNames[laterNames_ + draws_.below(left)];
  }

  void piece(std::string& text) {
    switch (draws_.below(8)) {
      case 0:
      case 1:
        text += someName();
        break;
      case 2:
        text += concat_;
        break;
      case 3:
      case 4:
        text += draws_.pick(kWords);
        break;
      case 5:
        text += static_cast<char>(draws_.below(256));
        break;
      case 6:
        text += concat_ + std::string(someName()) + concat_;
        break;
      default:
        if (draws_.chance(10)) {
          const std::string word = draws_.chance(50) ? someName() : draws_.pick(kWords);
          const std::size_t times = 20 + draws_.below(700);
          for (std::size_t i = 0; i < times; ++i) text += word + ' ';
        } else {
          text += directive_;
        }
    }
  }

  void pieces(std::string& text, std::size_t most) {
    const std::size_t count = draws_.below(most + 1);
    for (std::size_t i = 0; i < count; ++i) piece(text);
  }

  // Mostly one of the first names, which are found.
  std::string fileName(const char* const* names, std::size_t count) {
    const std::string name = names[draws_.below(draws_.chance(90) ? count / 2 : count)];
    switch (draws_.below(40)) {
      case 0:
        return "<" + name + ">";
      case 1:
        return "<" + name + "\"";
      case 2:
        return "\"" + name;  // runs to the line end
      case 3:
        return name;  // no marks: malformed
      default:
        return "\"" + name + "\"";
    }
  }

  void directiveLine(std::string& text, const std::string& body) {
    text += directive_;
    text += body;
    endLine(text);
  }

  void block(std::string& text, int depth, int nesting) {
    const std::size_t lines = draws_.below(depth == 0 ? 24 : 10);
    for (std::size_t i = 0; i < lines && text.size() < kMostFileBytes; ++i)
      line(text, depth, nesting);
  }

  void line(std::string& text, int depth, int nesting) {
    switch (draws_.below(16)) {
      case 0:
      case 1:
      case 2:
      case 3: {
        // Mostly not a directive line by accident.
        std::string body;
        pieces(body, 8);
        if (!body.empty() && body[0] == directive_ && draws_.chance(90)) body.insert(0, "x");
        text += body;
        endLine(text);
        return;
      }
      case 4:
      case 5: {
        // A text names only symbols later in the list, mostly, so that
        // expansion seldom feeds on itself.
        const std::size_t name = draws_.below(std::size(kNames));
        std::string body = std::string(pickOf({"define ", "define  ", "define !"})) + kNames[name] +
                           pickOf({" ", "", "   ", "=", " \t"});
        if (draws_.chance(95)) laterNames_ = name + 1;
        pieces(body, 5);
        laterNames_ = 0;
        directiveLine(text, body);
        return;
      }
      case 6:
        directiveLine(text, std::string(pickOf({"undefine ", "killdefine ", "undefine  _"})) +
                                draws_.pick(kNames));
        return;
      case 7:
      case 8: {
        if (nesting > 6) return;
        const int kind = static_cast<int>(draws_.below(3));
        std::string opening = kind == 0 ? std::string("ifdef ") + draws_.pick(kNames)
                              : kind == 1
                                  ? std::string("ifndef ") + draws_.pick(kNames)
                                  : "ifexists " + fileName(kIncludeNames, std::size(kIncludeNames));
        if (draws_.chance(2)) opening = pickOf({"ifdef ", "ifdef", "ifdef !", "ifndef ?"});
        directiveLine(text, opening);
        block(text, depth, nesting + 1);
        if (draws_.chance(50)) {
          directiveLine(text, pickOf({"else", "elseif X", "else comment"}));
          block(text, depth, nesting + 1);
        }
        if (draws_.chance(98)) directiveLine(text, pickOf({"endif", "endif x", "endif"}));
        return;
      }
      case 9:
        if (draws_.chance(2)) directiveLine(text, pickOf({"else", "endif"}));
        if (!draws_.chance(99)) {
          // About as many open conditionals as a file may hold.
          const std::size_t depth = 95 + draws_.below(10);
          for (std::size_t k = 0; k < depth; ++k) {
            directiveLine(text, pickOf({"ifdef A", "ifndef B", "ifexists \"a.inc\""}));
          }
          for (std::size_t k = 0; k < depth; ++k) directiveLine(text, "endif");
        }
        return;
      case 10:
      case 11:
        if (depth < 4 || draws_.chance(20)) {
          directiveLine(text, "include " + fileName(kIncludeNames, std::size(kIncludeNames)));
        }
        return;
      case 12:
        directiveLine(text, "fileinfo " + fileName(kPictureNames, std::size(kPictureNames)));
        return;
      case 13:
        directiveLine(text, draws_.chance(95) ? pickOf({" a comment", "#", "", " "})
                                              : pickOf({"foo", "IFDEF X"}));
        return;
      case 14: {
        std::string body = "define F ";
        body += pickOf({"a", "c", "sub/b", "q"});
        directiveLine(text, body);
        return;
      }
      default: {
        std::string body;
        pieces(body, 3);
        text += draws_.chance(50) ? " " : "";
        text += body;
        endLine(text);
      }
    }
  }

  Draws& draws_;
  char directive_;
  char concat_;
  const char* lineEnd_ = "\n";
  std::size_t laterNames_ = 0;  // names before this one are not used
};

std::string littleEndian16(std::size_t value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

std::string bigEndian(std::size_t value, int bytes) {
  std::string text;
  for (int i = bytes - 1; i >= 0; --i) text += static_cast<char>((value >> (8 * i)) & 0xFF);
  return text;
}

// A small picture of the kind the name's extension says, or plain text.
std::string pictureFor(Draws& draws, const std::string& name) {
  const std::size_t width = draws.below(3000);
  const std::size_t height = draws.below(3000);
  std::string bytes;
  const std::string lower = fs::path(name).extension().string();
  if (lower == ".gif") {
    bytes = "GIF89a" + littleEndian16(width) + littleEndian16(height) + std::string(8, '\0');
  } else if (lower == ".png") {
    bytes = std::string("\x89PNG\r\n\x1a\n", 8) + bigEndian(13, 4) + "IHDR" + bigEndian(width, 4) +
            bigEndian(height, 4) + std::string("\x08\x02\0\0\0", 5) + bigEndian(0, 4);
  } else if (lower == ".jpg" || lower == ".JPG") {
    bytes = std::string("\xFF\xD8\xFF\xE0", 4) + bigEndian(16, 2) +
            std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14) + std::string("\xFF\xC0", 2) +
            bigEndian(17, 2) + "\x08" + bigEndian(height, 2) + bigEndian(width, 2) +
            std::string("\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 10);
  } else {
    bytes = "text of " + name + "\n";
  }
  if (draws.chance(15)) bytes.resize(draws.below(bytes.size() + 1));
  if (draws.chance(10)) bytes += std::string(draws.below(3000), 'z');
  return bytes;
}

// name joined to the directory of the input; nullopt when that leaves the tree.
std::optional<std::string> treePath(const std::string& name) {
  if (name.empty() || name.size() > 64 || name.front() == '/' || name.back() == '/') {
    return std::nullopt;
  }
  std::vector<std::string> parts = {"site"};
  std::stringstream stream(name);
  std::string part;
  while (std::getline(stream, part, '/')) {
    for (char c : part) {
      const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
      if (!plain) return std::nullopt;
    }
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  if (parts.empty()) return std::nullopt;
  std::string path;
  for (const std::string& each : parts) path += (path.empty() ? "" : "/") + each;
  return path;
}

// The names after include, ifexists and fileinfo keywords in text.
std::vector<std::string> namesUsedIn(const std::string& text) {
  std::vector<std::string> names;
  for (const char* keyword : {"include ", "ifexists ", "fileinfo "}) {
    for (std::size_t at = text.find(keyword); at != std::string::npos;
         at = text.find(keyword, at + 1)) {
      const std::size_t open = text.find_first_of("\"<\n", at);
      if (open == std::string::npos || text[open] == '\n') continue;
      const std::size_t close = text.find_first_of("\">\n", open + 1);
      if (close == std::string::npos) continue;
      names.push_back(text.substr(open + 1, close - open - 1));
    }
  }
  return names;
}

void addVariants(Draws& draws, DifferentialCase& diffCase) {
  FastVariant drawn;
  drawn.fromSource = draws.chance(60);
  drawn.readSize = draws.pick({std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                               std::size_t{64}, std::size_t{1000}, std::size_t{0}});
  drawn.sizeKnown = draws.chance(50);
  drawn.lineBufferSize =
      draws.pick({std::size_t{4}, std::size_t{5}, std::size_t{16}, std::size_t{255},
                  std::size_t{4096}, kLineBufferSize, kLineBufferSize, kLineBufferSize});
  for (ScanPath path : {ScanPath::kPlain, ScanPath::kSse2, ScanPath::kAvx2}) {
    if (!canRunScanPath(path)) continue;
    FastVariant variant = drawn;
    variant.scanPath = path;
    diffCase.variants.push_back(variant);
  }
  FastVariant usual;
  usual.scanPath = fastestScanPath();
  diffCase.variants.push_back(usual);
}

DifferentialCase drawWithSources(Draws& draws, std::string_view given) {
  DifferentialCase diffCase;
  // The usual characters mostly; now and then others, equal ones, or ones
  // that are refused.
  diffCase.directiveChar = draws.chance(80) ? '#' : draws.pick({'@', '!', '%', '|', '@', 'a'});
  diffCase.concatChar = draws.chance(85) ? '|' : draws.pick({'+', '#', '|', '+', '_'});
  const char directive = diffCase.directiveChar;
  const char concat = diffCase.concatChar;
  diffCase.time = static_cast<std::time_t>(1767791220 + draws.below(400) * 86400 / 7 * 3 +
                                           draws.below(1440) * 60);
  diffCase.includeDirectory = draws.chance(70) ? "inc/" : "";
  if (draws.chance(20)) {
    diffCase.definitions.push_back({draws.pick(kNames), draws.chance(50) ? "given" : "|T|"});
  }
  std::set<std::string> written;
  auto add = [&](const std::string& path, std::string bytes) {
    if (written.insert(path).second) diffCase.files.push_back({path, std::move(bytes)});
  };
  // Given sources, then drawn files for every name still missing.
  std::vector<std::string> pending;
  if (!given.empty()) {
    std::size_t at = given.find(kFileSeparator);
    add(diffCase.input, std::string(given.substr(0, at)));
    pending.push_back(std::string(given.substr(0, at)));
    while (at != std::string_view::npos) {
      const std::size_t nameStart = at + kFileSeparator.size();
      const std::size_t nameEnd = std::min(given.find('\n', nameStart), given.size());
      const std::size_t next = given.find(kFileSeparator, nameEnd);
      const std::string body(nameEnd < given.size() ? given.substr(nameEnd + 1, next - nameEnd - 1)
                                                    : std::string_view());
      if (auto path = treePath(std::string(given.substr(nameStart, nameEnd - nameStart)))) {
        add(*path, body);
        pending.push_back(body);
      }
      at = next;
    }
  } else {
    Writer writer(draws, directive, concat);
    const std::string input = writer.file(0);
    add(diffCase.input, input);
    pending.push_back(input);
  }
  for (const char* name : kIncludeNames) pending.push_back(std::string("include \"") + name + "\"");
  for (const char* name : kPictureNames)
    pending.push_back(std::string("fileinfo \"") + name + "\"");
  for (std::size_t i = 0; i < pending.size() && diffCase.files.size() < 24; ++i) {
    for (std::string name : namesUsedIn(pending[i])) {
      for (char& c : name) {
        if (c == '\\') c = '/';
      }
      const std::optional<std::string> path = treePath(name);
      // Some stay missing. (Exhausted fuzz input draws zeros, which say yes.)
      if (!path || written.count(*path) || !draws.chance(90)) continue;
      const std::string extension = fs::path(*path).extension().string();
      if (extension.empty()) continue;
      if (extension == ".inc" || extension == ".src") {
        // Some go to the include directory instead.
        const bool elsewhere = !draws.chance(75) && name.find("..") == std::string::npos;
        const std::string place = elsewhere ? *treePath("../inc/" + name) : *path;
        if (written.count(place)) continue;
        Writer writer(draws, directive, concat);
        std::string bytes = writer.file(static_cast<int>(i % 5) + 1);
        pending.push_back(bytes);
        add(place, std::move(bytes));
      } else {
        add(*path, pictureFor(draws, *path));
      }
    }
  }
  addVariants(draws, diffCase);
  return diffCase;
}

}  // namespace

std::size_t Draws::below(std::size_t bound) {
  if (bound == 0) return 0;
  if (random_) return std::uniform_int_distribution<std::size_t>(0, bound - 1)(*random_);
  std::size_t value = 0;
  for (std::size_t range = 1; range < bound && range < (std::size_t{1} << 32); range <<= 8) {
    value <<= 8;
    if (!bytes_.empty()) {
      value |= static_cast<unsigned char>(bytes_.front());
      bytes_.remove_prefix(1);
    }
  }
  return value % bound;
}

DifferentialCase drawCase(Draws& draws) { return drawWithSources(draws, {}); }

DifferentialCase drawCase(std::string_view fuzzInput) {
  if (fuzzInput.empty()) {
    Draws draws(fuzzInput);
    return drawWithSources(draws, {});
  }
  const auto count = static_cast<unsigned char>(fuzzInput[0]);
  const std::size_t choices =
      count == 255 ? fuzzInput.size() - 1 : std::min<std::size_t>(count, fuzzInput.size() - 1);
  Draws draws(fuzzInput.substr(1, choices));
  return drawWithSources(draws, fuzzInput.substr(1 + choices));
}

namespace {

class StringSink : public ByteSink {
 public:
  bool write(std::string_view bytes) override {
    bytes_.append(bytes);
    return true;
  }
  bool flush() override { return true; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

std::string describe(const CompileResult& result, const std::string& output) {
  std::string text = std::string(result.ok ? "ok" : "failed") + " \"" + result.message + "\" at " +
                     result.errorFileName + ":" + std::to_string(result.errorLine);
  for (const IncludeSite& site : result.includedFrom) {
    text += " from " + site.path + ":" + std::to_string(site.line);
  }
  return text + ", " + std::to_string(output.size()) + " bytes of output";
}

bool sameResult(const CompileResult& a, const CompileResult& b) {
  if (a.ok != b.ok || a.message != b.message || a.errorFileName != b.errorFileName ||
      a.errorLine != b.errorLine || a.includedFrom.size() != b.includedFrom.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.includedFrom.size(); ++i) {
    if (a.includedFrom[i].path != b.includedFrom[i].path ||
        a.includedFrom[i].line != b.includedFrom[i].line) {
      return false;
    }
  }
  return true;
}

std::string firstDifference(const std::string& expected, const std::string& actual) {
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  const auto around = [at](const std::string& text) {
    const std::size_t from = at < 40 ? 0 : at - 40;
    return "\"" + text.substr(from, 80) + "\"";
  };
  return "output differs at byte " + std::to_string(at) + ": expected " + around(expected) +
         ", got " + around(actual);
}

}  // namespace

std::string compareEngines(const DifferentialCase& diffCase, const std::string& directory,
                           Compiler& compiler) {
  for (const auto& [name, bytes] : diffCase.files) {
    const fs::path path = fs::path(directory) / name;
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string source;
  for (const auto& [name, bytes] : diffCase.files) {
    if (name == diffCase.input) source = bytes;
  }
  ReferenceRequest reference;
  reference.inputPath = directory + diffCase.input;
  reference.outputName = directory + "site/index.html";
  reference.includeDirectory =
      diffCase.includeDirectory.empty() ? "" : directory + diffCase.includeDirectory;
  reference.directiveChar = diffCase.directiveChar;
  reference.concatChar = diffCase.concatChar;
  reference.definitions = diffCase.definitions;
  reference.time = diffCase.time;
  reference.mostWork = kMostWork;
  const ReferenceOutcome expected = compileByReference(reference);
  if (expected.gaveUp) return {};

  compiler.forgetIncludedFiles();
  compiler.setClock([time = diffCase.time] { return time; });
  for (const FastVariant& variant : diffCase.variants) {
    CompileRequest request;
    request.inputPath = reference.inputPath;
    request.includeDirectory = reference.includeDirectory;
    request.directiveChar = diffCase.directiveChar;
    request.concatChar = diffCase.concatChar;
    request.definitions = diffCase.definitions;
    request.scanPath = variant.scanPath;
    request.lineBufferSize = variant.lineBufferSize;
    std::optional<ChunkedSource> input;
    if (variant.fromSource) {
      const std::size_t most = variant.readSize == 0 ? source.size() : variant.readSize;
      input.emplace(
          source, [most] { return most; }, variant.sizeKnown);
      request.input = &*input;
    }
    StringSink sink;
    compiler.compileToSink(request, reference.outputName, sink);
    const std::string how =
        " (" +
        std::string(variant.fromSource ? "served in reads of " + std::to_string(variant.readSize)
                                       : "read from its file") +
        ", line buffer " + std::to_string(variant.lineBufferSize) + ", scan path " +
        std::to_string(static_cast<int>(variant.scanPath)) + ")";
    if (!sameResult(expected.result, compiler.result())) {
      return "result differs" + how + ": expected " + describe(expected.result, expected.output) +
             ", got " + describe(compiler.result(), sink.bytes());
    }
    if (sink.bytes() != expected.output) {
      return firstDifference(expected.output, sink.bytes()) + how;
    }
  }
  return {};
}

}  // namespace qf
