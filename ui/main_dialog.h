#pragma once

#include <QDialog>
#include <string>
#include <string_view>

#include "batch/batch_front_end.h"
#include "batch/batch_run.h"
#include "ui/application_state.h"
#include "ui/message_box.h"

class QCheckBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace qf {

/// The program's main window: the directories, the output extension and the
/// two options, the compile commands and the run's status line and bar. It
/// loads the settings when created and saves them when closed; Escape does
/// not close it. Every control's objectName is "id" + its number.
class MainDialog : public QDialog, public BatchFrontEnd {
  Q_OBJECT

 public:
  MainDialog(ApplicationState& state, MessageBox& messageBox, QWidget* parent = nullptr);

  void setStatus(std::string_view text) override;
  void setProgress(int percent) override;
  void showNote(std::string_view text) override;
  MessageAnswer showFailure(const CompileResult& failure, MessageButtons buttons) override;
  std::optional<PickedFile> chooseSourceFile() override;

  BatchRun& batchRun() { return batchRun_; }

 public slots:
  void compileAll();
  void compileSingle();
  void openHelp();
  void pickSourceDirectory();
  void pickOutputDirectory();
  void pickIncludeDirectory();
  void setUseOutputDir(bool on);
  void setRecurseFolders(bool on);
  void showAbout();
  void editOutputExtension(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 public:
  /// Does nothing, so that Escape leaves the window open.
  void reject() override {}

 private:
  void createControls();
  void readSettings();
  void writeSettings();
  void addFilters();
  void showOptions();
  void pickDirectory(FilePicker& picker, const std::string& hint, QLineEdit* field);

  ApplicationState& state_;
  MessageBox& messageBox_;
  BatchRun batchRun_;

  QPushButton* compileAllButton_ = nullptr;
  QPushButton* compileSingleButton_ = nullptr;
  QPushButton* helpButton_ = nullptr;
  QPushButton* quitButton_ = nullptr;
  QLineEdit* sourceDirField_ = nullptr;
  QPushButton* pickSourceButton_ = nullptr;
  QLineEdit* outputDirField_ = nullptr;
  QPushButton* pickOutputButton_ = nullptr;
  QCheckBox* useOutputDirBox_ = nullptr;
  QLineEdit* includeDirField_ = nullptr;
  QPushButton* pickIncludeButton_ = nullptr;
  QCheckBox* recurseBox_ = nullptr;
  QPushButton* aboutButton_ = nullptr;
  QLineEdit* statusField_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLineEdit* outputExtensionField_ = nullptr;
};

}  // namespace qf
