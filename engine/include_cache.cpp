#include "engine/include_cache.h"

#include "base/file_stream.h"

namespace qf {

namespace {

constexpr std::size_t kLargestKeptFile = std::size_t{1} << 20;
constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;

// Reads the whole source; false on a read error.
bool readAll(FileSource& source, std::string& text) {
  char buffer[1 << 14];
  for (;;) {
    const long n = source.read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

IncludeCache::Outcome IncludeCache::load(const std::string& path,
                                         std::shared_ptr<const std::string>& text) {
  const auto status = statusOf(path);
  if (!status || !status->regular) return Outcome::kMissing;
  const auto kept = entries_.find(path);
  // A text read in the clock tick of the file's last change may be older than
  // a second change with the same size and times; it is read again.
  if (kept != entries_.end() && kept->second.status == *status &&
      status->changedNs < kept->second.readAtNs) {
    text = kept->second.text;
    return Outcome::kText;
  }
  const long long readAtNs = fileClockNs();
  FileSource source(path);
  if (!source.isOpen()) return Outcome::kMissing;
  if (static_cast<std::size_t>(source.status().size) > kLargestKeptFile) return Outcome::kUncached;
  auto contents = std::make_shared<std::string>();
  contents->reserve(static_cast<std::size_t>(source.status().size));
  if (!readAll(source, *contents)) return Outcome::kUncached;
  if (kept != entries_.end()) {
    bytes_ -= kept->second.text->size();
    entries_.erase(kept);
  }
  if (bytes_ + contents->size() > kMostKeptBytes) clear();
  bytes_ += contents->size();
  entries_[path] = Entry{source.status(), contents, readAtNs};
  text = std::move(contents);
  return Outcome::kText;
}

long TextSource::read(char* buffer, std::size_t size) {
  const std::size_t n = text_->copy(buffer, size, position_);
  position_ += n;
  return static_cast<long>(n);
}

}  // namespace qf
