// Line reader throughput on HTML-like lines held in memory.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "engine/line_reader.h"

namespace {

// Serves one prepared text, in reads of at most the size asked for.
class MemorySource : public qf::ByteSource {
 public:
  explicit MemorySource(const std::string& text) : text_(text) {}
  long read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min(size, text_.size() - position_);
    std::memcpy(buffer, text_.data() + position_, n);
    position_ += n;
    return static_cast<long>(n);
  }

 private:
  const std::string& text_;
  std::size_t position_ = 0;
};

std::string htmlLines(std::size_t count, std::size_t length) {
  std::string line = "<p>lorem ipsum G042 dolor sit amet</p>";
  line.resize(length - 1, 'x');
  line += '\n';
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += line;
  return text;
}

void BM_ReadLines(benchmark::State& state) {
  const std::string text = htmlLines(10000, static_cast<std::size_t>(state.range(0)));
  std::string_view line;
  for (auto _ : state) {
    MemorySource source(text);
    qf::LineReader reader(source);
    while (reader.readLine(line) == qf::LineReader::Status::kLine) benchmark::DoNotOptimize(line);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadLines)->Arg(60)->Arg(1000)->Arg(100000);

}  // namespace
