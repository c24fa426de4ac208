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

}  // namespace qf
