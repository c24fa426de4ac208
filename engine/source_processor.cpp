#include "engine/source_processor.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <new>
#include <vector>

#include "base/file_stream.h"
#include "base/file_system.h"
#include "base/path.h"
#include "base/text_source.h"
#include "engine/file_info.h"
#include "engine/line_reader.h"
#include "engine/substitution.h"
#include "engine/symbol.h"

namespace qf {

namespace {

constexpr char kCouldNotRead[] = "Error: Could not read file \"%s\".";
constexpr char kDidYouMean[] = "did you mean \"%c%s\"?";

struct Conditional {
  bool condition;
  long line;
};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

OpenResult asOpenResult(IncludeCache::Lookup outcome) {
  switch (outcome) {
    case IncludeCache::Lookup::kMissing:
      return OpenResult::kMissing;
    case IncludeCache::Lookup::kUnreadable:
      return OpenResult::kFailed;
    default:
      return OpenResult::kOpened;
  }
}

}  // namespace

struct SourceProcessor::FileState {
  const std::string& path;
  std::string directory;
  LineReader reader;
  long& lineNumber;           // the file's entry in the active-file list
  std::uint32_t mapFile = 0;  // the file's number in the output line map
  std::string_view text{};    // the line as read, valid until the next is read
  std::string line{};
  std::string scratch{};
  std::vector<Conditional> conditionals{};
  int falseConditionals = 0;
  std::shared_ptr<const FixedDefinitions> fixed{};  // of the file's lines; may be null

  bool skipping() const { return falseConditionals > 0; }
};

// A directive: the word after the directive character, whether a space must
// follow it, whether it is obeyed inside a false conditional, and its handler.
struct SourceProcessor::Directive {
  std::string_view keyword;
  bool spaceFollows;
  bool obeyedWhileSkipping;
  Step (SourceProcessor::*handle)(FileState&, const Directive&, std::string_view argument);

  bool matches(std::string_view rest) const {
    // The first letter turns most keywords away without a comparison call.
    return !rest.empty() && rest[0] == keyword[0] && startsWith(rest, keyword) &&
           (!spaceFollows || (rest.size() > keyword.size() && rest[keyword.size()] == ' '));
  }
  std::string_view argumentOf(std::string_view rest) const {
    return rest.substr(keyword.size() + (spaceFollows ? 1 : 0));
  }
};

namespace {

// The number of single-letter insertions, deletions and substitutions that
// turn a into b.
std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

const SourceProcessor::Directive* SourceProcessor::findDirective(std::string_view rest) {
  for (const Directive& directive : directives()) {
    if (directive.matches(rest)) return &directive;
  }
  return nullptr;
}

std::string_view SourceProcessor::nearestKeyword(std::string_view rest) {
  std::size_t length = 0;
  while (length < rest.size() && std::isalpha(static_cast<unsigned char>(rest[length]))) {
    ++length;
  }
  const std::string_view word = rest.substr(0, length);
  // A keyword spelt right needs no other: its argument is what is wrong.
  for (const Directive& directive : directives()) {
    if (word == directive.keyword) return {};
  }
  std::string lower(word);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string_view nearest;
  std::size_t best = kMostLettersAmiss + 1;
  for (const Directive& directive : directives()) {
    const std::size_t distance =
        lower == directive.keyword ? 1 : editDistance(lower, directive.keyword);
    if (distance > 0 && distance < best) {
      best = distance;
      nearest = directive.keyword;
    }
  }
  return nearest;
}

std::span<const SourceProcessor::Directive> SourceProcessor::directives() {
  static constexpr Directive kDirectives[] = {
      {"ifdef", true, true, &SourceProcessor::handleIfdef},
      {"ifndef", true, true, &SourceProcessor::handleIfndef},
      {"ifexists", true, true, &SourceProcessor::handleIfexists},
      {"else", false, true, &SourceProcessor::handleElse},
      {"endif", false, true, &SourceProcessor::handleEndif},
      {"include", true, false, &SourceProcessor::handleInclude},
      {"fileinfo", true, false, &SourceProcessor::handleFileinfo},
      {"define", true, false, &SourceProcessor::handleDefine},
      {"undefine", true, false, &SourceProcessor::handleUndefine},
      {"killdefine", true, false, &SourceProcessor::handleKilldefine},
  };
  return kDirectives;
}

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

std::string_view definedText(std::string_view argument, std::string_view name) {
  std::string_view text = argument.substr(name.data() + name.size() - argument.data());
  text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
  return text.substr(0, text.find('\n'));
}

std::string_view parseFileArgument(std::string_view argument) {
  const std::size_t open = argument.find_first_of("<\"");
  if (open == std::string_view::npos) return {};
  const std::string_view rest = argument.substr(open + 1);
  return rest.substr(0, rest.find_first_of(">\""));
}

bool SourceProcessor::processSourceFile(const std::string& path) {
  FileSource source(path);
  if (source.outcome() == OpenResult::kFailed) {
    context_.result.message = formatMessage(kCouldNotRead, 0, path);
    return false;
  }
  if (!source.isOpen()) {
    context_.result.message = formatMessage("Error: File \"%s\" not found.", 0, path);
    return false;
  }
  return processSource(path, source);
}

bool SourceProcessor::processSource(const std::string& path, ByteSource& source,
                                    std::shared_ptr<const FixedDefinitions> fixed) {
  const bool outermost = context_.activeFiles.size() == 0;
  FileState file{path, directoryOf(path), LineReader(source, context_.lineBufferSize),
                 context_.activeFiles.pushActiveFile(path)};
  file.fixed = std::move(fixed);
  if (context_.lineMap) {
    file.mapFile = context_.lineMap->enterFile(path, context_.activeFiles.includeChain());
  }
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
        fail(file, kCouldNotRead, path);
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
  context_.activeFiles.popActiveFile();
  return ok;
}

SourceProcessor::Step SourceProcessor::handleLine(FileState& file) {
  if (file.text.empty() || file.text[0] != context_.directiveChar) return handleTextLine(file);
  if (file.fixed && !file.skipping() && obeyFixedDefinitions(file)) return Step::kNext;
  // While skipping, a directive that substitution cannot change and that is
  // not obeyed then is passed over without a substitution pass.
  if (file.skipping() && !directiveMayChange(file.text, context_.concatChar)) {
    const Directive* directive = findDirective(file.text.substr(1));
    if (!directive || !directive->obeyedWhileSkipping) return Step::kNext;
  }
  return handleDirective(file);
}

// Fixed definitions need neither a substitution pass nor parsing, and the
// lines of a run of them need no reading either: the reader goes on after the
// last, each line counted as it is obeyed. False when the line is no fixed
// definition.
bool SourceProcessor::obeyFixedDefinitions(FileState& file) {
  auto definition = file.fixed->at(static_cast<std::size_t>(file.lineNumber));
  if (!definition) return false;
  for (;; ++file.lineNumber) {
    context_.definitions.addDefinition(definition->name, definition->text);
    const std::size_t end = definition->end;
    definition = file.fixed->at(static_cast<std::size_t>(file.lineNumber) + 1);
    if (!definition) {
      file.reader.skipHeldTo(end);
      return true;
    }
  }
}

// A text line that needs no change goes from the reader's buffer to the output.
SourceProcessor::Step SourceProcessor::handleTextLine(FileState& file) {
  if (file.skipping()) return Step::kNext;
  const SymbolContext symbols{context_.definitions, context_.concatChar, context_.scanPath};
  std::string_view expanded;
  if (expandLine(file.text, file.line, file.scratch, symbols, false, &expanded) ==
      Expansion::kTooLong) {
    return fail(file, "Error: Line too long after substitution.");
  }
  context_.output.write(expanded);
  if (context_.lineMap) context_.lineMap->written(file.mapFile, file.lineNumber, expanded);
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleDirective(FileState& file) {
  const SymbolContext symbols{context_.definitions, context_.concatChar, context_.scanPath};
  // A line substitution leaves as it is stays where the reader put it.
  std::string_view line;
  if (expandLine(file.text, file.line, file.scratch, symbols, true, &line) == Expansion::kTooLong) {
    return fail(file, "Error: Line too long after substitution.");
  }
  const std::string_view rest = line.substr(1);
  const Directive* directive = findDirective(rest);
  if (file.skipping() && !(directive && directive->obeyedWhileSkipping)) return Step::kNext;
  if (!directive) return handleUnknown(file, rest);
  return (this->*directive->handle)(file, *directive, directive->argumentOf(rest));
}

SourceProcessor::Step SourceProcessor::handleIfdef(FileState& file, const Directive& directive,
                                                   std::string_view argument) {
  return openSymbolConditional(file, directive, argument, true,
                               "Error: Max number of nested %cifs exceeded.");
}

SourceProcessor::Step SourceProcessor::handleIfndef(FileState& file, const Directive& directive,
                                                    std::string_view argument) {
  return openSymbolConditional(file, directive, argument, false,
                               "Error: Max nesting of %cifs exceeded.");
}

SourceProcessor::Step SourceProcessor::openSymbolConditional(FileState& file,
                                                             const Directive& directive,
                                                             std::string_view argument,
                                                             bool wantDefined,
                                                             std::string_view limitMessage) {
  if (file.conditionals.size() >= kMaxConditionals) return fail(file, limitMessage);
  const std::string_view name = parseSymbolArgument(argument);
  if (name.empty()) return failMalformed(file, directive);
  const bool defined = context_.definitions.findDefinition(name) != nullptr;
  return openConditional(file, defined == wantDefined);
}

SourceProcessor::Step SourceProcessor::handleIfexists(FileState& file, const Directive& directive,
                                                      std::string_view argument) {
  if (file.conditionals.size() >= kMaxConditionals) {
    return fail(file, "Error: Max nesting of %cifs exceeded.");
  }
  const std::string_view name = parseFileArgument(argument);
  if (name.empty()) return failMalformed(file, directive);
  std::string found;
  const auto probe = [&](const std::string& candidate) {
    return context_.includes ? context_.includes->probe(candidate) : probeFile(candidate);
  };
  const OpenResult probed = findFile(file, name, false, probe, found);
  if (probed == OpenResult::kFailed) return fail(file, kCouldNotRead, found);
  if (probed == OpenResult::kOpened && context_.observer) context_.observer->fileFound(found);
  return openConditional(file, probed == OpenResult::kOpened);
}

SourceProcessor::Step SourceProcessor::openConditional(FileState& file, bool condition) {
  file.conditionals.push_back({condition, file.lineNumber});
  if (!condition) ++file.falseConditionals;
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleElse(FileState& file, const Directive&,
                                                  std::string_view) {
  if (file.conditionals.empty()) return fail(file, "Error: %celse without matching %cif.");
  Conditional& innermost = file.conditionals.back();
  innermost.condition = !innermost.condition;
  file.falseConditionals += innermost.condition ? -1 : 1;
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleEndif(FileState& file, const Directive&,
                                                   std::string_view) {
  if (file.conditionals.empty()) return fail(file, "Error: %cendif without matching %cif.");
  if (!file.conditionals.back().condition) --file.falseConditionals;
  file.conditionals.pop_back();
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleInclude(FileState& file, const Directive& directive,
                                                     std::string_view argument) {
  const std::string_view name = parseFileArgument(argument);
  if (name.empty()) return failMalformed(file, directive);
  std::shared_ptr<const std::string> text;
  FileStatus status;
  std::string found;
  const auto probe = [&](const std::string& candidate) {
    if (!context_.includes) return probeFile(candidate);
    text.reset();
    return asOpenResult(context_.includes->load(candidate, text, status));
  };
  const OpenResult probed = findFile(file, name, true, probe, found);
  if (probed == OpenResult::kFailed) return fail(file, kCouldNotRead, found);
  if (probed == OpenResult::kMissing) {
    return fail(file, "Error: %cinclude file \"%s\" not found.", name);
  }
  if (context_.observer) {
    context_.observer->fileRead(found, true, context_.includes ? &status : nullptr);
  }
  if (context_.activeFiles.isActiveFile(found)) return Step::kNext;
  if (context_.activeFiles.size() >= kMaxOpenFiles) {
    return fail(file, "Error: Max nesting of %cincludes exceeded.");
  }
  if (processIncluded(found, std::move(text))) return Step::kNext;
  // The included file's message stands; its place too, unless it had none.
  placeError(file);
  return Step::kFail;
}

bool SourceProcessor::processIncluded(const std::string& path,
                                      std::shared_ptr<const std::string> text) {
  if (!text) return processSourceFile(path);
  // A guarded text included again is passed over, with the lookups its
  // conditionals would make.
  std::shared_ptr<const FixedDefinitions> fixed;
  if (context_.readings) {
    const TextReadings::Reading reading{context_.directiveChar, context_.concatChar,
                                        context_.lineBufferSize};
    const IncludeGuard* guard =
        context_.readings->guardOf(text, reading, [&] { return findIncludeGuard(text, reading); });
    if (guard && context_.definitions.findDefinition(guard->symbol)) {
      for (const std::string& name : guard->lookups) context_.definitions.findDefinition(name);
      return true;
    }
    fixed = context_.readings->fixedDefinitionsOf(
        text, reading, [&] { return findFixedDefinitions(text, reading); });
  }
  TextSource source(std::move(text));
  return processSource(path, source, std::move(fixed));
}

// Reads the text as handleLine would outside a false conditional: a define
// directive that no substitution pass can change is obeyed as written.
FixedDefinitions SourceProcessor::findFixedDefinitions(std::shared_ptr<const std::string> text,
                                                       const TextReadings::Reading& reading) {
  TextSource source(std::move(text));
  LineReader reader(source, reading.lineBufferSize);
  FixedDefinitions fixed;
  std::string_view line;
  for (std::size_t lineNumber = 1; reader.readLine(line) == LineReader::Status::kLine;
       ++lineNumber) {
    if (line.empty() || line[0] != reading.directiveChar ||
        directiveMayChange(line, reading.concatChar)) {
      continue;
    }
    const std::string_view rest = line.substr(1);
    const Directive* directive = findDirective(rest);
    if (!directive || directive->handle != &SourceProcessor::handleDefine) continue;
    const std::string_view argument = directive->argumentOf(rest);
    const std::string_view name = parseSymbolArgument(argument);
    if (!name.empty())
      fixed.add(lineNumber, name, definedText(argument, name), reader.heldOffset());
  }
  return fixed;
}

// Reads the text as processSource would with the first line's symbol defined:
// everything after that line is skipped, and only conditionals are obeyed.
std::optional<IncludeGuard> SourceProcessor::findIncludeGuard(
    std::shared_ptr<const std::string> text, const TextReadings::Reading& reading) {
  TextSource source(std::move(text));
  LineReader reader(source, reading.lineBufferSize);
  IncludeGuard guard;
  int open = 0;  // conditionals open, the guard's own included
  std::string_view line;
  for (bool first = true;; first = false) {
    const LineReader::Status status = reader.readLine(line);
    if (status == LineReader::Status::kEnd && !first && open == 0) return guard;
    if (status != LineReader::Status::kLine || (!first && open == 0)) return std::nullopt;
    const bool isDirective = !line.empty() && line[0] == reading.directiveChar;
    if (!isDirective) {
      if (first) return std::nullopt;
      continue;  // a text line, skipped
    }
    if (directiveMayChange(line, reading.concatChar)) return std::nullopt;
    const std::string_view rest = line.substr(1);
    const Directive* directive = findDirective(rest);
    if (first && (!directive || directive->handle != &SourceProcessor::handleIfndef)) {
      return std::nullopt;
    }
    if (!directive || !directive->obeyedWhileSkipping) continue;
    const auto handle = directive->handle;
    if (handle == &SourceProcessor::handleIfdef || handle == &SourceProcessor::handleIfndef) {
      const std::string_view name = parseSymbolArgument(directive->argumentOf(rest));
      if (name.empty() || open >= kMaxConditionals) return std::nullopt;
      (first ? guard.symbol : guard.lookups.emplace_back()) = name;
      ++open;
    } else if (handle == &SourceProcessor::handleEndif) {
      --open;
    } else if (handle != &SourceProcessor::handleElse || open == 1) {
      // #ifexists probes files; an #else of the guard's own makes the rest count.
      return std::nullopt;
    }
  }
}

SourceProcessor::Step SourceProcessor::handleFileinfo(FileState& file, const Directive& directive,
                                                      std::string_view argument) {
  const std::string_view name = parseFileArgument(argument);
  if (name.empty()) return failMalformed(file, directive);
  std::string found;
  const OpenResult probed = findFile(file, name, false, probeFile, found);
  if (probed == OpenResult::kFailed) return fail(file, kCouldNotRead, found);
  if (probed == OpenResult::kMissing) {
    return fail(file, "Error: %cfileinfo file \"%s\" not found.", name);
  }
  if (context_.observer) context_.observer->fileRead(found, false, nullptr);
  defineFileInfo(context_.definitions, found, name);
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleDefine(FileState& file, const Directive& directive,
                                                    std::string_view argument) {
  const std::string_view name = parseSymbolArgument(argument);
  if (name.empty()) return failMalformed(file, directive);
  context_.definitions.addDefinition(name, definedText(argument, name));
  return Step::kNext;
}

SourceProcessor::Step SourceProcessor::handleUndefine(FileState& file, const Directive& directive,
                                                      std::string_view argument) {
  return removeDefinitions(file, directive, argument, false);
}

SourceProcessor::Step SourceProcessor::handleKilldefine(FileState& file, const Directive& directive,
                                                        std::string_view argument) {
  return removeDefinitions(file, directive, argument, true);
}

SourceProcessor::Step SourceProcessor::removeDefinitions(FileState& file,
                                                         const Directive& directive,
                                                         std::string_view argument,
                                                         bool everyDefinition) {
  const std::string_view name = parseSymbolArgument(argument);
  if (name.empty()) return failMalformed(file, directive);
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
  const Step step = fail(file, "Error: Unknown directive after %c.");
  const std::string_view nearest = nearestKeyword(rest);
  if (!nearest.empty()) {
    context_.result.note = formatMessage(kDidYouMean, context_.directiveChar, nearest);
  }
  return step;
}

bool SourceProcessor::finishFile(FileState& file) {
  if (file.conditionals.empty()) return true;
  file.lineNumber = file.conditionals.back().line;
  fail(file, "Error: %cif without matching %cendif.");
  return false;
}

SourceProcessor::Step SourceProcessor::fail(FileState& file, std::string_view pattern,
                                            std::string_view name) {
  context_.result.message = formatMessage(pattern, context_.directiveChar, name);
  placeError(file);
  return Step::kFail;
}

SourceProcessor::Step SourceProcessor::failMalformed(FileState& file, const Directive& directive) {
  return fail(file, "Error: Malformed %c%s directive.", directive.keyword);
}

void SourceProcessor::placeError(const FileState& file) {
  CompileResult& result = context_.result;
  if (result.errorLine > 0) return;
  result.errorFileName = file.path;
  result.errorLine = file.lineNumber;
  if (result.errorLine > 0) result.includedFrom = context_.activeFiles.includeChain();
}

// Search order: the current file's directory, the input file's directory,
// then (for includes) the include directory when one is set.
OpenResult SourceProcessor::findFile(const FileState& file, std::string_view name,
                                     bool withIncludeDirectory,
                                     const std::function<OpenResult(const std::string&)>& probe,
                                     std::string& found) const {
  const std::string relative = withForwardSlashes(name);
  const std::string* directories[] = {&file.directory, &context_.inputDirectory,
                                      &context_.includeDirectory};
  const std::size_t places = withIncludeDirectory && !context_.includeDirectory.empty() ? 3 : 2;
  for (std::size_t i = 0; i < places; ++i) {
    if (i == 1 && *directories[1] == *directories[0]) continue;
    std::string candidate = *directories[i] + relative;
    const OpenResult probed = probe(candidate);
    if (probed != OpenResult::kMissing) {
      found = std::move(candidate);
      return probed;
    }
    if (context_.observer) context_.observer->fileMissing(candidate);
  }
  return OpenResult::kMissing;
}

}  // namespace qf
