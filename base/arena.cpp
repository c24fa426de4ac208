#include "base/arena.h"

#include <utility>

namespace qf {

namespace {

constexpr std::size_t kAlignment = alignof(std::max_align_t);
static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= kAlignment, "new char[] must align blocks");

std::size_t roundUp(std::size_t size) { return (size + kAlignment - 1) & ~(kAlignment - 1); }

}  // namespace

Arena::Arena(std::size_t blockSize) : blockSize_(roundUp(blockSize)) {}

void* Arena::allocate(std::size_t size) {
  size = roundUp(size == 0 ? 1 : size);
  if (size <= static_cast<std::size_t>(end_ - next_)) {
    void* memory = next_;
    next_ += size;
    return memory;
  }
  // A large object gets a block of its own; the current block stays in use.
  if (size > blockSize_ / 4) return allocateBlock(size);
  char* block = static_cast<char*>(allocateBlock(blockSize_));
  next_ = block + size;
  end_ = block + blockSize_;
  return block;
}

void Arena::releaseLatest(void* memory, std::size_t size) {
  char* start = static_cast<char*>(memory);
  if (start + roundUp(size == 0 ? 1 : size) == next_) next_ = start;
}

void* Arena::allocateBlock(std::size_t size) {
  std::unique_ptr<char[]> bytes(new char[size]);
  blocks_.push_back({std::move(bytes), size});
  capacity_ += size;
  return blocks_.back().bytes.get();
}

void Arena::reset() {
  // Keep the first block that has the standard size; free the rest.
  std::size_t keep = 0;
  while (keep < blocks_.size() && blocks_[keep].size != blockSize_) ++keep;
  if (keep == blocks_.size()) {
    blocks_.clear();
    next_ = end_ = nullptr;
    capacity_ = 0;
    return;
  }
  std::swap(blocks_[0], blocks_[keep]);
  blocks_.resize(1);
  next_ = blocks_[0].bytes.get();
  end_ = next_ + blockSize_;
  capacity_ = blockSize_;
}

}  // namespace qf
