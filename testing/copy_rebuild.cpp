#include "testing/copy_rebuild.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qf {

namespace {

std::string contentsOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

}  // namespace

RebuildResult copyPagesAndStyleSheets(const std::string& source, const std::string& output) {
  namespace fs = std::filesystem;
  RebuildResult result;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(source, error)) {
    const std::string extension = entry.path().extension().string();
    if (extension != ".html" && extension != ".css") continue;
    const fs::path target = fs::path(output) / entry.path().filename();
    const std::string bytes = contentsOf(entry.path());
    if (fs::exists(target) && contentsOf(target) == bytes) continue;
    std::ofstream(target, std::ios::binary) << bytes;
    result.changedFiles.push_back(target.string());
  }
  std::ifstream failures(fs::path(source) / "failures.txt");
  for (std::string line; std::getline(failures, line);) result.failureLines.push_back(line);
  return result;
}

}  // namespace qf
