#include "ui/settings_store.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QWidget>
#include <cerrno>
#include <optional>

#include "base/file_stream.h"
#include "ui/qt_text.h"
#include "ui/setting_values.h"

namespace qf {

namespace {

// Valid UTF-8 is stored as readable text; other bytes as a byte array, so that
// a path in another encoding comes back unchanged.
QVariant storedValueOf(std::string_view text) {
  const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
  const QString asText = QString::fromUtf8(bytes);
  if (asText.toUtf8() == bytes) return asText;
  return bytes;
}

// The bytes of a stored value; lists and other structured values are refused.
std::optional<std::string> bytesOf(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return value.toString().toUtf8().toStdString();
    case QMetaType::QByteArray:
      return value.toByteArray().toStdString();
    default:
      return std::nullopt;
  }
}

PixelPair primaryScreenSize() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  return {screen->geometry().width(), screen->geometry().height()};
}

std::string nameOf(std::string_view prefix, char letter) {
  std::string name(prefix);
  name += letter;
  return name;
}

// Where the native format keeps the per-user settings of maker's product.
std::string settingsPathOf(const std::string& maker, const std::string& product) {
  const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                       "/" + QString::fromUtf8(maker) + "/" + QString::fromUtf8(product) + ".conf";
  return QFile::encodeName(path).toStdString();
}

// Qt opens the settings file with a blocking open and reads whatever is
// there: a FIFO would hold the program before its window shows. Only a
// regular file, or nothing yet, is handed to it.
bool isUsableSettingsFile(const std::string& path) {
  if (probeFile(path) == OpenResult::kOpened) return true;
  return !statusOf(path) && errno == ENOENT;
}

}  // namespace

SettingsStore::SettingsStore(std::string maker, std::string product)
    : maker_(std::move(maker)), product_(std::move(product)) {}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::open() {
  close();
  if (!isUsableSettingsFile(settingsPathOf(maker_, product_))) return false;
  settings_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                          QString::fromUtf8(maker_), QString::fromUtf8(product_));
  if (settings_->status() == QSettings::AccessError) {
    settings_.reset();
    return false;
  }
  return true;
}

bool SettingsStore::close() {
  holders_ = 0;
  if (!settings_) return false;
  settings_->sync();
  const bool ok = settings_->status() == QSettings::NoError;
  settings_.reset();
  return ok;
}

bool SettingsStore::beginBatch() { return acquire(); }

bool SettingsStore::endBatch() { return release(); }

bool SettingsStore::acquire() {
  if (settings_ && holders_ > 0) {
    ++holders_;
    return true;
  }
  if (!open()) return false;
  holders_ = 1;
  return true;
}

bool SettingsStore::release() {
  if (holders_ > 1) {
    --holders_;
    return settings_->status() == QSettings::NoError;
  }
  return close();
}

bool SettingsStore::writeInt(std::string_view name, std::int32_t value) {
  if (name.empty() || !acquire()) return false;
  settings_->setValue(toQString(name), value);
  return release();
}

bool SettingsStore::readInt(std::string_view name, std::int32_t& destination) {
  if (name.empty() || !acquire()) return false;
  const std::optional<std::string> bytes = bytesOf(settings_->value(toQString(name)));
  const std::optional<std::int32_t> value = bytes ? parseStoredInt(*bytes) : std::nullopt;
  if (!value) {
    release();
    return false;
  }
  destination = *value;
  return release();
}

bool SettingsStore::writeString(std::string_view name, std::string_view text) {
  if (name.empty() || !acquire()) return false;
  settings_->setValue(toQString(name), storedValueOf(text));
  return release();
}

bool SettingsStore::readString(std::string_view name, std::string& text, std::size_t maxLength) {
  if (name.empty() || !acquire()) return false;
  const std::optional<std::string> bytes = bytesOf(settings_->value(toQString(name)));
  std::optional<std::string> value = bytes ? parseStoredString(*bytes, maxLength) : std::nullopt;
  if (!value) {
    release();
    return false;
  }
  text = std::move(*value);
  return release();
}

bool SettingsStore::saveWindowPlacement(QWidget* window, std::string_view prefix, bool withSize,
                                       bool withState) {
  if (!window || !acquire()) return false;
  const QRect frame = window->frameGeometry();
  writeInt(nameOf(prefix, 'X'), frame.left());
  writeInt(nameOf(prefix, 'Y'), frame.top());
  if (withSize) {
    writeInt(nameOf(prefix, 'W'), frame.width());
    writeInt(nameOf(prefix, 'H'), frame.height());
  }
  if (withState) writeInt(nameOf(prefix, 'S'), window->isMaximized() ? 1 : 0);
  release();
  return true;
}

bool SettingsStore::restoreWindowPlacement(QWidget* window, std::string_view prefix, bool withSize,
                                          bool withState) {
  if (!window || !acquire()) return false;
  PixelPair position;
  const bool hasPosition =
      readInt(nameOf(prefix, 'X'), position.x) && readInt(nameOf(prefix, 'Y'), position.y);
  PixelPair size;
  const bool hasSize =
      withSize && readInt(nameOf(prefix, 'W'), size.x) && readInt(nameOf(prefix, 'H'), size.y);
  std::int32_t state = 0;
  const bool hasState = withState && readInt(nameOf(prefix, 'S'), state);

  // Moving a maximised window un-maximises it in Qt; the state stays as it
  // was unless a stored one says otherwise.
  const Qt::WindowStates stateBefore = window->windowState();
  if (hasPosition) {
    const QRect frame = window->frameGeometry();
    if (!hasSize) size = {frame.width(), frame.height()};
    const PixelPair at = clampWindowPosition(position, size, primaryScreenSize());
    if (hasSize) {
      // The stored size is the frame's; resize() takes the inner size.
      const QSize border = frame.size() - window->geometry().size();
      window->resize(size.x - border.width(), size.y - border.height());
    }
    window->move(at.x, at.y);
    window->setWindowState(stateBefore);
  }
  if (withState && (!hasState || state == 0)) {
    window->setWindowState(window->windowState() & ~Qt::WindowMaximized);
  } else if (hasState && state == 1) {
    window->setWindowState(window->windowState() | Qt::WindowMaximized);
  }
  release();
  return hasPosition || hasSize || hasState ? 1 : 0;
}

}  // namespace qf
