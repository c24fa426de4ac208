#include "batch/file_list_codec.h"

#include <cstdint>

namespace qf {

namespace {

// Seven bits a byte, low bits first; the top bit says more follow.
void putNumber(std::string& bytes, std::uint64_t value) {
  while (value >= 0x80) {
    bytes.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  bytes.push_back(static_cast<char>(value));
}

// Signed values small in size either side of zero stay short.
std::uint64_t zigzag(std::uint64_t value) { return (value << 1) ^ (0 - (value >> 63)); }
std::uint64_t unzigzag(std::uint64_t value) { return (value >> 1) ^ (0 - (value & 1)); }

class NumberReader {
 public:
  explicit NumberReader(std::string_view bytes) : bytes_(bytes) {}
  bool atEnd() const { return at_ == bytes_.size(); }
  std::optional<std::uint64_t> next() {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64 && at_ < bytes_.size(); shift += 7) {
      const auto byte = static_cast<unsigned char>(bytes_[at_++]);
      value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
      if (!(byte & 0x80)) return value;
    }
    return std::nullopt;
  }
  std::optional<long long> nextSigned() {
    const auto value = next();
    if (!value) return std::nullopt;
    return static_cast<long long>(unzigzag(*value));
  }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

// How many files the bytes hold, so that decoding allocates once; a fault
// ends the count (decoding then finds it).
std::size_t countFiles(std::string_view bytes) {
  constexpr int kStatusNumbers = 5;
  NumberReader reader(bytes);
  std::size_t count = 0;
  while (!reader.atEnd()) {
    const auto kind = reader.next();
    if (!kind || *kind > static_cast<std::uint64_t>(DependencyKind::kMissing) || !reader.next()) {
      break;
    }
    ++count;
    if (!hasStatus(static_cast<DependencyKind>(*kind))) continue;
    for (int i = 0; i < kStatusNumbers; ++i) reader.next();
  }
  return count;
}

}  // namespace

std::optional<std::string> encodeFileList(const std::vector<Dependency>& files,
                                          const PathNumberOf& numberOf) {
  std::string bytes;
  bytes.reserve(files.size() * 24);
  for (const Dependency& file : files) {
    const std::optional<long long> number = numberOf(file.path);
    if (!number) return std::nullopt;
    putNumber(bytes, static_cast<std::uint64_t>(file.kind));
    putNumber(bytes, static_cast<std::uint64_t>(*number));
    if (!hasStatus(file.kind)) continue;
    const FileStatus& status = file.status;
    const auto modified = static_cast<std::uint64_t>(status.modifiedNs);
    putNumber(bytes, static_cast<std::uint64_t>(status.identity.device));
    putNumber(bytes, static_cast<std::uint64_t>(status.identity.inode));
    putNumber(bytes, zigzag(static_cast<std::uint64_t>(status.size)));
    putNumber(bytes, zigzag(modified));
    // The change time is most often the modification time.
    putNumber(bytes, zigzag(static_cast<std::uint64_t>(status.changedNs) - modified));
  }
  return bytes;
}

bool decodeFileList(std::string_view bytes, const PathOfNumber& pathOf,
                    std::vector<Dependency>& files) {
  files.reserve(files.size() + countFiles(bytes));
  NumberReader reader(bytes);
  while (!reader.atEnd()) {
    const auto kind = reader.next();
    const auto number = reader.next();
    if (!kind || *kind > static_cast<std::uint64_t>(DependencyKind::kMissing) || !number) {
      return false;
    }
    const SharedPath* path = pathOf(static_cast<long long>(*number));
    if (!path) return false;
    Dependency& file = files.emplace_back();
    file.kind = static_cast<DependencyKind>(*kind);
    file.path = *path;
    if (!hasStatus(file.kind)) continue;
    const auto device = reader.next();
    const auto inode = reader.next();
    const auto size = reader.nextSigned();
    const auto modified = reader.nextSigned();
    const auto changedAfter = reader.nextSigned();
    if (!device || !inode || !size || !modified || !changedAfter) return false;
    FileStatus& status = file.status;
    status.identity.device = static_cast<dev_t>(*device);
    status.identity.inode = static_cast<ino_t>(*inode);
    status.regular = true;
    status.size = *size;
    status.modifiedNs = *modified;
    status.changedNs = static_cast<long long>(static_cast<std::uint64_t>(*modified) +
                                              static_cast<std::uint64_t>(*changedAfter));
  }
  return true;
}

}  // namespace qf
