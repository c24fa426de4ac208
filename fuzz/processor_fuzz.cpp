// Compiles a small source tree built from the input. The input is split at
// lines "@@@@" into the files named in kFiles, in order; the first is the
// compiled source. The output goes to a sink that only counts bytes.
#include <stdlib.h>

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

constexpr std::string_view kSeparator = "\n@@@@\n";
constexpr const char* kFiles[] = {"main.src",  "a.inc",   "inc/b.inc",
                                  "sub/c.inc", "pic.gif", "pic.jpg"};

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

void writeTree(const std::string& root, std::string_view input) {
  for (const char* name : kFiles) {
    const std::size_t end = input.find(kSeparator);
    const fs::path path = fs::path(root) / name;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    const std::string_view contents = input.substr(0, end);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (end == std::string_view::npos) return;
    input.remove_prefix(end + kSeparator.size());
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
  if (!result.ok && result.message.view().substr(0, 7) != "Error: ") std::abort();

  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
