#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/byte_stream.h"
#include "base/file_system.h"
#include "engine/compile_context.h"

namespace qf {

/// At most this many source files are open at once, the input included.
inline constexpr std::size_t kMaxOpenFiles = 64;
/// At most this many conditionals are open at once in one file.
inline constexpr int kMaxConditionals = 99;

/// Reads source files line by line, obeys their directives and writes their
/// text lines, substituted, to the context's output.
class SourceProcessor {
 public:
  explicit SourceProcessor(CompileContext& context) : context_(context) {}

  /// Processes the file at path and, recursively, what it includes. False on
  /// the first error: the context's result then holds the message and the
  /// file and line where it happened.
  bool processSourceFile(const std::string& path);

  /// Processes an already opened source under the name path; fixed (may be
  /// null) holds the fixed definitions of its lines.
  bool processSource(const std::string& path, ByteSource& source,
                     std::shared_ptr<const FixedDefinitions> fixed = nullptr);

  /// The guard of an included text read as reading says; none when
  /// processing it while its symbol is defined could do more than look up
  /// symbols: write, fail, substitute a directive or probe a file.
  static std::optional<IncludeGuard> findIncludeGuard(std::shared_ptr<const std::string> text,
                                                      const TextReadings::Reading& reading);
  /// The lines of a text read as reading says that are define directives
  /// substitution cannot change, with what each defines.
  static FixedDefinitions findFixedDefinitions(std::shared_ptr<const std::string> text,
                                               const TextReadings::Reading& reading);

 private:
  struct FileState;
  struct Directive;
  enum class Step { kNext, kFail };

  static std::span<const Directive> directives();
  static const Directive* findDirective(std::string_view rest);
  /// The keyword nearest (but not equal) to the word rest starts with, when
  /// at most kMostLettersAmiss letters are amiss; "" otherwise.
  static std::string_view nearestKeyword(std::string_view rest);
  static constexpr std::size_t kMostLettersAmiss = 2;

  Step handleLine(FileState& file);
  bool obeyFixedDefinitions(FileState& file);
  Step handleTextLine(FileState& file);
  Step handleDirective(FileState& file);
  // One handler per directive; argument is what follows the keyword.
  Step handleIfdef(FileState& file, const Directive& directive, std::string_view argument);
  Step handleIfndef(FileState& file, const Directive& directive, std::string_view argument);
  Step handleIfexists(FileState& file, const Directive& directive, std::string_view argument);
  Step handleElse(FileState& file, const Directive& directive, std::string_view argument);
  Step handleEndif(FileState& file, const Directive& directive, std::string_view argument);
  Step handleInclude(FileState& file, const Directive& directive, std::string_view argument);
  Step handleFileinfo(FileState& file, const Directive& directive, std::string_view argument);
  Step handleDefine(FileState& file, const Directive& directive, std::string_view argument);
  Step handleUndefine(FileState& file, const Directive& directive, std::string_view argument);
  Step handleKilldefine(FileState& file, const Directive& directive, std::string_view argument);

  Step openSymbolConditional(FileState& file, const Directive& directive, std::string_view argument,
                             bool wantDefined, std::string_view limitMessage);
  Step openConditional(FileState& file, bool condition);
  Step removeDefinitions(FileState& file, const Directive& directive, std::string_view argument,
                         bool everyDefinition);
  Step handleUnknown(FileState& file, std::string_view rest);
  bool finishFile(FileState& file);

  Step fail(FileState& file, std::string_view pattern, std::string_view name = {});
  Step failMalformed(FileState& file, const Directive& directive);
  /// Records file's current line as the error's place, unless one is set.
  void placeError(const FileState& file);
  /// Probes the places name may be in, in search order. found is the first
  /// candidate that did not count as missing: it opened, or (kFailed) the
  /// system could not tell.
  OpenResult findFile(const FileState& file, std::string_view name, bool withIncludeDirectory,
                      const std::function<OpenResult(const std::string&)>& probe,
                      std::string& found) const;
  bool processIncluded(const std::string& path, std::shared_ptr<const std::string> text);

  CompileContext& context_;
};

/// The name of a symbol argument: the first run of symbol characters, after
/// skipping everything else; empty when there is none.
std::string_view parseSymbolArgument(std::string_view argument);

/// The text a define directive gives name, the symbol its argument names:
/// the rest of the line after the name and the spaces that follow it.
std::string_view definedText(std::string_view argument, std::string_view name);

/// The name of a file argument: what follows the first '<' or '"', up to the
/// next '>' or '"' (or the end of the line); empty without an opening mark.
std::string_view parseFileArgument(std::string_view argument);

/// The pattern with "%c" replaced by the directive character and "%s" by name.
std::string formatMessage(std::string_view pattern, char directiveChar, std::string_view name = {});

}  // namespace qf
