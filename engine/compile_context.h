#pragma once

#include <string>

#include "base/byte_stream.h"
#include "engine/active_file_list.h"
#include "engine/compile_observer.h"
#include "engine/compile_result.h"
#include "engine/definition_table.h"
#include "engine/include_cache.h"
#include "engine/line_reader.h"
#include "engine/output_line_map.h"
#include "engine/text_readings.h"
#include "engine/word_scan.h"

namespace qf {

/// What the processors of one compile share. The references must outlive
/// every processor that is given the context.
struct CompileContext {
  DefinitionTable& definitions;
  ActiveFileList& activeFiles;
  CompileResult& result;
  ByteSink& output;
  char directiveChar = '#';
  char concatChar = '|';
  std::string includeDirectory;         // empty or ending in a separator
  std::string inputDirectory;           // empty or ending in a separator
  IncludeCache* includes = nullptr;     // keeps included files' texts; may be null
  TextReadings* readings = nullptr;     // what reading kept texts found; may be null
  CompileObserver* observer = nullptr;  // told what the compile looks at; may be null
  ScanPath scanPath = fastestScanPath();
  std::size_t lineBufferSize = kLineBufferSize;
  OutputLineMap* lineMap = nullptr;  // records each output line's origin; may be null
};

}  // namespace qf
