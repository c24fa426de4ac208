// Substitution of typical lines: none defined, one defined, every run defined.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "engine/substitution.h"

namespace {

struct LineCase {
  const char* line;
};

constexpr LineCase kLines[] = {
    {"<p>lorem ipsum dolor sit amet consectetur adipiscing elit</p>\n"},
    {"<p>lorem ipsum G042 dolor sit amet consectetur adipiscing</p>\n"},
    {"<tr><td>G001</td><td>G002</td><td>G003</td><td>G004</td></tr>\n"},
};

qf::DefinitionTable& table() {
  static qf::DefinitionTable definitions(1);
  static const bool filled = [] {
    for (int n = 0; n < 200; ++n) {
      char name[8];
      std::snprintf(name, sizeof name, "G%03d", n);
      definitions.addDefinition(name, "some words here");
    }
    return true;
  }();
  (void)filled;
  return definitions;
}

void BM_ExpandLine(benchmark::State& state) {
  const std::string source = kLines[state.range(0)].line;
  const qf::SymbolContext context{table()};
  std::string line;
  std::string scratch;
  for (auto _ : state) {
    line = source;
    benchmark::DoNotOptimize(qf::expandLine(line, scratch, context, false));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_ExpandLine)->DenseRange(0, 2);

void BM_ExpandPassDirective(benchmark::State& state) {
  const std::string source = "#define V |G001|.html and more text\n";
  const qf::SymbolContext context{table()};
  std::string destination;
  for (auto _ : state) {
    benchmark::DoNotOptimize(qf::expandPass(source, destination, context, true, 1 << 20));
  }
}
BENCHMARK(BM_ExpandPassDirective);

}  // namespace
