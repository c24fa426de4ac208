#include "engine/line_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/text_source.h"
#include "testing/chunked_source.h"
#include "testing/reference_engine.h"

namespace qf {
namespace {

// Hands out its bytes a few at a time, then fails if asked to.
class ScriptedSource : public ByteSource {
 public:
  ScriptedSource(std::string bytes, std::size_t chunk, bool failAtEnd = false)
      : bytes_(std::move(bytes)), chunk_(chunk), failAtEnd_(failAtEnd) {}

  long read(char* buffer, std::size_t size) override {
    if (position_ == bytes_.size()) return failAtEnd_ ? -1 : 0;
    const std::size_t n = std::min({size, chunk_, bytes_.size() - position_});
    bytes_.copy(buffer, n, position_);
    position_ += n;
    return static_cast<long>(n);
  }

 private:
  std::string bytes_;
  std::size_t chunk_;
  bool failAtEnd_;
  std::size_t position_ = 0;
};

std::vector<std::string> readAll(LineReader& reader, LineReader::Status* last) {
  std::vector<std::string> lines;
  std::string_view line;
  while ((*last = reader.readLine(line)) == LineReader::Status::kLine) lines.emplace_back(line);
  return lines;
}

TEST(LineReader, SplitsLinesWhateverTheChunking) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
    bool byteOrderMark;
  };
  const Case cases[] = {
      {"", {}, false},
      {"a", {"a\n"}, false},
      {"a\nb\n", {"a\n", "b\n"}, false},
      {"a\r\nb\rc\r\n\r\n", {"a\n", "b\rc\n", "\n"}, false},
      {"end\r", {"end\r\n"}, false},
      {"x\r\n\r", {"x\n", "\r\n"}, false},
      {std::string("x\0y\n", 4), {std::string("x\0y\n", 4)}, false},
      {"\xEF\xBB\xBF#define\n", {"#define\n"}, true},
      {"\xEF\xBB\xBF", {}, true},
      {"\xEF\xBB", {"\xEF\xBB\n"}, false},
      {"x\xEF\xBB\xBF\n", {"x\xEF\xBB\xBF\n"}, false},
      {std::string(100000, 'L') + "\n", {std::string(100000, 'L') + "\n"}, false},
      {std::string(20, 'L') + "\r\nshort\r\n" + std::string(20, 'M'),
       {std::string(20, 'L') + "\n", "short\n", std::string(20, 'M') + "\n"},
       false},
      // The last line, with no line end, is longer than what came before it,
      // so moving it to the front of the buffer overwrites where it was.
      {"x\nhello", {"x\n", "hello\n"}, false},
      {"y\n#define C 1", {"y\n", "#define C 1\n"}, false},
      {"\xEF\xBB\xBFz\r\nlonger tail", {"z\n", "longer tail\n"}, true},
  };
  for (const Case& c : cases) {
    for (std::size_t chunk : {1u, 2u, 3u, 7u, 4096u}) {
      for (std::size_t buffer : {4u, 16u, 65536u}) {
        ScriptedSource source(c.bytes, chunk);
        LineReader reader(source, buffer);
        LineReader::Status last;
        EXPECT_EQ(readAll(reader, &last), c.lines) << c.bytes.substr(0, 20) << " chunk " << chunk;
        EXPECT_EQ(last, LineReader::Status::kEnd);
        EXPECT_EQ(reader.hadByteOrderMark(), c.byteOrderMark);
      }
    }
  }
}

// Whatever the bytes, the reads and the buffer, or a text held in memory,
// the reader gives exactly the lines of a plain split of the whole text.
TEST(LineReader, GivesTheLinesOfAPlainSplit) {
  std::mt19937 random(20261207);
  const char alphabet[] = {'a', 'b', '#', '\r', '\n', '\n', '\xEF', '\xBB', '\xBF', '\0'};
  auto below = [&random](std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
  };
  for (int round = 0; round < 2000; ++round) {
    std::string bytes = below(8) == 0 ? std::string(kByteOrderMark) : std::string();
    const std::size_t length = below(4) == 0 ? below(3000) : below(60);
    const std::size_t letters = below(2) == 0 ? std::size(alphabet) : 3;  // long lines, too
    for (std::size_t i = 0; i < length; ++i) bytes += alphabet[below(letters)];
    bool byteOrderMark = false;
    const std::vector<std::string> expected = splitSourceLines(bytes, &byteOrderMark);

    const std::size_t buffer = std::size_t{4} + below(below(2) == 0 ? 20 : 5000);
    const std::size_t most = 1 + below(below(2) == 0 ? 8 : 4000);
    ChunkedSource source(
        bytes, [&] { return 1 + below(most); }, below(2) == 0);
    LineReader reader(source, buffer);
    LineReader::Status last;
    ASSERT_EQ(readAll(reader, &last), expected) << "round " << round << ", buffer " << buffer;
    EXPECT_EQ(last, LineReader::Status::kEnd);
    EXPECT_EQ(reader.hadByteOrderMark(), byteOrderMark) << "round " << round;

    TextSource held(std::make_shared<const std::string>(bytes));
    LineReader heldReader(held);
    ASSERT_EQ(readAll(heldReader, &last), expected) << "round " << round << ", held";
    EXPECT_EQ(last, LineReader::Status::kEnd);
    EXPECT_EQ(heldReader.hadByteOrderMark(), byteOrderMark) << "round " << round;
  }
}

TEST(LineReader, ReportsReadErrors) {
  ScriptedSource source("one\ntwo\nthr", 3, true);
  LineReader reader(source, 8);
  LineReader::Status last;
  EXPECT_EQ(readAll(reader, &last), (std::vector<std::string>{"one\n", "two\n"}));
  EXPECT_EQ(last, LineReader::Status::kError);
}

}  // namespace
}  // namespace qf
