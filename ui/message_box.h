#pragma once

#include <string>
#include <string_view>

#include "batch/batch_front_end.h"

class QWidget;

namespace qf {

/// A modal message box, behind an interface so that tests can answer it.
class MessageBox {
 public:
  virtual ~MessageBox() = default;
  /// Shows text with caption and buttons, owned by parent; returns the answer.
  virtual MessageAnswer show(QWidget* parent, std::string_view text, std::string_view caption,
                             MessageButtons buttons) = 0;
};

/// The real box: a QMessageBox.
class QtMessageBox : public MessageBox {
 public:
  MessageAnswer show(QWidget* parent, std::string_view text, std::string_view caption,
                     MessageButtons buttons) override;
};

/// The text a box shows: when the caption names a failure's place as
/// "<file> line <n>", the text also names "<file>, line <n>" below the
/// message, because some desktops show no caption.
std::string messageBoxText(std::string_view text, std::string_view caption);

}  // namespace qf
