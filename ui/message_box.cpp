#include "ui/message_box.h"

#include <QMessageBox>

#include "ui/qt_text.h"

namespace qf {

std::string messageBoxText(std::string_view text, std::string_view caption) {
  constexpr std::string_view kLine = " line ";
  const std::size_t at = caption.rfind(kLine);
  if (at == std::string_view::npos) return std::string(text);
  std::string_view number = caption.substr(at + kLine.size());
  if (!number.empty() && number.front() == '-') number.remove_prefix(1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::string(text);
  }
  return std::string(text) + "\n\n" + std::string(caption.substr(0, at)) + ", line " +
         std::string(caption.substr(at + kLine.size()));
}

MessageAnswer QtMessageBox::show(QWidget* parent, std::string_view text, std::string_view caption,
                                 MessageButtons buttons) {
  QMessageBox box(parent);
  box.setWindowTitle(toQString(caption));
  box.setText(toQString(messageBoxText(text, caption)));
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
