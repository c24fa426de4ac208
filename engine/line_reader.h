#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_stream.h"

namespace qf {

/// The UTF-8 byte-order mark.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

/// The most a LineReader holds unless told otherwise.
inline constexpr std::size_t kLineBufferSize = std::size_t{1} << 16;

/// Splits a byte source into lines of any length. Every line ends with one
/// '\n': a CR LF pair reads as one line end (a lone CR is data), and a last
/// line without a line end gets one. A UTF-8 byte-order mark at the very
/// start is not part of the first line. A source that holds its text in
/// memory is read where it lies, without a buffer.
class LineReader {
 public:
  enum class Status { kLine, kEnd, kError };

  /// The buffer holds up to bufferSize bytes; less when the source says it
  /// is smaller, so that small files cost small buffers.
  explicit LineReader(ByteSource& source, std::size_t bufferSize = kLineBufferSize);

  /// Reads the next line and points line at it: mostly into the reader's
  /// buffer, so a line is not copied. line stays valid until the next call.
  /// kEnd when no byte is left; kError on a read error.
  Status readLine(std::string_view& line);

  /// True when the source began with a byte-order mark.
  bool hadByteOrderMark() const { return hadByteOrderMark_; }

  /// For a source that holds its text in memory: how many of its bytes the
  /// lines read so far took (a byte-order mark included).
  std::size_t heldOffset() const { return held_ ? heldText_.size() - held_->size() : 0; }
  /// For such a source: reads on from offset, as heldOffset() gave it after
  /// some line of an earlier reading of the same text.
  void skipHeldTo(std::size_t offset) {
    if (held_ && offset <= heldText_.size()) held_ = heldText_.substr(offset);
  }

 private:
  bool refill();
  void skipByteOrderMark();
  Status readLongLine(std::string_view& line);
  Status readHeldLine(std::string_view& line);

  ByteSource& source_;
  std::optional<std::string_view> held_;  // what is left of a text held in memory
  std::string_view heldText_;             // all of it
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::string spill_;  // a line longer than the buffer, or the last one without a line end
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
  bool started_ = false;
  bool hadByteOrderMark_ = false;
};

}  // namespace qf
