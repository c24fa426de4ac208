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

Text substring(const Text& source, long long pos, long long n) {
  const auto len = static_cast<long long>(source.length());
  if (n == 0 || len == 0 || pos < 0 || pos >= len) return Text();
  const long long count = n > 0 ? std::min(n, len - pos) : len - pos;
  return Text(source.view().substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(count)));
}

Text left(const Text& source, long long n) { return substring(source, 0, n); }

}  // namespace qf
