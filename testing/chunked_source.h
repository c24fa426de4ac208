#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>

#include "base/byte_stream.h"

namespace qf {

/// Hands out its bytes in reads of at most readSize() bytes each (asked
/// anew for every read), as pipes and slow devices do.
class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(std::string bytes, std::function<std::size_t()> readSize, bool sizeKnown)
      : bytes_(std::move(bytes)), readSize_(std::move(readSize)), sizeKnown_(sizeKnown) {}

  long read(char* buffer, std::size_t size) override {
    const std::size_t n =
        std::min({size, std::max<std::size_t>(readSize_(), 1), bytes_.size() - position_});
    bytes_.copy(buffer, n, position_);
    position_ += n;
    return static_cast<long>(n);
  }
  std::size_t sizeHint() const override { return sizeKnown_ ? bytes_.size() : 0; }

 private:
  std::string bytes_;
  std::function<std::size_t()> readSize_;
  bool sizeKnown_;
  std::size_t position_ = 0;
};

}  // namespace qf
