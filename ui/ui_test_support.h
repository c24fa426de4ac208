#pragma once

#include <QApplication>
#include <QtTest>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/test_util.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

namespace qf {

/// A file dialog that records each request and gives the scripted answers in
/// turn: a chosen path, or none for a cancel. Without a script it cancels.
class ScriptedFileDialog : public FileDialog {
 public:
  /// Queues one answer; filterIndex 0 leaves the request's index as it was.
  void setNextAnswer(std::optional<std::string> chosenPath, int filterIndex = 0);
  bool run(FileDialogRequest& request) override;

  std::vector<FileDialogRequest> requests;

 private:
  struct Answer {
    std::optional<std::string> chosenPath;
    int filterIndex;
  };
  std::deque<Answer> answers_;
};

/// What a scripted message box was shown.
struct ShownMessage {
  std::string text;
  std::string caption;
  MessageButtons buttons;
};

/// A message box that records each message and gives the scripted answers in
/// turn; without a script it answers OK or Abort. An action queued with an
/// answer runs while the box is "open" (to change files before a Retry).
class ScriptedMessageBox : public MessageBox {
 public:
  void setNextAnswer(MessageAnswer answer, std::function<void()> whileOpen = {});
  MessageAnswer show(QWidget* parent, std::string_view text, std::string_view caption,
                     MessageButtons buttons) override;

  std::vector<ShownMessage> shown;

 private:
  std::deque<std::pair<MessageAnswer, std::function<void()>>> answers_;
};

}  // namespace qf

// The main() of a Qt Test executable: the offscreen platform, and the settings
// in a fresh temporary directory, never the user's own.
#define QF_UI_TEST_MAIN(TestClass)                         \
  int main(int argc, char** argv) {                        \
    qf::TempDir configHome;                                \
    qputenv("XDG_CONFIG_HOME", configHome.path().c_str()); \
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {   \
      qputenv("QT_QPA_PLATFORM", "offscreen");             \
    }                                                      \
    QApplication application(argc, argv);                  \
    TestClass test;                                        \
    return QTest::qExec(&test, argc, argv);                \
  }
