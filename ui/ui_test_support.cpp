#include "ui/ui_test_support.h"

namespace qf {

void ScriptedFileDialog::setNextAnswer(std::optional<std::string> chosenPath, int filterIndex) {
  answers_.push_back({std::move(chosenPath), filterIndex});
}

bool ScriptedFileDialog::run(FileDialogRequest& request) {
  requests.push_back(request);
  if (answers_.empty()) return false;
  const Answer answer = answers_.front();
  answers_.pop_front();
  if (!answer.chosenPath) return false;
  request.chosenPath = *answer.chosenPath;
  if (answer.filterIndex) request.filterIndex = answer.filterIndex;
  return true;
}

void ScriptedMessageBox::setNextAnswer(MessageAnswer answer, std::function<void()> whileOpen) {
  answers_.emplace_back(answer, std::move(whileOpen));
}

MessageAnswer ScriptedMessageBox::show(QWidget*, std::string_view text, std::string_view caption,
                                       MessageButtons buttons) {
  shown.push_back({std::string(text), std::string(caption), buttons});
  if (answers_.empty()) {
    return buttons == MessageButtons::kOk ? MessageAnswer::kOk : MessageAnswer::kAbort;
  }
  auto [answer, whileOpen] = answers_.front();
  answers_.pop_front();
  if (whileOpen) whileOpen();
  return answer;
}

}  // namespace qf
