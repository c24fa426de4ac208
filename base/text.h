#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

/// The system's string value: an owned byte string of any length. It may hold
/// any byte, NUL included; its length, not a terminator, says where it ends.
/// Copies are deep. A null C string counts as empty wherever one is taken.
class Text {
 public:
  Text() = default;
  Text(const char* s) : bytes_(s ? s : "") {}    // NOLINT(runtime/explicit)
  Text(std::string_view s) : bytes_(s) {}        // NOLINT(runtime/explicit)
  Text(std::string s) : bytes_(std::move(s)) {}  // NOLINT(runtime/explicit)

  /// The characters followed by a NUL (further NULs may stand inside).
  const char* chars() const { return bytes_.c_str(); }
  std::size_t length() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::string_view view() const { return bytes_; }
  const std::string& str() const { return bytes_; }
  operator std::string_view() const { return bytes_; }  // NOLINT(runtime/explicit)

  /// Replaces the characters; a null s changes nothing.
  void assign(const char* s);
  void assign(std::string_view s) { bytes_.assign(s); }
  /// Appends s; a null s changes nothing.
  void append(const char* s);
  void append(std::string_view s) { bytes_.append(s); }

  /// True when s has the same length and the same bytes (case-sensitive);
  /// false for a null s.
  bool equals(const char* s) const;
  bool equals(std::string_view s) const { return bytes_ == s; }

  friend bool operator==(const Text& a, const Text& b) { return a.bytes_ == b.bytes_; }

 private:
  std::string bytes_;
};

Text operator+(const Text& a, const Text& b);
Text operator+(const Text& a, std::string_view b);
Text operator+(std::string_view a, const Text& b);
Text operator+(const Text& a, const char* b);
Text operator+(const char* a, const Text& b);

/// The value in decimal, with a minus sign when negative.
Text fromInt(long long value);

/// text with every "%XX" escape (two hex digits, either case) replaced by its
/// byte; nullopt when a '%' starts no such escape.
std::optional<std::string> percentDecoded(std::string_view text);

}  // namespace qf
