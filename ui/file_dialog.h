#pragma once

#include <QString>
#include <string>
#include <vector>

class QWidget;

namespace qf {

/// One entry of a file dialog's filter list; patterns are separated by ';'.
struct FileFilter {
  std::string description;
  std::string pattern;
  friend bool operator==(const FileFilter&, const FileFilter&) = default;
};

/// What a file dialog is asked for and, after a choice, what it answered.
struct FileDialogRequest {
  QWidget* owner = nullptr;
  std::string title;
  std::string proposedPath;  // a directory part (maybe empty) plus a proposed file name
  std::vector<FileFilter> filters;
  int filterIndex = 0;  // 1-based; the selected filter, in and out
  bool fileMustExist = false;
  bool directoryPick = false;  // a typed directory's path is a choice too
  std::string chosenPath;      // out: the full path of the choice; a directory's ends in '/'
};

/// The open-file dialog, behind an interface so that tests can answer it.
class FileDialog {
 public:
  virtual ~FileDialog() = default;
  /// Runs the dialog modally; true when the user chose, and then sets
  /// request.chosenPath and request.filterIndex.
  virtual bool run(FileDialogRequest& request) = 0;
};

/// The real dialog: Qt's own open-file dialog, which accepts a name that does
/// not exist when fileMustExist is false. In a directory pick, Open on the
/// path of an existing directory typed into the name box chooses it.
class QtFileDialog : public FileDialog {
 public:
  bool run(FileDialogRequest& request) override;
};

/// The filter as Qt's dialog takes it: the description, then the patterns
/// separated by blanks in parentheses (which Qt reads and does not show).
QString qtNameFilter(const FileFilter& filter);

}  // namespace qf
