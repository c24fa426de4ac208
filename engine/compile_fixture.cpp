#include "engine/compile_fixture.h"

#include <cstdlib>

namespace qf {

CompileFixture::CompileFixture() {
  setenv("TZ", "UTC", 1);
  tzset();
  compiler_.setClock([] { return std::time_t{1767791220}; });  // 2026-01-07 13:07 UTC
}

void CompileFixture::writeFiles(const Files& files) const {
  for (const auto& [name, contents] : files) dir_.write(name, contents);
}

std::string CompileFixture::compile(const std::string& input, const std::string& includeDirectory,
                                    char directiveChar) {
  CompileRequest request;
  request.inputPath = dir_ / input;
  request.outputPath = dir_ / "out.html";
  request.includeDirectory = includeDirectory;
  request.directiveChar = directiveChar;
  compiler_.compileFile(request);
  return readFile(request.outputPath);
}

std::string CompileFixture::failure(const std::string& prefix) const {
  std::string file = compiler_.result().errorFileName;
  const std::string strip = dir_.path() + prefix;
  if (file.rfind(strip, 0) == 0) file.erase(0, strip.size());
  return file + ":" + std::to_string(compiler_.result().errorLine) + ": " +
         compiler_.result().message;
}

}  // namespace qf
