#include "testing/reference_engine.h"

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "base/text_source.h"
#include "engine/picture_size.h"

namespace qf {

namespace {

constexpr std::size_t kMostOpenConditionals = 99;
constexpr std::size_t kMostOpenFiles = 64;
constexpr std::size_t kMostGrowth = std::size_t{16} * 1024 * 1024;
constexpr int kMostCycles = 10;

bool isSymbolCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Only '/' separates path components; a name written in a source may use '\'.
std::string slashed(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return name;
}

std::string directoryPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string lastComponent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extensionPart(const std::string& path) {
  const std::string name = lastComponent(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool isRegularFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::optional<std::string> readWhole(const std::string& path) {
  if (!isRegularFile(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string megabytesText(std::uint64_t bytes) {
  // Hundredths of a mebibyte, a half rounded up.
  const std::uint64_t hundredths = (bytes * 100 + (1u << 19)) >> 20;
  const std::uint64_t fraction = hundredths % 100;
  return std::to_string(hundredths / 100) + "." + (fraction < 10 ? "0" : "") +
         std::to_string(fraction);
}

std::optional<PictureFormat> formatByExtension(const std::string& path) {
  const std::string extension = lowered(extensionPart(path));
  if (extension == "gif") return PictureFormat::kGif;
  if (extension == "jpg" || extension == "jpeg" || extension == "jfif") return PictureFormat::kJpeg;
  if (extension == "png" || extension == "apng") return PictureFormat::kPng;
  if (extension == "webp") return PictureFormat::kWebp;
  if (extension == "avif" || extension == "heic" || extension == "heif")
    return PictureFormat::kHeif;
  if (extension == "svg") return PictureFormat::kSvg;
  if (extension == "bmp") return PictureFormat::kBmp;
  if (extension == "ico" || extension == "cur") return PictureFormat::kIco;
  return std::nullopt;
}

std::string dateText(std::time_t time, const char* format) {
  std::tm local{};
  if (!localtime_r(&time, &local)) local = std::tm{};
  char text[128];
  const std::size_t length = std::strftime(text, sizeof text, format, &local);
  return std::string(text, length);
}

// The symbol argument: the first run of symbol characters after skipping the
// rest; *end is where the run ends.
std::string symbolArgument(const std::string& argument, std::size_t* end = nullptr) {
  std::size_t i = 0;
  while (i < argument.size() && !isSymbolCharacter(argument[i])) ++i;
  std::string name;
  while (i < argument.size() && isSymbolCharacter(argument[i])) name += argument[i++];
  if (end) *end = i;
  return name;
}

// The file argument: after the first '<' or '"', up to the next '>' or '"'.
std::string fileArgument(const std::string& argument) {
  std::size_t i = 0;
  while (i < argument.size() && argument[i] != '<' && argument[i] != '"') ++i;
  if (i == argument.size()) return {};
  std::string name;
  for (++i; i < argument.size() && argument[i] != '>' && argument[i] != '"'; ++i) {
    name += argument[i];
  }
  return name;
}

class Reference {
 public:
  explicit Reference(const ReferenceRequest& request) : request_(request) {}
  ReferenceOutcome run();

 private:
  struct OpenFile {
    std::string path;
    std::string directory;
    long line = 0;
  };
  struct Conditional {
    bool holds;
    long line;
  };
  enum class Directive {
    kIfdef,
    kIfndef,
    kIfexists,
    kElse,
    kEndif,
    kInclude,
    kFileinfo,
    kDefine,
    kUndefine,
    kKilldefine,
  };

  bool processFile(const std::string& path, const std::string& bytes);
  bool processLine(std::string line, std::vector<Conditional>& conditionals);
  bool obey(Directive directive, const std::string& argument,
            std::vector<Conditional>& conditionals);
  bool include(const std::string& name);
  bool fileinfo(const std::string& name);
  std::string find(const std::string& name, bool withIncludeDirectory) const;

  int pass(const std::string& from, std::string& to, bool directiveMode, std::size_t most);
  bool substitute(std::string& line, bool directiveMode);

  void define(const std::string& name, const std::string& text) {
    definitions_[name].push_back(text);
  }
  const std::string* lookUp(const std::string& name) const {
    const auto found = definitions_.find(name);
    return found == definitions_.end() || found->second.empty() ? nullptr : &found->second.back();
  }
  bool fail(const std::string& message);
  void place();
  std::string withDirectiveChar(const std::string& pattern) const;

  const ReferenceRequest& request_;
  char directiveChar_ = '#';
  char concatChar_ = '|';
  std::string inputDirectory_;
  std::map<std::string, std::vector<std::string>> definitions_;  // oldest first
  std::vector<OpenFile> files_;                                  // outermost first
  std::size_t work_ = 0;  // bytes written by substitution passes
  ReferenceOutcome outcome_;
};

std::string Reference::withDirectiveChar(const std::string& pattern) const {
  std::string message;
  for (char c : pattern) {
    if (c == '@') {
      message += directiveChar_;
    } else {
      message += c;
    }
  }
  return message;
}

void Reference::place() {
  CompileResult& result = outcome_.result;
  if (result.errorLine > 0 || files_.empty()) return;
  result.errorFileName = files_.back().path;
  result.errorLine = files_.back().line;
  if (result.errorLine <= 0) return;
  for (std::size_t i = files_.size() - 1; i-- > 0;) {
    result.includedFrom.push_back({files_[i].path, files_[i].line});
  }
}

bool Reference::fail(const std::string& message) {
  outcome_.result.message = message;
  place();
  return false;
}

ReferenceOutcome Reference::run() {
  CompileResult& result = outcome_.result;
  result = CompileResult{false, "Error: Unknown error.", "None", 0, {}};
  if (request_.directiveChar) directiveChar_ = request_.directiveChar;
  if (request_.concatChar) concatChar_ = request_.concatChar;
  if (isSymbolCharacter(directiveChar_)) {
    result.message = std::string("Error: Directive character '") + directiveChar_ +
                     "' mustn't be valid symbol character.";
    return outcome_;
  }
  if (isSymbolCharacter(concatChar_)) {
    result.message = std::string("Error: Concatenation character '") + concatChar_ +
                     "' mustn't be valid symbol character.";
    return outcome_;
  }
  if (request_.inputPath.empty()) return outcome_;
  result.errorFileName = request_.inputPath;
  std::optional<std::string> bytes = request_.source;
  if (!bytes) bytes = readWhole(request_.inputPath);
  if (!bytes) {
    result.message = "Error: Could not open input file \"" + request_.inputPath + "\".";
    return outcome_;
  }
  inputDirectory_ = directoryPart(request_.inputPath);
  define("_INFILENAME_", request_.inputPath);
  define("_INFILETITLE_", lastComponent(request_.inputPath));
  define("_OUTFILENAME_", request_.outputName);
  define("_OUTFILETITLE_", lastComponent(request_.outputName));
  define("_WEEKDAY_", dateText(request_.time, "%A"));
  define("_MONTH_", dateText(request_.time, "%B"));
  define("_DAY_", dateText(request_.time, "%d"));
  define("_YEAR_", dateText(request_.time, "%Y"));
  define("_TIME_", dateText(request_.time, "%I:%M %p"));
  for (const auto& [name, text] : request_.definitions) define(name, text);
  if (!processFile(request_.inputPath, *bytes)) return outcome_;
  result.ok = true;
  result.message = "Success: File compiled.";
  return outcome_;
}

bool Reference::processFile(const std::string& path, const std::string& bytes) {
  bool hadByteOrderMark = false;
  const std::vector<std::string> lines = splitSourceLines(bytes, &hadByteOrderMark);
  if (hadByteOrderMark && files_.empty()) outcome_.output += "\xEF\xBB\xBF";
  files_.push_back({path, directoryPart(path), 0});
  std::vector<Conditional> conditionals;
  bool ok = true;
  for (const std::string& line : lines) {
    ++files_.back().line;
    if (!processLine(line, conditionals)) {
      ok = false;
      break;
    }
  }
  if (ok && !conditionals.empty()) {
    files_.back().line = conditionals.back().line;
    ok = fail(withDirectiveChar("Error: @if without matching @endif."));
  }
  files_.pop_back();
  return ok;
}

bool Reference::processLine(std::string line, std::vector<Conditional>& conditionals) {
  bool skipping = false;
  for (const Conditional& conditional : conditionals) skipping = skipping || !conditional.holds;
  if (line[0] != directiveChar_) {
    if (skipping) return true;
    if (!substitute(line, false)) return false;
    outcome_.output += line;
    return true;
  }
  if (!substitute(line, true)) return false;
  const std::string rest = line.substr(1);
  static const std::pair<const char*, Directive> kKeywords[] = {
      {"ifdef ", Directive::kIfdef},       {"ifndef ", Directive::kIfndef},
      {"ifexists ", Directive::kIfexists}, {"else", Directive::kElse},
      {"endif", Directive::kEndif},        {"include ", Directive::kInclude},
      {"fileinfo ", Directive::kFileinfo}, {"define ", Directive::kDefine},
      {"undefine ", Directive::kUndefine}, {"killdefine ", Directive::kKilldefine},
  };
  for (const auto& [keyword, directive] : kKeywords) {
    const std::string word = keyword;
    if (rest.compare(0, word.size(), word) != 0) continue;
    const bool obeyedWhileSkipping = directive <= Directive::kEndif;
    if (skipping && !obeyedWhileSkipping) return true;
    return obey(directive, rest.substr(word.size()), conditionals);
  }
  if (skipping) return true;
  // A directive line that matches no keyword is a comment when its second
  // character is a blank, '#', the line end or the directive character.
  if (rest.empty() || rest[0] == ' ' || rest[0] == '#' || rest[0] == '\n' ||
      rest[0] == directiveChar_) {
    return true;
  }
  return fail(withDirectiveChar("Error: Unknown directive after @."));
}

bool Reference::obey(Directive directive, const std::string& argument,
                     std::vector<Conditional>& conditionals) {
  const long line = files_.back().line;
  switch (directive) {
    case Directive::kIfdef:
    case Directive::kIfndef: {
      if (conditionals.size() >= kMostOpenConditionals) {
        return fail(withDirectiveChar(directive == Directive::kIfdef
                                          ? "Error: Max number of nested @ifs exceeded."
                                          : "Error: Max nesting of @ifs exceeded."));
      }
      const std::string name = symbolArgument(argument);
      if (name.empty()) {
        return fail(withDirectiveChar(directive == Directive::kIfdef
                                          ? "Error: Malformed @ifdef directive."
                                          : "Error: Malformed @ifndef directive."));
      }
      const bool defined = lookUp(name) != nullptr;
      conditionals.push_back({defined == (directive == Directive::kIfdef), line});
      return true;
    }
    case Directive::kIfexists: {
      if (conditionals.size() >= kMostOpenConditionals) {
        return fail(withDirectiveChar("Error: Max nesting of @ifs exceeded."));
      }
      const std::string name = fileArgument(argument);
      if (name.empty()) return fail(withDirectiveChar("Error: Malformed @ifexists directive."));
      conditionals.push_back({!find(name, false).empty(), line});
      return true;
    }
    case Directive::kElse:
      if (conditionals.empty())
        return fail(withDirectiveChar("Error: @else without matching @if."));
      conditionals.back().holds = !conditionals.back().holds;
      return true;
    case Directive::kEndif:
      if (conditionals.empty()) {
        return fail(withDirectiveChar("Error: @endif without matching @if."));
      }
      conditionals.pop_back();
      return true;
    case Directive::kInclude:
      return include(fileArgument(argument));
    case Directive::kFileinfo:
      return fileinfo(fileArgument(argument));
    case Directive::kDefine: {
      std::size_t i = 0;
      const std::string name = symbolArgument(argument, &i);
      if (name.empty()) return fail(withDirectiveChar("Error: Malformed @define directive."));
      while (i < argument.size() && argument[i] == ' ') ++i;
      std::string text;
      while (i < argument.size() && argument[i] != '\n') text += argument[i++];
      define(name, text);
      return true;
    }
    case Directive::kUndefine:
    case Directive::kKilldefine: {
      const std::string name = symbolArgument(argument);
      if (name.empty()) {
        return fail(withDirectiveChar(directive == Directive::kUndefine
                                          ? "Error: Malformed @undefine directive."
                                          : "Error: Malformed @killdefine directive."));
      }
      const auto found = definitions_.find(name);
      if (found == definitions_.end() || found->second.empty()) return true;
      if (directive == Directive::kUndefine) {
        found->second.pop_back();
      } else {
        found->second.clear();
      }
      return true;
    }
  }
  return true;
}

// The first place that holds a regular file of that name: the current
// file's directory, the input file's, then for includes the include
// directory. Empty when none does.
std::string Reference::find(const std::string& name, bool withIncludeDirectory) const {
  std::vector<std::string> places = {files_.back().directory, inputDirectory_};
  if (withIncludeDirectory && !request_.includeDirectory.empty()) {
    places.push_back(request_.includeDirectory);
  }
  for (const std::string& place : places) {
    const std::string candidate = place + slashed(name);
    if (isRegularFile(candidate)) return candidate;
  }
  return {};
}

bool Reference::include(const std::string& name) {
  if (name.empty()) return fail(withDirectiveChar("Error: Malformed @include directive."));
  const std::string found = find(name, true);
  if (found.empty())
    return fail(withDirectiveChar("Error: @include file \"") + name + "\" not found.");
  for (const OpenFile& file : files_) {
    if (file.path == found) return true;
  }
  if (files_.size() >= kMostOpenFiles) {
    return fail(withDirectiveChar("Error: Max nesting of @includes exceeded."));
  }
  const std::optional<std::string> bytes = readWhole(found);
  if (!bytes) return fail("Error: File \"" + found + "\" not found.");
  if (processFile(found, *bytes)) return true;
  place();
  return false;
}

bool Reference::fileinfo(const std::string& name) {
  if (name.empty()) return fail(withDirectiveChar("Error: Malformed @fileinfo directive."));
  const std::string found = find(name, false);
  if (found.empty()) {
    return fail(withDirectiveChar("Error: @fileinfo file \"") + name + "\" not found.");
  }
  std::string written, title, width, height, bytes, kilobytes, megabytes;
  if (const std::optional<std::string> contents = readWhole(found)) {
    written = name;
    title = lastComponent(slashed(name));
    bytes = std::to_string(contents->size());
    kilobytes = std::to_string(contents->size() / 1024);
    megabytes = megabytesText(contents->size());
    if (const std::optional<PictureFormat> format = formatByExtension(found)) {
      TextSource source(std::make_shared<const std::string>(*contents));
      if (const std::optional<PictureSize> size = measurePicture(source, *format)) {
        width = std::to_string(size->width);
        height = std::to_string(size->height);
      }
    }
  }
  define("_FILENAME_", written);
  define("_FILETITLE_", title);
  define("_FILEW_", width);
  define("_FILEH_", height);
  define("_FILEB_", bytes);
  define("_FILEK_", kilobytes);
  define("_FILEM_", megabytes);
  return true;
}

// One pass of substitution, a character at a time. A run of symbol
// characters is looked up whole; a replaced run swallows the concatenation
// character written just before it and the one just after it. In directive
// mode only a run written between two concatenation characters is replaced.
// A replacement that takes the line past most ends the pass at once (-1):
// the line is too long whatever follows.
int Reference::pass(const std::string& from, std::string& to, bool directiveMode,
                    std::size_t most) {
  to.clear();
  std::string run;
  bool pending = false;  // a concatenation character was written just before the run
  int replaced = 0;
  for (std::size_t j = 0; j <= from.size(); ++j) {
    const bool atEnd = j == from.size();
    if (!atEnd && isSymbolCharacter(from[j])) {
      run += from[j];
      continue;
    }
    bool justReplaced = false;
    if (!run.empty()) {
      const std::string* text = lookUp(run);
      const bool concatAfter = !atEnd && from[j] == concatChar_;
      if (text && (!directiveMode || (pending && concatAfter))) {
        if (pending) to.pop_back();
        if (to.size() + text->size() > most) return -1;
        to += *text;
        justReplaced = true;
        ++replaced;
      } else {
        to += run;
      }
      run.clear();
    }
    pending = false;
    if (atEnd) break;
    if (from[j] == concatChar_) {
      if (justReplaced) continue;
      pending = true;
    }
    to += from[j];
  }
  if (from.empty() || from.back() != '\n') to += '\n';
  work_ += to.size();
  return replaced;
}

bool Reference::substitute(std::string& line, bool directiveMode) {
  const std::size_t most = line.size() + kMostGrowth;
  std::string middle;
  for (int cycle = 0; cycle < kMostCycles; ++cycle) {
    const int first = pass(line, middle, directiveMode, most);
    if (first < 0 || (first > 0 && middle.size() > most)) break;
    const int second = pass(middle, line, directiveMode, most);
    if (second < 0 || (second > 0 && line.size() > most)) break;
    if (request_.mostWork > 0 && work_ > request_.mostWork) {
      outcome_.gaveUp = true;
      return false;
    }
    if (second == 0 || cycle + 1 == kMostCycles) return true;
  }
  return fail("Error: Line too long after substitution.");
}

}  // namespace

std::vector<std::string> splitSourceLines(const std::string& bytes, bool* hadByteOrderMark) {
  std::size_t start = 0;
  *hadByteOrderMark = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (*hadByteOrderMark) start = 3;
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = start; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line + '\n');
      line.clear();
    } else {
      line += bytes[i];
    }
  }
  if (!line.empty()) lines.push_back(line + '\n');
  return lines;
}

ReferenceOutcome compileByReference(const ReferenceRequest& request) {
  return Reference(request).run();
}

}  // namespace qf
