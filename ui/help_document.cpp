#include "ui/help_document.h"

#include <QCoreApplication>
#include <QDir>

#include "base/file_system.h"
#include "base/path.h"

namespace qf {

namespace {

std::string inDirectory(const std::string& directory, const std::string& relative) {
  if (directory.empty()) return {};
  return lexicallyNormal(joinPath(directory, relative));
}

bool isRegularFile(const std::string& path) {
  if (path.empty()) return false;
  const std::optional<FileStatus> status = statusOf(path);
  return status && status->regular;
}

}  // namespace

std::string findManual(const ManualPlaces& places) {
  const std::string current = inDirectory(places.currentDirectory, kManualName);
  const std::string candidates[] = {
      current,
      inDirectory(places.programDirectory, kManualName),
      inDirectory(places.programDirectory, std::string("../") + QF_DOC_DIR + "/" + kManualName),
      inDirectory(places.installedDirectory, kManualName),
  };
  for (const std::string& candidate : candidates) {
    if (isRegularFile(candidate)) return candidate;
  }
  return current;
}

ManualPlaces manualPlaces() {
  return {QDir::currentPath().toStdString(), QCoreApplication::applicationDirPath().toStdString(),
          QF_INSTALLED_DOC_DIR};
}

}  // namespace qf
