#pragma once

#include <QString>
#include <string_view>

namespace qf {

/// The UTF-8 bytes of text as Qt's text.
inline QString toQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace qf
