#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/compile_result.h"

namespace qf {

/// The buttons a message box offers.
enum class MessageButtons { kOk, kAbortRetryIgnore };

/// The button the user chose.
enum class MessageAnswer { kOk, kAbort, kRetry, kIgnore };

/// A source file the user picked: its full path and its file name.
struct PickedFile {
  std::string path;
  std::string name;
};

/// What a batch run needs from the program that shows it: a status line, a
/// progress bar (0 to 100), modal message boxes and the single-file picker.
/// The boxes' captions and texts are the program's own.
class BatchFrontEnd {
 public:
  virtual ~BatchFrontEnd() = default;

  /// Sets the status line and shows it at once.
  virtual void setStatus(std::string_view text) = 0;
  /// Moves the progress bar to percent (0 to 100).
  virtual void setProgress(int percent) = 0;
  /// Shows text in a modal box with an OK button.
  virtual void showNote(std::string_view text) = 0;
  /// Shows a failed compile in a modal box and returns the answer.
  virtual MessageAnswer showFailure(const CompileResult& failure, MessageButtons buttons) = 0;
  /// Lets the user pick one source file; nullopt when the user cancels.
  virtual std::optional<PickedFile> chooseSourceFile() = 0;
};

}  // namespace qf
