#pragma once

#include <string>
#include <string_view>

#include "base/version.h"
#include "batch/batch_front_end.h"
#include "engine/compile_result.h"

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

/// The caption of the program's own message boxes and main window.
inline constexpr std::string_view kProgramCaption = kProgramNameAndVersion;

/// The caption of a failed compile's box: "<file> line <n>".
std::string failureCaption(const CompileResult& failure);

/// The text of a failed compile's box, as qfc reports it: the include chain,
/// if any, then "<file>:<n>: <message>" (the place again, because some
/// desktops show no caption).
std::string failureText(const CompileResult& failure);

}  // namespace qf
