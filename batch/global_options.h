#pragma once

#include <string>

#include "base/text.h"

namespace qf {

/// The program's options and the pickers' remembered paths, owned by the
/// front end and read by the batch run. Directory texts are empty or end in
/// their separator.
struct GlobalOptions {
  Text sourceExtension{".src"};
  Text outputExtension{".html"};
  Text includeExtension{".inc"};
  int useOutputDir = 0;    // 0 off, anything else on
  int recurseFolders = 0;  // 0 off, anything else on

  std::string sourceDirectory;   // path buffer of the source directory picker
  std::string outputDirectory;   // path buffer of the output directory picker
  std::string includeDirectory;  // path buffer of the include directory picker
  std::string sourceFile;        // path buffer of the single-file picker: a full path
  std::string sourceFileName;    // its name buffer: the file name only
};

}  // namespace qf
