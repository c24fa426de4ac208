#include "engine/include_cache.h"

#include <cerrno>

#include "base/file_stream.h"

namespace qf {

namespace {

constexpr std::size_t kLargestKeptFile = std::size_t{1} << 20;
constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;

}  // namespace

IncludeCache::Lookup IncludeCache::load(const std::string& path,
                                        std::shared_ptr<const std::string>& text) {
  const auto status = statusOf(path);
  if (!status) return meansMissing(errno) ? Lookup::kMissing : Lookup::kUnreadable;
  if (!status->regular) return Lookup::kMissing;
  const auto kept = entries_.find(path);
  // A text read in the clock tick of the file's last change may be older than
  // a second change with the same size and times; it is read again.
  if (kept != entries_.end() && kept->second.status == *status &&
      status->changedNs < kept->second.readAtNs) {
    text = kept->second.text;
    return Lookup::kText;
  }
  const long long readAtNs = fileClockNs();
  FileSource source(path);
  if (source.outcome() == OpenResult::kFailed) return Lookup::kUnreadable;
  if (!source.isOpen()) return Lookup::kMissing;
  if (static_cast<std::size_t>(source.status().size) > kLargestKeptFile) return Lookup::kUncached;
  auto contents = std::make_shared<std::string>();
  contents->reserve(static_cast<std::size_t>(source.status().size));
  if (!readRest(source, *contents)) return Lookup::kUncached;
  if (kept != entries_.end()) {
    bytes_ -= kept->second.text->size();
    entries_.erase(kept);
  }
  if (bytes_ + contents->size() > kMostKeptBytes) clear();
  bytes_ += contents->size();
  entries_[path] = Entry{source.status(), contents, readAtNs};
  text = std::move(contents);
  return Lookup::kText;
}

}  // namespace qf
