#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace qf {

/// Where bytes are read from: a file, or in tests a prepared or failing source.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  /// Reads up to size bytes into buffer. Returns the number read, 0 at the
  /// end, or -1 on a read error.
  virtual long read(char* buffer, std::size_t size) = 0;
  /// How many bytes the source expects to give, when it knows; 0 otherwise.
  virtual std::size_t sizeHint() const { return 0; }
  /// Every byte still to be read, when the source holds them in memory that
  /// stays put while it lives; nullopt otherwise. Reading on from here is
  /// left to the caller.
  virtual std::optional<std::string_view> heldText() const { return std::nullopt; }
};

/// Where output bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  /// Writes all of bytes; false on a write error.
  virtual bool write(std::string_view bytes) = 0;
  /// Pushes buffered bytes out; false on a write error.
  virtual bool flush() = 0;
};

}  // namespace qf
