#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QSettings;
class QWidget;

namespace qf {

/// The per-user settings of one maker's product, kept in the platform's
/// native settings store. Every operation returns true on success and false
/// on failure, shows nothing, and on failure leaves the caller's value alone.
/// The store is open only inside one operation or one batch. A settings path
/// that is not a regular file (a FIFO, a directory, a device) is never opened:
/// every operation then fails, so the defaults stay and nothing is written.
class SettingsStore {
 public:
  SettingsStore(std::string maker, std::string product);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  /// Opens the store (closing it first when open).
  bool open();
  /// Writes pending changes and closes; false when nothing was open or the write
  /// failed.
  bool close();

  /// Keeps the store open for the operations up to the matching endBatch(),
  /// so that the file is read once and written once. True when it opened.
  bool beginBatch();
  /// Ends a batch; the outermost one writes and closes as close() does.
  bool endBatch();

  /// Stores value under name; an empty name fails.
  bool writeInt(std::string_view name, std::int32_t value);
  /// Reads a decimal 32-bit integer into destination; anything else fails.
  bool readInt(std::string_view name, std::int32_t& destination);
  /// Stores text under name, byte for byte; an empty name fails.
  bool writeString(std::string_view name, std::string_view text);
  /// Reads a text of at most maxLength bytes (cut at its first NUL) into text;
  /// a longer or missing one fails.
  bool readString(std::string_view name, std::string& text, std::size_t maxLength);

  /// Stores the window's frame position as prefix + "X"/"Y", and on request
  /// its frame size ("W"/"H") and whether it is maximised ("S").
  bool saveWindowPlacement(QWidget* window, std::string_view prefix, bool withSize,
                           bool withState);
  /// Moves the window to its stored position clamped to the primary screen
  /// (only when both "X" and "Y" are stored), and on request restores its size
  /// and maximised state. True when anything stored was found.
  bool restoreWindowPlacement(QWidget* window, std::string_view prefix, bool withSize,
                              bool withState);

 private:
  /// Opens unless a batch holds the store open; release() pairs with it.
  bool acquire();
  bool release();

  std::string maker_;
  std::string product_;
  std::unique_ptr<QSettings> settings_;
  int holders_ = 0;
};

}  // namespace qf
