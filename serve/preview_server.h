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
struct Response;
}  // namespace httplib

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

/// Serves a directory over HTTP for previewing it in a browser: GET and HEAD
/// only, no listings, no caching, single byte ranges, and a script in every
/// page that follows the events published here. Only requests whose Host
/// names this server are answered (see ServedHostNames), so that pages from
/// elsewhere cannot read the site through a name of their own.
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
  /// also sent to pages opened later, until the next event other than links;
  /// a links event, until the next links event. Call from one thread.
  void publish(std::string_view event, const std::vector<std::string>& lines);

  /// The event streams open now.
  std::size_t openStreams() { return hub_.openStreams(); }

  /// Ends every event stream, closes the listening socket and waits for the
  /// serving threads. Safe to call more than once.
  void stop();

 private:
  void route();
  /// Answers with the event stream, on a connection that sends nothing
  /// more (socket: its descriptor, -1 when not known).
  void sendEvents(int socket, httplib::Response& response);

  PreviewServerOptions options_;
  ServedHostNames hostNames_;
  std::string realRoot_;
  std::unique_ptr<httplib::Server> http_;
  std::thread listener_;
  EventHub hub_;
  std::string failures_;  // the error event that greets new pages, or ""
  std::string links_;     // the links event that greets new pages, or ""
  int port_ = 0;
};

}  // namespace qf
