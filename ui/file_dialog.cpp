#include "ui/file_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "base/path.h"

namespace qf {

namespace {

// Qt's dialog, in the mode that accepts names which do not exist, opens a
// directory typed into the name box instead of choosing it, and disables Open
// while the box names the directory shown. For a directory pick this dialog
// takes Open on a directory typed into the box as the choice; a name the
// dialog put there itself (a folder clicked in the list) still opens it.
class DirectoryPickDialog : public QFileDialog {
 public:
  DirectoryPickDialog(QWidget* owner, const QString& title) : QFileDialog(owner, title) {}

  /// Lets Open choose a typed directory; call once the dialog's options are set.
  void acceptTypedDirectories() {
    nameBox_ = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    openButton_ = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
    if (!nameBox_ || !openButton_) return;
    // textEdited comes only from typing, before textChanged; the dialog's own
    // handler of textChanged sets Open, so this one, connected later, overrules it.
    connect(nameBox_, &QLineEdit::textEdited, this, [this](const QString& text) { typed_ = text; });
    connect(nameBox_, &QLineEdit::textChanged, this, [this] {
      if (!typedDirectory().isEmpty()) openButton_->setEnabled(true);
    });
  }

  /// The typed directory chosen, ending in '/'; empty when none was.
  const QString& chosenDirectory() const { return chosenDirectory_; }

  void accept() override {
    const QString typed = typedDirectory();
    if (typed.isEmpty()) {
      QFileDialog::accept();
      return;
    }
    chosenDirectory_ = typed.endsWith(QLatin1Char('/')) ? typed : typed + QLatin1Char('/');
    QDialog::accept();
  }

 private:
  // The absolute path of the existing directory typed into the name box, or empty.
  QString typedDirectory() const {
    if (!nameBox_ || nameBox_->text().isEmpty() || nameBox_->text() != typed_) return {};
    const QString path = QDir::cleanPath(directory().absoluteFilePath(nameBox_->text()));
    return QFileInfo(path).isDir() ? path : QString();
  }

  QLineEdit* nameBox_ = nullptr;
  QPushButton* openButton_ = nullptr;
  QString typed_;  // the name box's text as last typed
  QString chosenDirectory_;
};

}  // namespace

QString qtNameFilter(const FileFilter& filter) {
  QString patterns = QString::fromStdString(filter.pattern);
  patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
  return QString::fromStdString(filter.description) + QStringLiteral(" (") + patterns +
         QLatin1Char(')');
}

bool QtFileDialog::run(FileDialogRequest& request) {
  DirectoryPickDialog dialog(request.owner, QString::fromStdString(request.title));
  // Qt's own dialog: platform dialogs may refuse a proposed name that does not exist.
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (request.directoryPick) dialog.acceptTypedDirectories();

  QStringList nameFilters;
  for (const FileFilter& filter : request.filters) nameFilters << qtNameFilter(filter);
  dialog.setNameFilters(nameFilters);
  if (request.filterIndex >= 1 && request.filterIndex <= nameFilters.size()) {
    dialog.selectNameFilter(nameFilters[request.filterIndex - 1]);
  }

  const std::string directory = directoryOf(request.proposedPath);
  if (!directory.empty()) dialog.setDirectory(QFile::decodeName(directory.c_str()));
  dialog.selectFile(QFile::decodeName(fileNameOf(request.proposedPath).c_str()));

  if (dialog.exec() != QDialog::Accepted) return false;
  if (!dialog.chosenDirectory().isEmpty()) {
    request.chosenPath = QFile::encodeName(dialog.chosenDirectory()).toStdString();
  } else if (!dialog.selectedFiles().isEmpty()) {
    request.chosenPath = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
  } else {
    return false;
  }
  const qsizetype selected = nameFilters.indexOf(dialog.selectedNameFilter());
  if (selected >= 0) request.filterIndex = static_cast<int>(selected) + 1;
  return true;
}

}  // namespace qf
