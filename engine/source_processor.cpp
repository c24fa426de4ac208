#include "engine/source_processor.h"

#include <algorithm>
#include <new>
#include <vector>

#include "base/file_stream.h"
#include "base/path.h"
#include "engine/file_info.h"
#include "engine/line_reader.h"
#include "engine/substitution.h"
#include "engine/symbol.h"

namespace qf {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

struct Conditional {
  bool condition;
  long line;
};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Sources written for this program separate directories with '\'.
std::string withSlashes(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace

struct SourceProcessor::FileState {
  const std::string& path;
  std::string directory;
  LineReader reader;
  std::string_view text;  // the line as read, valid until the next is read
  std::string line;
  std::string scratch;
  long lineNumber = 0;
  std::vector<Conditional> conditionals;
  int falseConditionals = 0;

  bool skipping() const { return falseConditionals > 0; }
};

std::string formatMessage(std::string_view pattern, char directiveChar, std::string_view name) {
  std::string message;
  message.reserve(pattern.size() + name.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'c') {
      message += directiveChar;
      ++i;
    } else if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
      message.append(name);
      ++i;
    } else {
      message += pattern[i];
    }
  }
  return message;
}

std::string_view parseSymbolArgument(std::string_view argument) {
  std::size_t start = 0;
  while (start < argument.size() && !isSymbolChar(argument[start])) ++start;
  std::size_t end = start;
  while (end < argument.size() && isSymbolChar(argument[end])) ++end;
  return argument.substr(start, end - start);
}

std::string_view parseFileArgument(std::string_view argument) {
  const std::size_t open = argument.find_first_of("<\"");
  if (open == std::string_view::npos) return {};
  const std::string_view rest = argument.substr(open + 1);
  return rest.substr(0, rest.find_first_of(">\""));
}

bool SourceProcessor::processSourceFile(const std::string& path) {
  FileSource source(path);
  if (!source.isOpen()) {
    context_.result.message = formatMessage("Error: File \"%s\" not found.", 0, path);
    return false;
  }
  return processSource(path, source);
}

bool SourceProcessor::processSource(const std::string& path, ByteSource& source) {
  const bool outermost = context_.activeFiles.size() == 0;
  NamedNode* entry = context_.activeFiles.pushActiveFile(path);
  FileState file{path, directoryOf(path), LineReader(source), {}, {}, {}, 0, {}, 0};
  bool ok = true;
  bool reading = false;  // a failure while reading belongs to the next line
  try {
    for (;;) {
      reading = true;
      const LineReader::Status status = file.reader.readLine(file.text);
      reading = false;
      if (file.lineNumber == 0 && outermost && file.reader.hadByteOrderMark()) {
        context_.output.write(kByteOrderMark);
      }
      if (status == LineReader::Status::kEnd) {
        ok = finishFile(file);
        break;
      }
      ++file.lineNumber;
      if (status == LineReader::Status::kError) {
        fail(file, "Error: Could not read file \"%s\".", path);
        ok = false;
        break;
      }
      if (handleLine(file) == Step::kFail) {
        ok = false;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    // Free what the file holds before forming the message.
    std::string().swap(file.line);
    std::string().swap(file.scratch);
    if (reading) ++file.lineNumber;
    fail(file, "Error: Out of memory.");
    ok = false;
  }
  context_.activeFiles.removeActiveFile(entry);
  return ok;
}

SourceProcessor::Step SourceProcessor::handleLine(FileState& file) {
  if (file.text.empty() || file.text[0] != context_.directiveChar) return handleTextLine(file);
  file.line.assign(file.text);
  return handleDirective(file);
}

// A text line that needs no change goes from the reader's buffer to the output.
SourceProcessor::Step SourceProcessor::handleTextLine(FileState& file) {
  if (file.skipping()) return Step::kNext;
  const SymbolContext symbols{context_.definitions, context_.concatChar};
  std::string_view expanded;
  if (expandLine(file.text, file.line, file.scratch, symbols, false, &expanded) ==
      Expansion::kTooLong) {
    return fail(file, "Error: Line too long after substitution.");
  }
  context_.output.write(expanded);
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleDirective(FileState& file) {
  const SymbolContext symbols{context_.definitions, context_.concatChar};
  if (expandLine(file.line, file.scratch, symbols, true) == Expansion::kTooLong) {
    return fail(file, "Error: Line too long after substitution.");
  }
  const std::string_view rest = std::string_view(file.line).substr(1);
  bool matched = false;
  const Step step = handleConditional(file, rest, &matched);
  if (matched || file.skipping()) return step;

  struct Keyword {
    std::string_view word;
    Step (SourceProcessor::*handle)(FileState&, std::string_view);
  };
  static const Keyword kKeywords[] = {
      {"include ", &SourceProcessor::handleInclude},
      {"fileinfo ", &SourceProcessor::handleFileinfo},
      {"define ", &SourceProcessor::handleDefine},
  };
  for (const Keyword& keyword : kKeywords) {
    if (startsWith(rest, keyword.word)) return (this->*keyword.handle)(file, rest.substr(keyword.word.size()));
  }
  if (startsWith(rest, "undefine ")) return handleUndefine(file, rest.substr(9), false);
  if (startsWith(rest, "killdefine ")) return handleUndefine(file, rest.substr(11), true);
  return handleUnknown(file, rest);
}

// The five conditional directives are obeyed even while skipping.
SourceProcessor::Step SourceProcessor::handleConditional(FileState& file, std::string_view rest,
                                                         bool* matched) {
  *matched = true;
  if (startsWith(rest, "ifdef ")) {
    return handleIfdef(file, rest.substr(6), true, "Error: Max number of nested %cifs exceeded.",
                       "Error: Malformed %cifdef directive.");
  }
  if (startsWith(rest, "ifndef ")) {
    return handleIfdef(file, rest.substr(7), false, "Error: Max nesting of %cifs exceeded.",
                       "Error: Malformed %cifndef directive.");
  }
  if (startsWith(rest, "ifexists ")) return handleIfexists(file, rest.substr(9));
  if (startsWith(rest, "else")) return handleElse(file);
  if (startsWith(rest, "endif")) return handleEndif(file);
  *matched = false;
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleIfdef(FileState& file, std::string_view argument,
                                                   bool wantDefined, const char* limitMessage,
                                                   const char* malformedMessage) {
  if (file.conditionals.size() >= kMaxConditionals) return fail(file, limitMessage);
  const std::string_view name = parseSymbolArgument(argument);
  if (name.empty()) return fail(file, malformedMessage);
  const bool defined = context_.definitions.findDefinition(name) != nullptr;
  const bool condition = defined == wantDefined;
  file.conditionals.push_back({condition, file.lineNumber});
  if (!condition) ++file.falseConditionals;
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleIfexists(FileState& file, std::string_view argument) {
  if (file.conditionals.size() >= kMaxConditionals) {
    return fail(file, "Error: Max nesting of %cifs exceeded.");
  }
  const std::string_view name = parseFileArgument(argument);
  if (name.empty()) return fail(file, "Error: Malformed %cifexists directive.");
  const bool condition = !findFile(file, name, false, fileExists).empty();
  file.conditionals.push_back({condition, file.lineNumber});
  if (!condition) ++file.falseConditionals;
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleElse(FileState& file) {
  if (file.conditionals.empty()) return fail(file, "Error: %celse without matching %cif.");
  Conditional& innermost = file.conditionals.back();
  innermost.condition = !innermost.condition;
  file.falseConditionals += innermost.condition ? -1 : 1;
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleEndif(FileState& file) {
  if (file.conditionals.empty()) return fail(file, "Error: %cendif without matching %cif.");
  if (!file.conditionals.back().condition) --file.falseConditionals;
  file.conditionals.pop_back();
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleInclude(FileState& file, std::string_view argument) {
  const std::string_view name = parseFileArgument(argument);
  if (name.empty()) return fail(file, "Error: Malformed %cinclude directive.");
  std::shared_ptr<const std::string> text;
  const std::string found = findFile(file, name, true, [&](const std::string& candidate) {
    if (!context_.includes) return fileExists(candidate);
    text.reset();
    return context_.includes->load(candidate, text) != IncludeCache::Outcome::kMissing;
  });
  if (found.empty()) return fail(file, "Error: %cinclude file \"%s\" not found.", name);
  if (context_.activeFiles.isActiveFile(found)) return Step::kNext;
  if (context_.activeFiles.size() >= kMaxOpenFiles) {
    return fail(file, "Error: Max nesting of %cincludes exceeded.");
  }
  if (processIncluded(found, std::move(text))) return Step::kNext;
  // The included file's message stands; its place too, unless it had none.
  if (context_.result.errorLine <= 0) {
    context_.result.errorFileName = file.path;
    context_.result.errorLine = file.lineNumber;
  }
  return Step::kFail;
}

bool SourceProcessor::processIncluded(const std::string& path,
                                      std::shared_ptr<const std::string> text) {
  if (!text) return processSourceFile(path);
  TextSource source(std::move(text));
  return processSource(path, source);
}

SourceProcessor::Step SourceProcessor::handleFileinfo(FileState& file, std::string_view argument) {
  const std::string_view name = parseFileArgument(argument);
  if (name.empty()) return fail(file, "Error: Malformed %cfileinfo directive.");
  const std::string found = findFile(file, name, false, fileExists);
  if (found.empty()) return fail(file, "Error: %cfileinfo file \"%s\" not found.", name);
  defineFileInfo(context_.definitions, found, name);
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleDefine(FileState& file, std::string_view argument) {
  const std::string_view name = parseSymbolArgument(argument);
  if (name.empty()) return fail(file, "Error: Malformed %cdefine directive.");
  std::string_view text = argument.substr(name.data() + name.size() - argument.data());
  text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
  text = text.substr(0, text.find('\n'));
  context_.definitions.addDefinition(name, text);
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleUndefine(FileState& file, std::string_view argument,
                                                      bool everyDefinition) {
  const std::string_view name = parseSymbolArgument(argument);
  if (name.empty()) {
    return fail(file, everyDefinition ? "Error: Malformed %ckilldefine directive."
                                      : "Error: Malformed %cundefine directive.");
  }
  DefinitionTable& definitions = context_.definitions;
  while (const Definition* newest = definitions.findDefinition(name)) {
    definitions.removeDefinition(newest);
    if (!everyDefinition) break;
  }
  return Step::kNext;
}

// A directive line that matches no keyword is a comment when its second
// character is a space, '#', the line end or the directive character.
SourceProcessor::Step SourceProcessor::handleUnknown(FileState& file, std::string_view rest) {
  if (rest.empty()) return Step::kNext;
  const char second = rest[0];
  if (second == ' ' || second == '#' || second == '\n' || second == context_.directiveChar) {
    return Step::kNext;
  }
  return fail(file, "Error: Unknown directive after %c.");
}

bool SourceProcessor::finishFile(FileState& file) {
  if (file.conditionals.empty()) return true;
  context_.result.message = formatMessage("Error: %cif without matching %cendif.", context_.directiveChar);
  context_.result.errorFileName = file.path;
  context_.result.errorLine = file.conditionals.back().line;
  return false;
}

SourceProcessor::Step SourceProcessor::fail(FileState& file, std::string_view pattern,
                                            std::string_view name) {
  context_.result.message = formatMessage(pattern, context_.directiveChar, name);
  if (context_.result.errorLine <= 0) {
    context_.result.errorFileName = file.path;
    context_.result.errorLine = file.lineNumber;
  }
  return Step::kFail;
}

// Search order: the current file's directory, the input file's directory,
// then (for includes) the include directory when one is set.
std::string SourceProcessor::findFile(const FileState& file, std::string_view name,
                                      bool withIncludeDirectory,
                                      const std::function<bool(const std::string&)>& exists) const {
  const std::string relative = withSlashes(name);
  const std::string* directories[] = {&file.directory, &context_.inputDirectory,
                                      &context_.includeDirectory};
  const std::size_t places = withIncludeDirectory && !context_.includeDirectory.empty() ? 3 : 2;
  for (std::size_t i = 0; i < places; ++i) {
    if (i == 1 && *directories[1] == *directories[0]) continue;
    std::string candidate = *directories[i] + relative;
    if (exists(candidate)) return candidate;
  }
  return {};
}

}  // namespace qf
