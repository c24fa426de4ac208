#include "engine/line_reader.h"

#include <algorithm>
#include <cstring>

namespace qf {

namespace {


}  // namespace

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
      capacity_(bufferSizeFor(source, bufferSize)),
      buffer_(new char[capacity_]) {}

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

LineReader::Status LineReader::readLine(std::string& line) {
  if (!started_) skipByteOrderMark();
  line.clear();
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    const void* newline = std::memchr(start, '\n', available);
    if (newline) {
      const std::size_t length = static_cast<const char*>(newline) - start;
      line.append(start, length);
      begin_ += length + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      line += '\n';
      return Status::kLine;
    }
    line.append(start, available);
    begin_ = end_;
    if (!refill()) {
      if (failed_) return Status::kError;
      return line.empty() ? Status::kEnd : Status::kLine;
    }
  }
}

}  // namespace qf
