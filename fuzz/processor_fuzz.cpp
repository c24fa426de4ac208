// Compiles a small source tree built from the input: main.src, then for
// each line "@@@@ NAME" a file NAME holding what follows up to the next such
// line. NAME is relative, with at most three plain components (no "." or
// ".."); files with other names are left out. inc/ is the include directory.
// The output goes to a sink that only counts bytes.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "base/byte_stream.h"
#include "engine/compiler.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSeparator = "\n@@@@ ";
constexpr std::size_t kMaxFiles = 16;

class CountingSink : public qf::ByteSink {
 public:
  bool write(std::string_view bytes) override {
    count_ += bytes.size();
    return true;
  }
  bool flush() override { return true; }

 private:
  std::size_t count_ = 0;
};

bool isTreeName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == '/' || name.back() == '/') return false;
  int components = 1;
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-' || c == '.' || c == '/';
    if (!plain) return false;
    if (c == '/') ++components;
  }
  for (std::size_t start = 0; start <= name.size();) {
    const std::size_t end = std::min(name.find('/', start), name.size());
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return components <= 3;
}

void writeFile(const std::string& root, std::string_view name, std::string_view contents) {
  const fs::path path = fs::path(root) / name;
  std::error_code ignored;
  fs::create_directories(path.parent_path(), ignored);
  std::ofstream out(path, std::ios::binary);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

void writeTree(const std::string& root, std::string_view input) {
  std::string_view name = "main.src";
  for (std::size_t files = 0; files < kMaxFiles; ++files) {
    const std::size_t end = input.find(kSeparator);
    if (isTreeName(name)) writeFile(root, name, input.substr(0, end));
    if (end == std::string_view::npos) return;
    input.remove_prefix(end + kSeparator.size());
    const std::size_t lineEnd = input.find('\n');
    name = input.substr(0, lineEnd);
    input.remove_prefix(lineEnd == std::string_view::npos ? input.size() : lineEnd + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string root = (fs::temp_directory_path() / "qf-fuzz-XXXXXX").string();
  if (!mkdtemp(root.data())) std::abort();
  writeTree(root, std::string_view(reinterpret_cast<const char*>(data), size));

  qf::Compiler compiler(1);
  compiler.setClock([] { return std::time_t{0}; });
  qf::CompileRequest request;
  request.inputPath = root + "/main.src";
  request.includeDirectory = root + "/inc/";
  CountingSink sink;
  compiler.compileToSink(request, "main.html", sink);
  const qf::CompileResult& result = compiler.result();
  if (result.ok != (result.message == "Success: File compiled.")) std::abort();
  if (!result.ok && result.message.substr(0, 7) != "Error: ") std::abort();

  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
