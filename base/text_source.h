#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/byte_stream.h"

namespace qf {

/// Reads a text held in memory as a byte source; the text is shared, not copied.
class TextSource : public ByteSource {
 public:
  explicit TextSource(std::shared_ptr<const std::string> text) : text_(std::move(text)) {}
  long read(char* buffer, std::size_t size) override;
  std::size_t sizeHint() const override { return text_->size(); }
  std::optional<std::string_view> heldText() const override {
    return std::string_view(*text_).substr(position_);
  }

 private:
  std::shared_ptr<const std::string> text_;
  std::size_t position_ = 0;
};

}  // namespace qf
