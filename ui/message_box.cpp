#include "ui/message_box.h"

#include <QMessageBox>

#include "ui/qt_text.h"

namespace qf {

std::string failureCaption(const CompileResult& failure) {
  return failure.errorFileName + " line " + std::to_string(failure.errorLine);
}

std::string failureText(const CompileResult& failure) {
  std::string text = formatFailure(failure);
  text.pop_back();  // the box needs no line end
  return text;
}

MessageAnswer QtMessageBox::show(QWidget* parent, std::string_view text, std::string_view caption,
                                 MessageButtons buttons) {
  QMessageBox box(parent);
  box.setWindowTitle(toQString(caption));
  box.setText(toQString(text));
  if (buttons == MessageButtons::kOk) {
    box.setIcon(QMessageBox::Information);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageAnswer::kOk;
  }
  box.setIcon(QMessageBox::Warning);
  box.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
  box.setDefaultButton(QMessageBox::Abort);
  switch (box.exec()) {
    case QMessageBox::Abort:
      return MessageAnswer::kAbort;
    case QMessageBox::Ignore:
      return MessageAnswer::kIgnore;
    default:
      return MessageAnswer::kRetry;
  }
}

}  // namespace qf
