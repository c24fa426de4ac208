// Time from a page's save (a rename over the old file) to the reload event
// reaching a page's event stream, through the real watcher, preview loop and
// server on the loopback address, with a rebuild that only copies the page.
// What remains is the loop's own cost: the settle time plus the rest.
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "base/test_util.h"
#include "cli/preview_loop.h"
#include "serve/event_stream_reader.h"
#include "serve/preview_server.h"
#include "testing/copy_rebuild.h"

namespace {

std::size_t countOf(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

void saveToReloadEvent(benchmark::State& state) {
  qf::TempDir dir;
  dir.write("src/index.html", "<p>0</p>");
  dir.write("out/.keep", "");
  qf::WatchOptions watch;
  watch.trees = {dir / "src"};
  watch.settle = std::chrono::milliseconds(state.range(0));
  qf::PreviewServerOptions serve;
  serve.root = dir / "out";
  serve.address.port = 0;
  auto server = std::make_unique<qf::PreviewServer>(serve);
  std::string error;
  if (!server->start(error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const int port = server->port();
  qf::PreviewLoop loop(watch, std::move(server));
  auto status = std::async(std::launch::async, [&] {
    return loop.run([&](const qf::WatchBatch&) {
      return qf::copyPagesAndStyleSheets(dir / "src", dir / "out");
    });
  });
  qf::EventStreamReader page(port);
  page.waitFor("retry");
  int saves = 0;
  for (auto _ : state) {
    const std::string pageText = "<p>" + std::to_string(++saves) + "</p>";
    dir.write("src/index.html.new", pageText);
    const auto start = std::chrono::steady_clock::now();
    std::rename((dir / "src/index.html.new").c_str(), (dir / "src/index.html").c_str());
    while (countOf(page.received(), "event: reload") < static_cast<std::size_t>(saves)) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::raise(SIGTERM);
  status.wait();
}

}  // namespace

BENCHMARK(saveToReloadEvent)
    ->Arg(50)
    ->Arg(10)
    ->ArgName("settle_ms")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);
