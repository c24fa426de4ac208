// Times a batch run started from the real main dialog, as a user starts it:
// the dialog on the offscreen platform, button 1000 clicked, the status line
// and the bar repainted for every file.
//
//   dialog_bench SITE_DIR INCLUDE_DIR OUT_DIR
//
// Prints the seconds the click took and the status line it left.

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <string>

#include "base/path.h"
#include "ui/application_state.h"
#include "ui/file_dialog.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"

namespace {

// Answers every failure with Ignore and counts them: a benchmark has nobody
// to click.
class CountingMessageBox : public qf::MessageBox {
 public:
  qf::MessageAnswer show(QWidget*, std::string_view, std::string_view,
                         qf::MessageButtons buttons) override {
    ++shown;
    return buttons == qf::MessageButtons::kOk ? qf::MessageAnswer::kOk : qf::MessageAnswer::kIgnore;
  }
  int shown = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: dialog_bench SITE_DIR INCLUDE_DIR OUT_DIR\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir settings;  // never the user's own settings
  qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  qf::QtFileDialog fileDialog;
  qf::ApplicationState state(fileDialog);
  CountingMessageBox messageBox;
  qf::MainDialog dialog(state, messageBox);
  dialog.show();
  state.options.sourceDirectory = qf::withTrailingSlash(argv[1]);
  state.options.includeDirectory = qf::withTrailingSlash(argv[2]);
  state.options.outputDirectory = qf::withTrailingSlash(argv[3]);
  state.options.useOutputDir = 1;
  state.options.recurseFolders = 1;

  auto* compileAll = dialog.findChild<QPushButton*>("id1000");
  const auto start = std::chrono::steady_clock::now();
  compileAll->click();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const QString status = dialog.findChild<QLineEdit*>("id1015")->text();
  std::printf("%.3f s, %d failure(s), status \"%s\"\n", took.count(), messageBox.shown,
              status.toUtf8().constData());
  return messageBox.shown == 0 ? 0 : 1;
}
