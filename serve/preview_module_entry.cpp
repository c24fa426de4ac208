#include <new>

#include "serve/preview_server.h"

// The one name the preview server's module exports (see makePreviewServer).
extern "C" __attribute__((visibility("default"))) qf::PreviewService* qfMakePreviewServer(
    const qf::PreviewServerOptions* options) {
  try {
    return new qf::PreviewServer(*options);
  } catch (const std::exception&) {
    return nullptr;
  }
}
