#include "engine/include_cache.h"

#include <cerrno>

#include "base/file_stream.h"

namespace qf {

namespace {

constexpr std::size_t kLargestKeptFile = std::size_t{1} << 20;
constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;

// A text read in the clock tick of the file's last change may be older than
// a second change with the same size and times.
bool settledBefore(const FileStatus& status, long long readAtNs) {
  return status.changedNs < readAtNs;
}

}  // namespace

IncludeCache::Lookup IncludeCache::load(const std::string& path,
                                        std::shared_ptr<const std::string>& text,
                                        FileStatus& status) {
  if (lookOnce_) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto kept = entries_.find(path);
    if (kept != entries_.end()) {
      if (!kept->second.present) return Lookup::kMissing;
      if (kept->second.text && settledBefore(kept->second.status, kept->second.readAtNs)) {
        text = kept->second.text;
        status = kept->second.status;
        return Lookup::kText;
      }
    }
  }
  const auto now = statusOf(path);
  if (!now || !now->regular) {
    if (now || meansMissing(errno)) {
      if (lookOnce_) keep(path, Entry{{}, nullptr, 0, false});
      return Lookup::kMissing;
    }
    return Lookup::kUnreadable;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    const auto kept = entries_.find(path);
    if (kept != entries_.end() && kept->second.text && kept->second.status == *now &&
        settledBefore(*now, kept->second.readAtNs)) {
      text = kept->second.text;
      status = *now;
      return Lookup::kText;
    }
  }
  const long long readAtNs = fileClockNs();
  FileSource source(path);
  if (source.outcome() == OpenResult::kFailed) return Lookup::kUnreadable;
  if (!source.isOpen()) {
    if (lookOnce_) keep(path, Entry{{}, nullptr, 0, false});
    return Lookup::kMissing;
  }
  status = source.status();
  if (static_cast<std::size_t>(source.status().size) > kLargestKeptFile) return Lookup::kUncached;
  auto contents = std::make_shared<std::string>();
  contents->reserve(static_cast<std::size_t>(source.status().size));
  if (!readRest(source, *contents)) return Lookup::kUncached;
  text = contents;
  keep(path, Entry{source.status(), std::move(contents), readAtNs});
  return Lookup::kText;
}

OpenResult IncludeCache::probe(const std::string& path) {
  if (lookOnce_) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto kept = entries_.find(path);
    if (kept != entries_.end()) {
      return kept->second.present ? OpenResult::kOpened : OpenResult::kMissing;
    }
  }
  const OpenResult probed = probeFile(path);
  if (lookOnce_ && probed != OpenResult::kFailed) {
    keep(path, Entry{{}, nullptr, 0, probed == OpenResult::kOpened});
  }
  return probed;
}

void IncludeCache::keep(const std::string& path, Entry entry) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto kept = entries_.find(path);
  if (kept != entries_.end()) {
    if (kept->second.text) bytes_ -= kept->second.text->size();
    entries_.erase(kept);
  }
  const std::size_t size = entry.text ? entry.text->size() : 0;
  if (bytes_ + size > kMostKeptBytes) {
    entries_.clear();
    bytes_ = 0;
  }
  bytes_ += size;
  entries_.emplace(path, std::move(entry));
}

}  // namespace qf
