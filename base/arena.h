#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace qf {

/// Memory for many small objects that are all given up at once. Nothing
/// placed here is destroyed, so it holds only trivially destructible objects
/// and bytes. Memory stays valid until reset() or the arena's destruction.
class Arena {
 public:
  explicit Arena(std::size_t blockSize = std::size_t{64} * 1024);
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  /// size bytes, aligned for any object type (alignof(std::max_align_t)).
  /// Throws std::bad_alloc when memory runs out.
  void* allocate(std::size_t size);
  /// Takes back memory when it is the latest allocation (memory, size as
  /// allocate gave and was asked); otherwise changes nothing.
  void releaseLatest(void* memory, std::size_t size);
  /// Gives up everything allocated; keeps one block for what follows.
  void reset();
  /// Bytes held in blocks, used or not.
  std::size_t capacity() const { return capacity_; }

 private:
  void* allocateBlock(std::size_t size);

  std::size_t blockSize_;
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t size;
  };
  std::vector<Block> blocks_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::size_t capacity_ = 0;
};

}  // namespace qf
