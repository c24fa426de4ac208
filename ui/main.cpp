#include <QApplication>

#include "base/file_stream.h"
#include "ui/application_state.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"

int main(int argc, char* argv[]) {
  // Before anything is opened, so no file can take a closed standard
  // descriptor's number and receive what is written there.
  qf::reserveStandardDescriptors();
  // The command line is ignored, Qt's own options included: only the program
  // name reaches QApplication.
  char programName[] = "quillforge";
  char* arguments[] = {argc > 0 ? argv[0] : programName, nullptr};
  int argumentCount = 1;
  QApplication application(argumentCount, arguments);
  qf::QtFileDialog fileDialog;
  qf::QtMessageBox messageBox;
  qf::ApplicationState state(fileDialog);
  qf::MainDialog dialog(state, messageBox);
  dialog.exec();
  return 0;
}
