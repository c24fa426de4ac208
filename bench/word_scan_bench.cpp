// The block scan on each path: a typical line and a long text, with the
// names' first bytes in a narrow range (capitals) as in the benchmark pages.

#include <benchmark/benchmark.h>

#include <string>

#include "engine/word_scan.h"

namespace {

void BM_ForEachWord(benchmark::State& state) {
  const auto path = static_cast<qf::ScanPath>(state.range(0));
  if (!qf::canRunScanPath(path)) {
    state.SkipWithError("this processor does not run the path");
    return;
  }
  const std::string line = "<tr class=\"x\"><CELL>K02</CELL><CELL>503554 PRICE</CELL></tr>\n";
  std::string text;
  while (text.size() < static_cast<std::size_t>(state.range(1))) text += line;
  text.resize(static_cast<std::size_t>(state.range(1)));
  for (auto _ : state) {
    std::size_t words = 0;
    qf::forEachWord(text, {'A', '_'}, path, [&](std::size_t, std::size_t) { return ++words != 0; });
    benchmark::DoNotOptimize(words);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ForEachWord)
    ->ArgsProduct({{static_cast<long>(qf::ScanPath::kPlain), static_cast<long>(qf::ScanPath::kSse2),
                    static_cast<long>(qf::ScanPath::kAvx2)},
                   {64, 4096}})
    ->ArgNames({"path", "bytes"});

}  // namespace
