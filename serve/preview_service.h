#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "serve/serve_address.h"

namespace qf {

struct PreviewServerOptions {
  /// The directory served; nothing outside it is ever sent.
  std::string root;
  ServeAddress address;
  /// Connections served at once, event streams not counted; further ones
  /// wait until one closes.
  int maxConnections = 32;
  /// Event streams open at once; a new one beyond them ends the oldest,
  /// whose page then stops listening.
  int maxStreams = 32;
  /// How often an idle event stream gets a comment, for whatever lies
  /// between the server and the page. Closed pages are noticed without it.
  std::chrono::milliseconds streamPing{15000};
};

/// A preview server as the rebuilding loop uses it (see PreviewServer).
class PreviewService {
 public:
  virtual ~PreviewService() = default;
  /// Binds the address and serves on threads of its own. Returns false with
  /// a message when the root is no directory or the address cannot be bound.
  virtual bool start(std::string& error) = 0;
  /// The address really bound, e.g. "http://127.0.0.1:8080/".
  virtual std::string url() const = 0;
  virtual int port() const = 0;
  /// The served directory, as given.
  virtual const std::string& root() const = 0;
  /// Sends an event (see live_reload.h) to every open page.
  virtual void publish(std::string_view event, const std::vector<std::string>& lines) = 0;
};

/// A preview server made by the module that holds the HTTP server, loaded on
/// first use: a run that serves nothing never loads the HTTP library and what
/// it needs, which would cost every run several milliseconds. Null, with a
/// message in error, when the module cannot be loaded.
std::unique_ptr<PreviewService> makePreviewServer(const PreviewServerOptions& options,
                                                  std::string& error);

}  // namespace qf
