#include "engine/line_reader.h"

#include <algorithm>
#include <cstring>

namespace qf {

namespace {

std::size_t bufferSizeFor(const ByteSource& source, std::size_t most) {
  // One byte more than expected lets the reader see the end in the same
  // read; a floor keeps room for the byte-order mark and a file that grew.
  const std::size_t wanted = std::max<std::size_t>(source.sizeHint() + 1, 256);
  return std::min(wanted, most);
}

}  // namespace

LineReader::LineReader(ByteSource& source, std::size_t bufferSize)
    : source_(source),
      held_(source.heldText()),
      heldText_(held_.value_or(std::string_view())),
      capacity_(held_ ? 0 : bufferSizeFor(source, bufferSize)),
      buffer_(held_ ? nullptr : new char[capacity_]) {}

// Moves what is left to the front and reads more behind it. False at the end
// of the source or on an error.
bool LineReader::refill() {
  if (atEnd_ || failed_) return false;
  std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  const long n = source_.read(buffer_.get() + end_, capacity_ - end_);
  if (n < 0) {
    failed_ = true;
    return false;
  }
  if (n == 0) {
    atEnd_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(n);
  return true;
}

void LineReader::skipByteOrderMark() {
  started_ = true;
  while (end_ - begin_ < 3 && refill()) {
  }
  if (end_ - begin_ >= 3 && std::memcmp(buffer_.get() + begin_, kByteOrderMark.data(), 3) == 0) {
    begin_ += 3;
    hadByteOrderMark_ = true;
  }
}

// A line is handed out where it lies in the buffer; a CR before its line
// end is overwritten there, since the buffer is the reader's own.
LineReader::Status LineReader::readLine(std::string_view& line) {
  if (held_) return readHeldLine(line);
  if (!started_) skipByteOrderMark();
  std::size_t searched = 0;  // bytes from begin_ on that hold no line end
  for (;;) {
    char* start = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    if (const void* newline = std::memchr(start + searched, '\n', available - searched)) {
      std::size_t length = static_cast<const char*>(newline) - start + 1;
      begin_ += length;
      if (length >= 2 && start[length - 2] == '\r') start[--length - 1] = '\n';
      line = std::string_view(start, length);
      return Status::kLine;
    }
    searched = available;
    if (available == capacity_) return readLongLine(line);
    if (!refill()) {
      if (failed_) return Status::kError;
      if (available == 0) return Status::kEnd;
      // refill() has moved the unread bytes to the front of the buffer.
      spill_.assign(buffer_.get() + begin_, available);
      spill_ += '\n';
      begin_ = end_;
      line = spill_;
      return Status::kLine;
    }
  }
}

// The buffer is full and holds no line end: the line is gathered in spill_.
LineReader::Status LineReader::readLongLine(std::string_view& line) {
  spill_.clear();
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    if (const void* newline = std::memchr(start, '\n', available)) {
      const std::size_t length = static_cast<const char*>(newline) - start;
      spill_.append(start, length);
      begin_ += length + 1;
      if (!spill_.empty() && spill_.back() == '\r') spill_.pop_back();
      break;
    }
    spill_.append(start, available);
    begin_ = end_;
    if (!refill()) {
      if (failed_) return Status::kError;
      break;
    }
  }
  spill_ += '\n';
  line = spill_;
  return Status::kLine;
}

// A held text's lines are handed out where they lie; one that needs a change
// (its CR LF, or a missing line end) is made in spill_.
LineReader::Status LineReader::readHeldLine(std::string_view& line) {
  std::string_view& rest = *held_;
  if (!started_) {
    started_ = true;
    if (rest.starts_with(kByteOrderMark)) {
      rest.remove_prefix(kByteOrderMark.size());
      hadByteOrderMark_ = true;
    }
  }
  if (rest.empty()) return Status::kEnd;
  const std::size_t newline = rest.find('\n');
  if (newline == std::string_view::npos) {
    spill_.assign(rest);
    spill_ += '\n';
    rest = {};
    line = spill_;
    return Status::kLine;
  }
  line = rest.substr(0, newline + 1);
  rest.remove_prefix(newline + 1);
  if (line.size() >= 2 && line[line.size() - 2] == '\r') {
    spill_.assign(line.substr(0, line.size() - 2));
    spill_ += '\n';
    line = spill_;
  }
  return Status::kLine;
}

}  // namespace qf
