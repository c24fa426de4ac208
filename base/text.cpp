#include "base/text.h"

#include <algorithm>

namespace qf {

void Text::assign(const char* s) {
  if (s) bytes_.assign(s);
}

void Text::append(const char* s) {
  if (s) bytes_.append(s);
}

bool Text::equals(const char* s) const { return s && bytes_ == std::string_view(s); }

Text operator+(const Text& a, const Text& b) { return a + b.view(); }

Text operator+(const Text& a, std::string_view b) {
  std::string joined;
  joined.reserve(a.length() + b.size());
  joined.append(a.view()).append(b);
  return Text(std::move(joined));
}

Text operator+(std::string_view a, const Text& b) { return Text(a) + b.view(); }

Text operator+(const Text& a, const char* b) { return a + std::string_view(b ? b : ""); }

Text operator+(const char* a, const Text& b) { return std::string_view(a ? a : "") + b; }

Text fromInt(long long value) { return Text(std::to_string(value)); }

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> percentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return decoded;
}

}  // namespace qf
