#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/byte_stream.h"
#include "base/text.h"
#include "base/file_system.h"
#include "engine/definition_table.h"
#include "engine/include_cache.h"

namespace qf {

/// What one compile asks for. An empty output path derives the output from
/// the input: the input without its extension, plus ".html". A character of 0
/// selects the default ('#' and '|').
struct CompileRequest {
  std::string inputPath;
  std::string outputPath;
  std::string includeDirectory;  // empty, or ending in a separator
  char directiveChar = 0;
  char concatChar = 0;
  /// Defined after the built-in symbols, in this order (so they may shadow them).
  std::vector<std::pair<std::string, std::string>> definitions{};
};

/// The outcome of the last compile.
struct CompileResult {
  bool ok = false;
  Text message;        // "Success: File compiled." or an "Error: ..." text
  Text errorFileName;  // "None" before the input is known
  long errorLine = 0;  // 0 when no line applies
};

/// One compile's state: the definition table, the active-file list and the
/// last result. One Compiler runs one compile at a time; separate Compilers
/// may run on separate threads.
class Compiler {
 public:
  using Clock = std::function<std::time_t()>;

  explicit Compiler(std::uint32_t seed = std::random_device{}());
  ~Compiler();
  Compiler(const Compiler&) = delete;
  Compiler& operator=(const Compiler&) = delete;

  /// Compiles request.inputPath into its output file. Returns result().ok.
  /// The output file is replaced only when the compile succeeds. Never throws.
  bool compileFile(const CompileRequest& request);

  /// Compiles into sink instead of a file; outputName is what the built-in
  /// output symbols name ("-" for standard output). Never throws.
  bool compileToSink(const CompileRequest& request, std::string_view outputName, ByteSink& sink);

  const CompileResult& result() const { return result_; }
  const Text& resultText() const { return result_.message; }
  const Text& errorFileName() const { return result_.errorFileName; }
  long errorLine() const { return result_.errorLine; }

  /// Drops the texts of included files kept from earlier compiles. A kept
  /// text is checked against the file's size and times, which tick coarsely;
  /// a new run of compiles starts afresh.
  void forgetIncludedFiles() { includes_.clear(); }

  /// Replaces the clock that the date and time symbols read (once per compile).
  void setClock(Clock clock) { clock_ = std::move(clock); }

 private:
  bool checkCharacters(const CompileRequest& request);
  /// The compile up to the end of processing; openOutput runs once the input
  /// is known to exist and fails the compile when it returns false.
  bool run(const CompileRequest& request, std::string_view outputName, ByteSink& sink,
           const std::function<bool(const FileIdentity& input)>& openOutput);
  /// Records that the output could not be written; returns false.
  bool failToWrite(std::string_view outputName);
  void defineBuiltInSymbols(const CompileRequest& request, std::string_view outputName);

  DefinitionTable definitions_;
  ActiveFileList activeFiles_;
  CompileResult result_;
  Clock clock_;
  IncludeCache includes_;
};

/// The process's default compiler, which the free functions below work on.
Compiler& defaultCompiler();

/// compileFile on the default compiler; null paths count as empty, and a null
/// input fails with "Error: Unknown error.".
int compileFile(const char* inputPath, const char* outputPath, const char* includeDirectory,
                char directiveChar, char concatChar);
const char* resultText();
const char* errorFileName();
long errorLine();

}  // namespace qf
