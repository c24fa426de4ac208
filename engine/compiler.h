#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/byte_stream.h"
#include "base/file_system.h"
#include "engine/active_file_list.h"
#include "engine/compile_observer.h"
#include "engine/compile_result.h"
#include "engine/definition_table.h"
#include "engine/include_cache.h"
#include "engine/line_reader.h"
#include "engine/text_readings.h"
#include "engine/word_scan.h"

namespace qf {

class OutputDirectoryCache;

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
  /// Read instead of opening inputPath (standard input, say), which then only
  /// names it; not owned.
  ByteSource* input = nullptr;
  /// Told what the compile looks at; may be null. Not owned.
  CompileObserver* observer = nullptr;
  /// How lines are read and scanned for words. Every choice gives the same
  /// output; tests vary them. No value: the fastest path this processor runs.
  std::optional<ScanPath> scanPath{};
  std::size_t lineBufferSize = kLineBufferSize;
  /// Keeps included files' texts for the compiles of one run, which may share
  /// it across threads, instead of the compiler's own; may be null. Not owned.
  IncludeCache* includes = nullptr;
  /// Keeps the output's directory open for the next compile on this thread;
  /// may be null. Not owned.
  OutputDirectoryCache* outputDirectories = nullptr;
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

  /// The outcome of the last compile.
  const CompileResult& result() const { return result_; }

  /// Drops the texts of included files kept from earlier compiles. A kept
  /// text is checked against the file's size and times, which tick coarsely;
  /// a new run of compiles starts afresh.
  void forgetIncludedFiles() { includes_.clear(); }

  /// Replaces the clock that the date and time symbols read (once per compile).
  void setClock(Clock clock) { clock_ = std::move(clock); }

 private:
  bool checkCharacters(const CompileRequest& request);
  /// The compile up to the end of processing; openOutput runs once the input
  /// is open, with the input file's identity (none for a given source), and
  /// fails the compile when it returns false.
  bool run(const CompileRequest& request, std::string_view outputName, ByteSink& sink,
           const std::function<bool(std::optional<FileIdentity> input)>& openOutput);
  /// Records that the output could not be written; returns false.
  bool failToWrite(std::string_view outputName);
  void defineBuiltInSymbols(const CompileRequest& request, std::string_view outputName);
  void reportDateLookups(CompileObserver& observer);

  DefinitionTable definitions_;
  ActiveFileList activeFiles_;
  CompileResult result_;
  Clock clock_;
  IncludeCache includes_;
  TextReadings readings_;
};

}  // namespace qf
