#include "base/text_source.h"

namespace qf {

long TextSource::read(char* buffer, std::size_t size) {
  const std::size_t n = text_->copy(buffer, size, position_);
  position_ += n;
  return static_cast<long>(n);
}

}  // namespace qf
