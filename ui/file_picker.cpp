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

int FilePicker::addFilter(const char* description, const char* pattern) {
  if (!description || !pattern) return 0;
  filters_.push_back({description, pattern});
  filterIndex_ = static_cast<int>(filters_.size());
  return 1;
}

bool FilePicker::run(QWidget* owner, const char* title, const char* defaultTitle,
                     bool fileMustExist) {
  FileDialogRequest request;
  request.owner = owner;
  request.title = title ? title : defaultTitle;
  request.proposedPath = *path_;
  request.filters = filters_;
  request.filterIndex = filterIndex_;
  request.fileMustExist = fileMustExist;
  request.directoryPick = !fileMustExist;
  // The saved path must load again in the next run, so longer choices are refused.
  if (!dialog_.run(request) || request.chosenPath.size() > kMaxStoredPathLength) return false;
  *path_ = request.chosenPath;
  *name_ = fileNameOf(request.chosenPath).str();
  filterIndex_ = request.filterIndex;
  return true;
}

int FilePicker::chooseFile(QWidget* owner, const char* title) {
  return run(owner, title, "Open File", true) ? 1 : 0;
}

int FilePicker::chooseDirectory(QWidget* owner, const char* title) {
  cutToDirectory(*path_);
  const std::string before = *path_;
  *path_ += *name_;
  const bool chosen = run(owner, title, "Open Directory", false);
  if (!chosen) *path_ = before;
  cutToDirectory(*path_);
  return chosen ? 1 : 0;
}

int FilePicker::savePath(SettingsStore& store, std::string_view name) {
  if (name.empty() || !store.open()) return 0;
  store.writeString(name, *path_);
  store.close();
  return 1;
}

int FilePicker::restorePath(SettingsStore& store, std::string_view name) {
  if (name.empty() || !store.open()) return 0;
  const int loaded = store.readString(name, *path_, kMaxStoredPathLength);
  store.close();
  if (!loaded) return 0;
  name_->clear();
  return 1;
}

}  // namespace qf
