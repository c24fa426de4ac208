#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "serve/event_hub.h"
#include "serve/serve_address.h"

namespace httplib {
class Server;
}

namespace qf {

struct PreviewServerOptions {
  /// The directory served; nothing outside it is ever sent.
  std::string root;
  ServeAddress address;
  /// Connections served at once; further ones wait until one closes.
  int maxConnections = 32;
  /// How often an idle event stream gets a comment, to find closed pages.
  std::chrono::milliseconds streamPing{15000};
};

/// Serves a directory over HTTP for previewing it in a browser: GET and HEAD
/// only, no listings, no caching, and a script in every page that follows
/// the events published here.
class PreviewServer {
 public:
  explicit PreviewServer(PreviewServerOptions options);
  /// Stops serving.
  ~PreviewServer();
  PreviewServer(const PreviewServer&) = delete;
  PreviewServer& operator=(const PreviewServer&) = delete;

  /// Binds the address and serves on threads of its own. Returns false with
  /// a message when the root is no directory or the address cannot be bound.
  bool start(std::string& error);

  /// The address really bound, e.g. "http://127.0.0.1:8080/".
  std::string url() const;
  int port() const { return port_; }
  /// The served directory, as given.
  const std::string& root() const { return options_.root; }

  /// Sends an event (see live_reload.h) to every open page. An error event is
  /// also sent to pages opened later, until the next event.
  void publish(std::string_view event, const std::vector<std::string>& lines);

  /// Ends every event stream, closes the listening socket and waits for the
  /// serving threads. Safe to call more than once.
  void stop();

 private:
  void route();

  PreviewServerOptions options_;
  std::string realRoot_;
  std::unique_ptr<httplib::Server> http_;
  std::thread listener_;
  EventHub hub_;
  int port_ = 0;
};

}  // namespace qf
