// For the browser test: previews OUTPUT on a free loopback port and, after
// each change in SOURCE, copies its pages and style sheets there (see
// copy_rebuild.h). Prints the "Serving" line, then runs until SIGINT or
// SIGTERM.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/preview_loop.h"
#include "serve/preview_server.h"
#include "serve/serve_address.h"
#include "testing/copy_rebuild.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: preview_copy_demo SOURCE OUTPUT\n";
    return 2;
  }
  const std::string source = argv[1];
  const std::string output = argv[2];
  qf::WatchOptions watch;
  watch.trees = {source};
  watch.warn = [](std::string_view warning) { std::cerr << "warning: " << warning << '\n'; };
  qf::PreviewServerOptions serve;
  serve.root = output;
  serve.address.port = 0;
  auto server = std::make_unique<qf::PreviewServer>(serve);
  std::string error;
  if (!server->start(error)) {
    std::cerr << error << '\n';
    return 1;
  }
  const std::string url = server->url();
  qf::PreviewLoop loop(watch, std::move(server));
  qf::copyPagesAndStyleSheets(source, output);
  std::cout << qf::servingLine(output, url) << std::endl;
  const int signal =
      loop.run([&](const qf::WatchBatch&) { return qf::copyPagesAndStyleSheets(source, output); });
  qf::endWithSignal(signal);
}
