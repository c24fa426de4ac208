#include "ui/main_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include "ui/about_dialog.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_units.h"
#include "ui/help_document.h"
#include "ui/qt_text.h"
#include "ui/setting_values.h"

namespace qf {

namespace {

constexpr char kWindowPrefix[] = "MainWin";
constexpr std::string_view kNoBrowserMessage =
    "No web browser could be started to show the manual. It is here:\n\n";

QLineEdit* makeField(QWidget* parent, int id, bool readOnly, const QRect& rect) {
  auto* field = new QLineEdit(parent);
  field->setReadOnly(readOnly);
  place(field, id, rect);
  return field;
}

QCheckBox* makeCheckBox(QWidget* parent, int id, const char* caption, const QRect& rect) {
  auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
  place(box, id, rect);
  return box;
}

// Group boxes are siblings of the controls they frame, so the tab order stays
// the creation order; lowered so that they never take the controls' clicks.
void makeGroup(QWidget* parent, const char* caption, const QRect& rect) {
  auto* group = new QGroupBox(QString::fromLatin1(caption), parent);
  place(group, 0, rect);
  group->lower();
}

// A field's text shows from its start, however long it is: setText alone
// leaves the cursor at the end and so scrolls the start out of view.
void showText(QLineEdit* field, std::string_view text) {
  field->setText(toQString(text));
  field->setCursorPosition(0);
}

// The field holds at most 99 bytes; whole characters are dropped from its end.
std::string extensionBytes(QString text) {
  QByteArray bytes = text.toUtf8();
  while (bytes.size() > static_cast<qsizetype>(kMaxStoredExtensionLength)) {
    text.chop(1);
    bytes = text.toUtf8();
  }
  return bytes.toStdString();
}

}  // namespace

MainDialog::MainDialog(ApplicationState& state, MessageBox& messageBox, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      state_(state),
      messageBox_(messageBox),
      batchRun_(*this) {
  createControls();
  readSettings();
  addFilters();
  setWindowTitle(toQString(kProgramCaption));
  showOptions();
  progressBar_->setRange(0, 100);
  showProgress(*this, "Idle", 0, 0);
  compileAllButton_->setFocus();

  connect(compileAllButton_, &QPushButton::clicked, this, &MainDialog::compileAll);
  connect(compileSingleButton_, &QPushButton::clicked, this, &MainDialog::compileSingle);
  connect(helpButton_, &QPushButton::clicked, this, &MainDialog::openHelp);
  connect(quitButton_, &QPushButton::clicked, this, &QWidget::close, Qt::QueuedConnection);
  connect(pickSourceButton_, &QPushButton::clicked, this, &MainDialog::pickSourceDirectory);
  connect(pickOutputButton_, &QPushButton::clicked, this, &MainDialog::pickOutputDirectory);
  connect(useOutputDirBox_, &QCheckBox::clicked, this, &MainDialog::setUseOutputDir);
  connect(pickIncludeButton_, &QPushButton::clicked, this, &MainDialog::pickIncludeDirectory);
  connect(recurseBox_, &QCheckBox::clicked, this, &MainDialog::setRecurseFolders);
  connect(aboutButton_, &QPushButton::clicked, this, &MainDialog::showAbout);
  connect(outputExtensionField_, &QLineEdit::textEdited, this, &MainDialog::editOutputExtension);
  outputExtensionField_->installEventFilter(this);
}

void MainDialog::createControls() {
  const DialogUnits du(fontMetrics());
  setFixedSize(du.x(189), du.y(195));
  makeGroup(this, "Compile to HTML", du.rect(5, 0, 180, 50));
  compileAllButton_ =
      makeButton(this, 1000, "Compile all files in Source directory", du.rect(15, 10, 120, 15));
  compileSingleButton_ =
      makeButton(this, 1001, "Select a single file to compile ...", du.rect(15, 30, 120, 15));
  helpButton_ = makeButton(this, 1004, "Help", du.rect(145, 30, 30, 15));
  quitButton_ = makeButton(this, 1005, "Quit", du.rect(155, 170, 30, 15));
  sourceDirField_ = makeField(this, 1006, true, du.rect(10, 60, 150, 12));
  pickSourceButton_ = makeButton(this, 1007, "Pick", du.rect(160, 61, 21, 10));
  makeGroup(this, "Source file (.SRC) directory", du.rect(5, 50, 180, 40));
  outputDirField_ = makeField(this, 1008, true, du.rect(10, 100, 150, 12));
  pickOutputButton_ = makeButton(this, 1009, "Pick", du.rect(160, 101, 21, 10));
  makeGroup(this, "Output file (.HTML) directory and Extension (optional)",
            du.rect(5, 90, 180, 40));
  useOutputDirBox_ =
      makeCheckBox(this, 1010, "Use seperate output directory?", du.rect(10, 115, 115, 10));
  includeDirField_ = makeField(this, 1011, true, du.rect(10, 140, 150, 12));
  pickIncludeButton_ = makeButton(this, 1012, "Pick", du.rect(160, 141, 21, 10));
  makeGroup(this, "Global include file (.INC) directory  (optional)", du.rect(5, 130, 180, 25));
  recurseBox_ =
      makeCheckBox(this, 1013, "Scan all sub-directories recursively?", du.rect(10, 75, 130, 10));
  aboutButton_ = makeButton(this, 1014, "About", du.rect(145, 10, 30, 15));
  makeGroup(this, "Progress of compilation", du.rect(5, 155, 145, 35));
  statusField_ = makeField(this, 1015, true, du.rect(10, 175, 135, 12));
  progressBar_ = new QProgressBar(this);
  progressBar_->setTextVisible(false);
  place(progressBar_, 1017, du.rect(10, 165, 135, 6));
  outputExtensionField_ = makeField(this, 1019, false, du.rect(130, 115, 50, 12));
}

void MainDialog::readSettings() {
  SettingsStore& settings = state_.settings;
  WindowOptions& options = state_.options;
  settings.beginBatch();  // one read of the file for every value
  settings.restoreWindowPlacement(this, kWindowPrefix, false, false);
  settings.readInt("UseOutDir", options.useOutputDir);
  settings.readInt("RecurseFolders", options.recurseFolders);
  std::string extension;
  if (settings.readString("OutExt", extension, kMaxStoredExtensionLength)) {
    options.outputExtension = normalizeOutputExtension(extension);
  }
  outputExtensionField_->setText(toQString(options.outputExtension));
  state_.sourceDirPicker.restorePath(settings, "InReq");
  state_.outputDirPicker.restorePath(settings, "OutReq");
  state_.includeDirPicker.restorePath(settings, "IncReq");
  state_.sourceFilePicker.restorePath(settings, "FileReq");
  settings.endBatch();
}

void MainDialog::writeSettings() {
  SettingsStore& settings = state_.settings;
  const WindowOptions& options = state_.options;
  settings.beginBatch();  // one write of the file for every value
  settings.saveWindowPlacement(this, kWindowPrefix, false, false);
  settings.writeInt("UseOutDir", options.useOutputDir);
  settings.writeInt("RecurseFolders", options.recurseFolders);
  state_.sourceDirPicker.savePath(settings, "InReq");
  state_.outputDirPicker.savePath(settings, "OutReq");
  state_.includeDirPicker.savePath(settings, "IncReq");
  state_.sourceFilePicker.savePath(settings, "FileReq");
  settings.writeString("OutExt", options.outputExtension);
  settings.endBatch();
}

void MainDialog::addFilters() {
  const std::string& source = state_.options.sourceExtension;
  const std::string& include = state_.options.includeExtension;
  const std::string sourceDescription = "Text Source Files (*" + source + ")";
  const std::string sourcePattern = "*" + source;
  state_.sourceDirPicker.addFilter(sourceDescription, sourcePattern);
  state_.outputDirPicker.addFilter("HTML Files (*.html;*.htm)", "*.html;*.htm");
  state_.outputDirPicker.addFilter("ASP Files (*.asp)", "*.asp");
  state_.outputDirPicker.addFilter("TEXT Files (*.txt)", "*.txt");
  const std::string headerDescription = "Text Header Files (*" + include + ";*" + source + ")";
  const std::string headerPattern = "*" + source + ";*" + include;
  state_.includeDirPicker.addFilter(headerDescription, headerPattern);
  state_.sourceFilePicker.addFilter(sourceDescription, sourcePattern);
}

void MainDialog::showOptions() {
  const WindowOptions& options = state_.options;
  recurseBox_->setChecked(options.recurseFolders != 0);
  useOutputDirBox_->setChecked(options.useOutputDir != 0);
  showText(sourceDirField_, options.sourceDirectory);
  showText(outputDirField_, options.outputDirectory);
  showText(includeDirField_, options.includeDirectory);
  outputDirField_->setEnabled(options.useOutputDir != 0);
}

void MainDialog::setStatus(std::string_view text) {
  showText(statusField_, text);
  statusField_->repaint();
}

void MainDialog::setProgress(int percent) {
  progressBar_->setValue(percent);
  progressBar_->repaint();
}

void MainDialog::showNote(std::string_view text) {
  messageBox_.show(this, text, kProgramCaption, MessageButtons::kOk);
}

MessageAnswer MainDialog::showFailure(const CompileResult& failure, MessageButtons buttons) {
  return messageBox_.show(this, failureText(failure), failureCaption(failure), buttons);
}

std::optional<PickedFile> MainDialog::chooseSourceFile() {
  FilePicker& picker = state_.sourceFilePicker;
  if (!picker.chooseFile()) return std::nullopt;
  return PickedFile{picker.path(), picker.name()};
}

void MainDialog::compileAll() { batchRun_.compileAll(state_.options.batchOptions()); }

void MainDialog::compileSingle() { batchRun_.compileSingle(state_.options.batchOptions()); }

void MainDialog::openHelp() {
  const std::string manual = findManual(manualPlaces());
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(toQString(manual)))) {
    showNote(std::string(kNoBrowserMessage) + manual);
  }
}

void MainDialog::pickDirectory(FilePicker& picker, const std::string& hint, QLineEdit* field) {
  picker.setName(hint);
  picker.chooseDirectory();
  showText(field, picker.path());
}

void MainDialog::pickSourceDirectory() {
  pickDirectory(state_.sourceDirPicker,
                "(all " + state_.options.sourceExtension + " files in directory)", sourceDirField_);
}

void MainDialog::pickOutputDirectory() {
  pickDirectory(state_.outputDirPicker,
                "(directory for output " + state_.options.outputExtension + " files)",
                outputDirField_);
}

void MainDialog::pickIncludeDirectory() {
  pickDirectory(state_.includeDirPicker, "(directory for header include files)", includeDirField_);
}

void MainDialog::setUseOutputDir(bool on) {
  state_.options.useOutputDir = on ? 1 : 0;
  outputDirField_->setEnabled(on);
}

void MainDialog::setRecurseFolders(bool on) { state_.options.recurseFolders = on ? 1 : 0; }

void MainDialog::showAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainDialog::editOutputExtension(const QString& text) {
  state_.options.outputExtension = normalizeOutputExtension(extensionBytes(text));
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == outputExtensionField_ && event->type() == QEvent::FocusOut) {
    outputExtensionField_->setText(toQString(state_.options.outputExtension));
  }
  return QDialog::eventFilter(watched, event);
}

void MainDialog::closeEvent(QCloseEvent* event) {
  writeSettings();
  event->accept();
  done(0);
}

}  // namespace qf
