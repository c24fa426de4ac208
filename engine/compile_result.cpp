#include "engine/compile_result.h"

namespace qf {

namespace {

constexpr char kFirstIncluder[] = "In file included from ";
constexpr char kFurtherIncluder[] = "                 from ";

}  // namespace

std::string formatFailure(const CompileResult& result) {
  std::string report;
  const std::vector<IncludeSite>& chain = result.includedFrom;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    report += i == 0 ? kFirstIncluder : kFurtherIncluder;
    report += chain[i].path + ":" + std::to_string(chain[i].line);
    report += i + 1 < chain.size() ? ",\n" : ":\n";
  }
  const std::string place = result.errorFileName + ":" + std::to_string(result.errorLine);
  report += place + ": " + result.message + "\n";
  if (!result.note.empty()) report += place + ": note: " + result.note + "\n";
  return report;
}

bool isIncludeChainLine(std::string_view line) {
  return line.starts_with(kFirstIncluder) || line.starts_with(kFurtherIncluder);
}

}  // namespace qf
