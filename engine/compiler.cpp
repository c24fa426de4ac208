#include "engine/compiler.h"

#include <new>
#include <optional>

#include "base/file_stream.h"
#include "base/file_system.h"
#include "base/local_time.h"
#include "base/output_file.h"
#include "base/path.h"
#include "engine/date_text.h"
#include "engine/source_processor.h"
#include "engine/symbol.h"

namespace qf {

namespace {

std::string quoted(std::string_view text) {
  std::string result;
  result.reserve(text.size() + 2);
  return result.append(1, '"').append(text).append(1, '"');
}

}  // namespace

Compiler::Compiler(std::uint32_t seed)
    : definitions_(seed), clock_([] { return std::time(nullptr); }) {}

Compiler::~Compiler() = default;

// The two characters are checked first; their messages name no file.
bool Compiler::checkCharacters(const CompileRequest& request) {
  const char directive = request.directiveChar ? request.directiveChar : '#';
  const char concat = request.concatChar ? request.concatChar : '|';
  if (isSymbolChar(directive)) {
    result_.message = std::string("Error: Directive character '") + directive +
                      "' mustn't be valid symbol character.";
    return false;
  }
  if (isSymbolChar(concat)) {
    result_.message = std::string("Error: Concatenation character '") + concat +
                      "' mustn't be valid symbol character.";
    return false;
  }
  return true;
}

bool Compiler::compileFile(const CompileRequest& request) {
  const std::string outputPath = request.outputPath.empty()
                                     ? withoutExtension(request.inputPath) + ".html"
                                     : request.outputPath;
  OutputFile output;
  auto openOutput = [&](std::optional<FileIdentity> input) -> bool {
    if (output.open(outputPath, input, request.outputDirectories)) return true;
    result_.message = output.foundRefused()
                          ? "Error: Output file " + quoted(outputPath) + " is the input file."
                          : "Error: Could not open output file " + quoted(outputPath) + ".";
    return false;
  };
  if (!run(request, outputPath, output, openOutput)) {
    output.abandon();
    return false;
  }
  if (!output.commit()) return failToWrite(outputPath);
  if (request.observer && output.kept()) request.observer->outputKept(*output.kept());
  return true;
}

bool Compiler::compileToSink(const CompileRequest& request, std::string_view outputName,
                             ByteSink& sink) {
  if (!run(request, outputName, sink, [](std::optional<FileIdentity>) { return true; }))
    return false;
  return sink.flush() || failToWrite(outputName);
}

bool Compiler::failToWrite(std::string_view outputName) {
  result_.ok = false;
  result_.message = "Error: Could not write output file " + quoted(outputName) + ".";
  result_.errorLine = 0;
  return false;
}

bool Compiler::run(const CompileRequest& request, std::string_view outputName, ByteSink& sink,
                   const std::function<bool(std::optional<FileIdentity>)>& openOutput) {
  result_ = CompileResult{false, "Error: Unknown error.", "None", 0, {}};
  try {
    if (!checkCharacters(request)) return false;
    activeFiles_.clearActiveFiles();
    definitions_.resetDefinitions();
    if (request.inputPath.empty()) return false;
    result_.errorFileName = request.inputPath;
    std::optional<FileSource> file;
    if (!request.input) {
      file.emplace(request.inputPath);
      if (file->outcome() == OpenResult::kFailed) {
        result_.message = "Error: Could not read file " + quoted(request.inputPath) + ".";
        return false;
      }
      if (!file->isOpen()) {
        result_.message = "Error: Could not open input file " + quoted(request.inputPath) + ".";
        return false;
      }
    }
    if (request.observer && file) {
      request.observer->fileRead(request.inputPath, false, &file->status());
    }
    if (!openOutput(file ? std::optional(file->status().identity) : std::nullopt)) return false;
    ByteSource& input = request.input ? *request.input : *file;
    defineBuiltInSymbols(request, outputName);
    CompileContext context{definitions_,
                           activeFiles_,
                           result_,
                           sink,
                           request.directiveChar ? request.directiveChar : '#',
                           request.concatChar ? request.concatChar : '|',
                           request.includeDirectory,
                           directoryOf(request.inputPath),
                           request.includes ? request.includes : &includes_,
                           &readings_,
                           request.observer,
                           request.scanPath.value_or(fastestScanPath()),
                           request.lineBufferSize,
                           request.observer ? request.observer->outputLineMap() : nullptr};
    if (context.lineMap) context.lineMap->clear();
    if (!SourceProcessor(context).processSource(request.inputPath, input)) return false;
  } catch (const std::bad_alloc&) {
    activeFiles_.clearActiveFiles();
    definitions_.resetDefinitions();
    result_.message = "Error: Out of memory.";
    return false;
  }
  result_.ok = true;
  result_.message = "Success: File compiled.";
  return true;
}

void Compiler::defineBuiltInSymbols(const CompileRequest& request, std::string_view outputName) {
  const std::string_view inputPath = request.inputPath;
  const DateTexts date = formatDate(localTime(clock_()).value_or(std::tm{}));
  const std::string inputTitle = fileNameOf(inputPath);
  const std::string outputTitle = fileNameOf(outputName);
  const std::pair<std::string_view, std::string_view> symbols[] = {
      {"_INFILENAME_", inputPath},   {"_INFILETITLE_", inputTitle},
      {"_OUTFILENAME_", outputName}, {"_OUTFILETITLE_", outputTitle},
      {"_WEEKDAY_", date.weekday},   {"_MONTH_", date.month},
      {"_DAY_", date.day},           {"_YEAR_", date.year},
      {"_TIME_", date.time},
  };
  for (const auto& [name, text] : symbols) definitions_.addDefinition(name, text);
  if (request.observer) reportDateLookups(*request.observer);
  for (const auto& [name, text] : request.definitions) definitions_.addDefinition(name, text);
}

// Marked before the -D definitions, which may shadow them.
void Compiler::reportDateLookups(CompileObserver& observer) {
  for (const std::string_view name : {"_WEEKDAY_", "_MONTH_", "_DAY_", "_YEAR_", "_TIME_"}) {
    definitions_.reportLookupsOf(name, [&observer](const Definition& definition) {
      observer.dateSymbolUsed(definition.name, definition.text);
    });
  }
}

}  // namespace qf
