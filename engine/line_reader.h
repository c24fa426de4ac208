#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/byte_stream.h"

namespace qf {

/// The UTF-8 byte-order mark.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

/// Splits a byte source into lines of any length. A line keeps its line end
/// as one '\n' (a CR LF pair reads as one line end; a lone CR is data). A
/// UTF-8 byte-order mark at the very start is not part of the first line.
class LineReader {
 public:
  enum class Status { kLine, kEnd, kError };

  /// The buffer holds up to bufferSize bytes; less when the source says it
  /// is smaller, so that small files cost small buffers.
  explicit LineReader(ByteSource& source, std::size_t bufferSize = std::size_t{1} << 16);

  /// Reads the next line into line (replacing it). kEnd when no byte is left;
  /// kError on a read error.
  Status readLine(std::string& line);

  /// True when the source began with a byte-order mark.
  bool hadByteOrderMark() const { return hadByteOrderMark_; }

 private:
  bool refill();
  void skipByteOrderMark();

  ByteSource& source_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
  bool started_ = false;
  bool hadByteOrderMark_ = false;
};

}  // namespace qf
