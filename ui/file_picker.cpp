#include "ui/file_picker.h"

#include "base/path.h"
#include "ui/setting_values.h"
#include "ui/settings_store.h"

namespace qf {

FilePicker::FilePicker(FileDialog& dialog, std::string& pathBuffer)
    : FilePicker(dialog, pathBuffer, ownName_) {}

FilePicker::FilePicker(FileDialog& dialog, std::string& pathBuffer, std::string& nameBuffer)
    : dialog_(dialog), path_(&pathBuffer), name_(&nameBuffer) {
  addFilter("All Files (*.*)", "*.*");
}

void FilePicker::addFilter(std::string_view description, std::string_view pattern) {
  filters_.push_back({std::string(description), std::string(pattern)});
  filterIndex_ = static_cast<int>(filters_.size());
}

bool FilePicker::run(QWidget* owner, std::string_view title, bool fileMustExist) {
  FileDialogRequest request;
  request.owner = owner;
  request.title =
      title.empty() ? (fileMustExist ? "Open File" : "Open Directory") : std::string(title);
  request.proposedPath = *path_;
  request.filters = filters_;
  request.filterIndex = filterIndex_;
  request.fileMustExist = fileMustExist;
  request.directoryPick = !fileMustExist;
  // The saved path must load again in the next run, so longer choices are refused.
  if (!dialog_.run(request) || request.chosenPath.size() > kMaxStoredPathLength) return false;
  *path_ = request.chosenPath;
  *name_ = fileNameOf(request.chosenPath);
  filterIndex_ = request.filterIndex;
  return true;
}

bool FilePicker::chooseFile(QWidget* owner, std::string_view title) {
  return run(owner, title, true);
}

bool FilePicker::chooseDirectory(QWidget* owner, std::string_view title) {
  cutToDirectory(*path_);
  const std::string before = *path_;
  *path_ += *name_;
  const bool chosen = run(owner, title, false);
  if (!chosen) *path_ = before;
  cutToDirectory(*path_);
  return chosen;
}

bool FilePicker::savePath(SettingsStore& store, std::string_view name) {
  if (name.empty() || !store.open()) return false;
  store.writeString(name, *path_);
  store.close();
  return true;
}

bool FilePicker::restorePath(SettingsStore& store, std::string_view name) {
  if (name.empty() || !store.open()) return false;
  const bool loaded = store.readString(name, *path_, kMaxStoredPathLength);
  store.close();
  if (!loaded) return false;
  name_->clear();
  return true;
}

}  // namespace qf
