#pragma once

#include "batch/global_options.h"
#include "ui/file_dialog.h"
#include "ui/file_picker.h"
#include "ui/settings_store.h"

namespace qf {

/// The desktop program's state for one run: the settings store, the options
/// and the four pickers, whose path buffers live in the options.
struct ApplicationState {
  explicit ApplicationState(FileDialog& fileDialog)
      : sourceDirPicker(fileDialog, options.sourceDirectory),
        outputDirPicker(fileDialog, options.outputDirectory),
        includeDirPicker(fileDialog, options.includeDirectory),
        sourceFilePicker(fileDialog, options.sourceFile, options.sourceFileName) {}

  SettingsStore settings{"Ambervale", "Quillforge"};
  GlobalOptions options;
  FilePicker sourceDirPicker;
  FilePicker outputDirPicker;
  FilePicker includeDirPicker;
  FilePicker sourceFilePicker;
};

}  // namespace qf
