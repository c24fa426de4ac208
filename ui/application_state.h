#pragma once

#include <string>

#include "batch/build_plan.h"
#include "ui/file_dialog.h"
#include "ui/file_picker.h"
#include "ui/settings_store.h"

namespace qf {

/// The window's options as the settings keep them, and the pickers' path
/// buffers. Directory texts are empty or end in their separator.
struct WindowOptions {
  std::string sourceExtension = ".src";
  std::string outputExtension = ".html";
  std::string includeExtension = ".inc";
  int useOutputDir = 0;    // 0 off, anything else on
  int recurseFolders = 0;  // 0 off, anything else on

  std::string sourceDirectory;   // path buffer of the source directory picker
  std::string outputDirectory;   // path buffer of the output directory picker
  std::string includeDirectory;  // path buffer of the include directory picker
  std::string sourceFile;        // path buffer of the single-file picker: a full path
  std::string sourceFileName;    // its name buffer: the file name only

  /// What a batch run started now is asked to do.
  BatchOptions batchOptions() const {
    return {sourceDirectory, outputDirectory,   includeDirectory,   sourceExtension,
            outputExtension, useOutputDir != 0, recurseFolders != 0};
  }
};

/// The desktop program's state for one run: the settings store, the options
/// and the four pickers, whose path buffers live in the options.
struct ApplicationState {
  explicit ApplicationState(FileDialog& fileDialog)
      : sourceDirPicker(fileDialog, options.sourceDirectory),
        outputDirPicker(fileDialog, options.outputDirectory),
        includeDirPicker(fileDialog, options.includeDirectory),
        sourceFilePicker(fileDialog, options.sourceFile, options.sourceFileName) {}

  SettingsStore settings{"Ambervale", "Quillforge"};
  WindowOptions options;
  FilePicker sourceDirPicker;
  FilePicker outputDirPicker;
  FilePicker includeDirPicker;
  FilePicker sourceFilePicker;
};

}  // namespace qf
