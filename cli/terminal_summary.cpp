#include "cli/terminal_summary.h"

#include "base/test_util.h"

namespace qf {

std::string terminalSummaryOf(const std::string& qfc, const std::string& arguments,
                              const std::string& directory) {
  const ProgramResult r =
      runProgram("/usr/bin/script", {"-qec", qfc + " " + arguments, "/dev/null"}, directory);
  const std::size_t start = r.out.rfind("Compiled ");
  return start == std::string::npos ? r.out : r.out.substr(start, r.out.find('\r', start) - start);
}

}  // namespace qf
