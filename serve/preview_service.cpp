#include "serve/preview_service.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

#include "base/path.h"

namespace qf {

namespace {

// What the module exports: makes an unstarted server, or null when it cannot.
using MakeServer = PreviewService* (*)(const PreviewServerOptions* options);
constexpr char kMakeServer[] = "qfMakePreviewServer";

// The folder of the running program, ending in '/'; "" when it cannot be told
// (no /proc), and then nothing is loaded: a relative path would be looked
// for from wherever qfc was started.
std::string programDirectory() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size() || path[0] != '/') return {};
  path.resize(static_cast<std::size_t>(length));
  return directoryOf(path);
}

// Loads the module once per process: where it is installed relative to the
// program, else beside the program, as it is built.
MakeServer loadModule(std::string& error) {
  static std::once_flag once;
  static MakeServer make = nullptr;
  static std::string failure;
  std::call_once(once, [] {
    const std::string directory = programDirectory();
    if (directory.empty()) {
      failure = "cannot load the preview server: the program's own folder is unknown";
      return;
    }
    std::string tried;
    for (const std::string& path : {directory + QF_PREVIEW_MODULE_FROM_PROGRAM + QF_PREVIEW_MODULE,
                                    directory + QF_PREVIEW_MODULE}) {
      if (void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        make = reinterpret_cast<MakeServer>(dlsym(module, kMakeServer));
        if (make) return;
        failure = "cannot use the preview server in " + path + ": it lacks " + kMakeServer;
        return;
      }
      const char* why = dlerror();
      if (tried.empty() && why) tried = why;
    }
    failure = "cannot load the preview server: " + tried;
  });
  if (!make) error = failure;
  return make;
}

}  // namespace

std::unique_ptr<PreviewService> makePreviewServer(const PreviewServerOptions& options,
                                                  std::string& error) {
  const MakeServer make = loadModule(error);
  if (!make) return nullptr;
  std::unique_ptr<PreviewService> server(make(&options));
  if (!server) error = "cannot make the preview server: out of memory";
  return server;
}

}  // namespace qf
