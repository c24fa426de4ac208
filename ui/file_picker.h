#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/file_dialog.h"

class QWidget;

namespace qf {

class SettingsStore;

/// One open-file dialog with its filter list and the buffers it fills: the
/// path buffer (a directory ending in its separator, or a file's full path)
/// and the name buffer (the directory hint before a directory pick, the
/// chosen file's name after a pick). The buffers belong to the caller.
class FilePicker {
 public:
  /// Starts with the filter "All Files (*.*)" and keeps the name in a buffer of its own.
  FilePicker(FileDialog& dialog, std::string& pathBuffer);
  /// As above with the name in nameBuffer.
  FilePicker(FileDialog& dialog, std::string& pathBuffer, std::string& nameBuffer);
  FilePicker(const FilePicker&) = delete;
  FilePicker& operator=(const FilePicker&) = delete;

  /// Appends a filter and selects it.
  void addFilter(std::string_view description, std::string_view pattern);

  /// Lets the user pick an existing file, proposing the path buffer; on true
  /// the path buffer holds the file's full path and the name buffer its name.
  /// A cancel, or a path longer than kMaxStoredPathLength, changes nothing.
  /// An empty title means "Open File".
  bool chooseFile(QWidget* owner = nullptr, std::string_view title = {});
  /// Lets the user pick a directory by accepting the name buffer's hint (or any
  /// file) in it; afterwards the path buffer holds the chosen directory, or the
  /// one held before when the user cancelled. An empty title means "Open
  /// Directory".
  bool chooseDirectory(QWidget* owner = nullptr, std::string_view title = {});

  /// Stores the path buffer under name; false for an empty name or a store that
  /// won't open.
  bool savePath(SettingsStore& store, std::string_view name);
  /// Loads the path buffer from name and empties the name buffer; on false the
  /// path buffer is unchanged.
  bool restorePath(SettingsStore& store, std::string_view name);

  const std::string& path() const { return *path_; }
  const std::string& name() const { return *name_; }
  void setName(std::string_view name) { name_->assign(name); }
  const std::vector<FileFilter>& filters() const { return filters_; }
  /// The 1-based index of the filter selected when the dialog opens.
  int filterIndex() const { return filterIndex_; }

 private:
  bool run(QWidget* owner, std::string_view title, bool fileMustExist);

  FileDialog& dialog_;
  std::string ownName_;
  std::string* path_;
  std::string* name_;
  std::vector<FileFilter> filters_;
  int filterIndex_ = 0;
};

}  // namespace qf
