#include "ui/file_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>

#include "base/path.h"

namespace qf {

QString qtNameFilter(const FileFilter& filter) {
  QString patterns = QString::fromStdString(filter.pattern);
  patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
  return QString::fromStdString(filter.description) + QStringLiteral(" (") + patterns +
         QLatin1Char(')');
}

bool QtFileDialog::run(FileDialogRequest& request) {
  QFileDialog dialog(request.owner, QString::fromStdString(request.title));
  // Qt's own dialog: platform dialogs may refuse a proposed name that does not exist.
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);

  QStringList nameFilters;
  for (const FileFilter& filter : request.filters) nameFilters << qtNameFilter(filter);
  dialog.setNameFilters(nameFilters);
  if (request.filterIndex >= 1 && request.filterIndex <= nameFilters.size()) {
    dialog.selectNameFilter(nameFilters[request.filterIndex - 1]);
  }

  const std::string directory = directoryOf(request.proposedPath);
  if (!directory.empty()) dialog.setDirectory(QFile::decodeName(directory.c_str()));
  dialog.selectFile(QFile::decodeName(fileNameOf(request.proposedPath).chars()));

  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  request.chosenPath = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
  const qsizetype selected = nameFilters.indexOf(dialog.selectedNameFilter());
  if (selected >= 0) request.filterIndex = static_cast<int>(selected) + 1;
  return true;
}

}  // namespace qf
