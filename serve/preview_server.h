#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "serve/event_hub.h"
#include "serve/preview_service.h"

namespace httplib {
class Server;
struct Response;
}  // namespace httplib

namespace qf {

/// Serves a directory over HTTP for previewing it in a browser: GET and HEAD
/// only, no listings, no caching, single byte ranges, and a script in every
/// page that follows the events published here. Only requests whose Host
/// names this server are answered (see ServedHostNames), so that pages from
/// elsewhere cannot read the site through a name of their own.
class PreviewServer final : public PreviewService {
 public:
  explicit PreviewServer(PreviewServerOptions options);
  /// Stops serving.
  ~PreviewServer() override;
  PreviewServer(const PreviewServer&) = delete;
  PreviewServer& operator=(const PreviewServer&) = delete;

  bool start(std::string& error) override;
  std::string url() const override;
  int port() const override { return port_; }
  const std::string& root() const override { return options_.root; }
  /// An error event is also sent to pages opened later, until the next event
  /// other than links; a links event, until the next links event. Call from
  /// one thread.
  void publish(std::string_view event, const std::vector<std::string>& lines) override;

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
