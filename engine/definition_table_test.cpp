#include "engine/definition_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qf {
namespace {

std::string textOf(const DefinitionTable& table, std::string_view name) {
  const Definition* d = table.findDefinition(name);
  return d ? std::string(d->text) : "<none>";
}

TEST(DefinitionTable, NewestDefinitionWinsAndRemovalRevealsOlder) {
  DefinitionTable table;
  table.addDefinition("X", "a");
  table.addDefinition("X", "b");
  EXPECT_EQ(textOf(table, "X"), "b");
  table.removeDefinition(table.findDefinition("X"));
  EXPECT_EQ(textOf(table, "X"), "a");
  table.removeDefinition(table.findDefinition("X"));
  EXPECT_EQ(textOf(table, "X"), "<none>");
  EXPECT_EQ(table.nameCount(), 0u);
}

TEST(DefinitionTable, NamesAreCaseSensitiveAndEmptyNameIsNeverFound) {
  DefinitionTable table;
  table.addDefinition("Title", "1");
  table.addDefinition("TITLE", "2");
  table.addDefinition("E", "");
  EXPECT_EQ(textOf(table, "Title"), "1");
  EXPECT_EQ(textOf(table, "TITLE"), "2");
  EXPECT_EQ(textOf(table, "title"), "<none>");
  EXPECT_EQ(textOf(table, "E"), "");
  EXPECT_EQ(table.findDefinition(""), nullptr);
  EXPECT_EQ(table.findDefinition("TITL"), nullptr);
}

TEST(DefinitionTable, KillingOneNameKeepsOthersInTheirOrder) {
  // Every name in one bucket would hide ordering faults; many names make
  // several of them share buckets whatever the keys.
  DefinitionTable table(1);
  for (int i = 0; i < 2000; ++i) table.addDefinition("N" + std::to_string(i), "old");
  for (int i = 0; i < 3; ++i) table.addDefinition("X", std::to_string(i));
  for (int i = 0; i < 2000; ++i) table.addDefinition("N" + std::to_string(i), "new");
  while (const Definition* d = table.findDefinition("X")) table.removeDefinition(d);
  EXPECT_EQ(table.findDefinition("X"), nullptr);
  for (int i = 0; i < 2000; ++i) {
    const std::string name = "N" + std::to_string(i);
    ASSERT_EQ(textOf(table, name), "new") << name;
    table.removeDefinition(table.findDefinition(name));
    ASSERT_EQ(textOf(table, name), "old") << name;
  }
}

TEST(DefinitionTable, ResultsDoNotDependOnTheHashSpread) {
  const std::vector<std::uint32_t> seeds = {0, 1, 42, 0xdeadbeef};
  std::vector<std::string> answers;
  for (std::uint32_t seed : seeds) {
    DefinitionTable table(seed);
    for (int round = 0; round < 3; ++round) {
      table.resetDefinitions();
      for (int i = 0; i < 1500; ++i)
        table.addDefinition("S" + std::to_string(i % 700), std::to_string(i));
      for (int i = 0; i < 700; i += 3)
        table.removeDefinition(table.findDefinition("S" + std::to_string(i)));
    }
    std::string answer;
    for (int i = 0; i < 700; ++i) answer += textOf(table, "S" + std::to_string(i)) + ",";
    answers.push_back(answer);
  }
  for (const std::string& answer : answers) EXPECT_EQ(answer, answers.front());
}

TEST(DefinitionTable, ResetForgetsEverything) {
  DefinitionTable table;
  for (int i = 0; i < 5000; ++i) table.addDefinition("D" + std::to_string(i), "x");
  table.resetDefinitions();
  EXPECT_EQ(table.nameCount(), 0u);
  EXPECT_EQ(table.findDefinition("D1"), nullptr);
  table.addDefinition("D1", "y");
  EXPECT_EQ(textOf(table, "D1"), "y");
}

TEST(DefinitionTable, DefinitionsStayPutWhileTheTableGrows) {
  DefinitionTable table(5);
  table.addDefinition("FIRST", "kept text");
  const Definition* first = table.findDefinition("FIRST");
  for (int i = 0; i < 5000; ++i) table.addDefinition("G" + std::to_string(i), std::to_string(i));
  EXPECT_EQ(table.findDefinition("FIRST"), first);
  EXPECT_EQ(first->name, "FIRST");
  EXPECT_EQ(first->text, "kept text");
  EXPECT_EQ(textOf(table, "G4321"), "4321");
}

TEST(DefinitionTable, OnlyTheNewestDefinitionIsRemoved) {
  DefinitionTable table;
  table.addDefinition("X", "old");
  const Definition* older = table.findDefinition("X");
  table.addDefinition("X", "new");
  table.removeDefinition(older);  // hidden: changes nothing
  table.removeDefinition(nullptr);
  EXPECT_EQ(textOf(table, "X"), "new");
  const Definition* newest = table.findDefinition("X");
  table.removeDefinition(newest);
  table.removeDefinition(newest);  // already removed: changes nothing
  EXPECT_EQ(textOf(table, "X"), "old");
  EXPECT_EQ(table.nameCount(), 1u);
}

TEST(DefinitionTable, DefiningAndRemovingInTurnReusesMemory) {
  DefinitionTable table;
  table.addDefinition("KEEP", "k");
  for (int i = 0; i < 100000; ++i) {
    table.addDefinition("X", std::string(100, 'x'));
    ASSERT_EQ(textOf(table, "X"), std::string(100, 'x'));
    table.removeDefinition(table.findDefinition("X"));
  }
  EXPECT_EQ(textOf(table, "X"), "<none>");
  EXPECT_EQ(textOf(table, "KEEP"), "k");
  EXPECT_LE(table.memoryHeld(), std::size_t{64} * 1024);
}

TEST(DefinitionTable, StartRangeHoldsTheFirstBytesOfSymbolNames) {
  struct Case {
    std::vector<std::string> names;
    unsigned char low, high;  // low > high: empty
  };
  const Case cases[] = {
      {{}, 1, 0},
      {{"K00", "CELL", "PRICE", "_TIME_"}, 'C', '_'},
      {{"b", "H1", "2024"}, '2', 'b'},
      {{"-x", "\xff"}, 1, 0},  // never found by a scan, so left out
      {{"z", "-x"}, 'z', 'z'},
  };
  for (const Case& c : cases) {
    DefinitionTable table;
    table.addDefinition("Q", "1");
    table.resetDefinitions();
    for (const std::string& name : c.names) table.addDefinition(name, "text");
    EXPECT_EQ(table.startRange().low, c.low) << c.names.size();
    EXPECT_EQ(table.startRange().high, c.high) << c.names.size();
  }
}

TEST(DefinitionTable, MillionShadowedDefinitionsAreDestroyedWithoutRecursion) {
  DefinitionTable table;
  for (int i = 0; i < 1000000; ++i) table.addDefinition("A", "t");
  table.addDefinition("B", "b");
  EXPECT_EQ(textOf(table, "B"), "b");
  // Destruction at scope end must not overflow the stack.
}

}  // namespace
}  // namespace qf
