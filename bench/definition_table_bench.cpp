// Definition lookup at growing table sizes, for names found and not found.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/definition_table.h"

namespace {

std::vector<std::string> names(std::size_t count, const char* prefix) {
  std::vector<std::string> result;
  for (std::size_t n = 0; n < count; ++n) result.push_back(prefix + std::to_string(n));
  return result;
}

void BM_FindDefinition(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const bool present = state.range(1) != 0;
  qf::DefinitionTable table(1);
  for (const auto& name : names(count, "D")) table.addDefinition(name, "text");
  const auto probes = names(count < 1024 ? count : 1024, present ? "D" : "X");
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.findDefinition(probes[i]));
    if (++i == probes.size()) i = 0;
  }
}
BENCHMARK(BM_FindDefinition)
    ->ArgsProduct({{16, 256, 4096, 100000}, {1, 0}})
    ->ArgNames({"names", "present"});

void BM_AddDefinitions(benchmark::State& state) {
  const auto all = names(static_cast<std::size_t>(state.range(0)), "D");
  for (auto _ : state) {
    qf::DefinitionTable table(1);
    for (const auto& name : all) table.addDefinition(name, "text");
    benchmark::DoNotOptimize(table.nameCount());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
}
BENCHMARK(BM_AddDefinitions)->Arg(1000)->Arg(100000);

}  // namespace
