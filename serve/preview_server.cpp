#include "serve/preview_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include "base/file_system.h"
#include "serve/content_type.h"
#include "serve/live_reload.h"
#include "serve/request_path.h"

namespace qf {

namespace {

// Serves connections on a fixed number of threads and accepts no more
// connections than it has threads: the rest wait in the system's queue of the
// listening socket instead of holding descriptors here.
class ConnectionPool final : public httplib::TaskQueue {
 public:
  explicit ConnectionPool(int size) {
    for (int i = 0; i < size; ++i) threads_.emplace_back([this] { work(); });
  }

  void enqueue(std::function<void()> task) override {
    std::unique_lock lock(mutex_);
    slotFree_.wait(lock, [this] { return open_ < threads_.size(); });
    ++open_;
    tasks_.push_back(std::move(task));
    taskReady_.notify_one();
  }

  void shutdown() override {
    {
      std::lock_guard lock(mutex_);
      shuttingDown_ = true;
    }
    taskReady_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    while (true) {
      taskReady_.wait(lock, [this] { return shuttingDown_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
      --open_;
      slotFree_.notify_one();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable taskReady_;
  std::condition_variable slotFree_;
  std::deque<std::function<void()>> tasks_;
  std::size_t open_ = 0;
  bool shuttingDown_ = false;
};

// Address reuse only: a second server on the same port must fail to bind
// rather than share the port.
void reuseAddressOnly(int socket) {
  const int on = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

void answer(httplib::Response& response, int status, const std::string& body,
            std::string_view type) {
  response.status = status;
  response.set_content(body, std::string(type).c_str());
}

bool readWholeFile(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  contents = buffer.str();
  return !in.bad();
}

}  // namespace

PreviewServer::PreviewServer(PreviewServerOptions options) : options_(std::move(options)) {}

PreviewServer::~PreviewServer() { stop(); }

bool PreviewServer::start(std::string& error) {
  const std::optional<std::string> real = resolvedPathOf(options_.root);
  if (!real || !isDirectory(*real)) {
    error = "cannot serve " + options_.root + ": not a directory";
    return false;
  }
  realRoot_ = *real;
  http_ = std::make_unique<httplib::Server>();
  const int poolSize = std::max(1, options_.maxConnections);
  http_->new_task_queue = [poolSize] { return new ConnectionPool(poolSize); };
  http_->set_socket_options(reuseAddressOnly);
  http_->set_keep_alive_timeout(2);
  route();
  const ServeAddress& address = options_.address;
  port_ = address.port == 0 ? http_->bind_to_any_port(address.host)
                            : (http_->bind_to_port(address.host, address.port) ? address.port : -1);
  if (port_ < 0) {
    error = "cannot listen on " + urlOf(address.host, address.port) + ": " +
            "the address is in use or not one of this computer's";
    http_.reset();
    return false;
  }
  listener_ = std::thread([this] { http_->listen_after_bind(); });
  // stop() only reaches a server that is running.
  for (int waited = 0; !http_->is_running() && waited < 5000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::string PreviewServer::url() const { return urlOf(options_.address.host, port_); }

void PreviewServer::publish(std::string_view event, const std::vector<std::string>& lines) {
  const std::string text = formatEvent(event, lines);
  hub_.publish(text, event == kErrorEvent ? text : "");
}

void PreviewServer::stop() {
  if (!http_) return;
  hub_.close();
  http_->stop();
  if (listener_.joinable()) listener_.join();
  http_.reset();
}

void PreviewServer::route() {
  http_->set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    if (request.method == "GET" || request.method == "HEAD") {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    response.set_header("Allow", "GET, HEAD");
    answer(response, 405, "Method not allowed\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  http_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty() && response.status == 404) {
      answer(response, 404, "Not found\n", "text/plain");
    }
  });
  http_->Get(
      std::string(kEventsPath), [this](const httplib::Request&, httplib::Response& response) {
        std::string greeting;
        auto position = std::make_shared<EventHub::Position>(hub_.subscribe(greeting));
        // The browser retries a lost stream after a second.
        auto pending = std::make_shared<std::string>("retry: 1000\n\n" + greeting);
        response.set_chunked_content_provider(
            "text/event-stream", [this, position, pending](std::size_t, httplib::DataSink& sink) {
              if (pending->empty()) {
                const std::optional<std::string> events =
                    hub_.waitForEvents(*position, options_.streamPing);
                if (!events) {
                  sink.done();
                  return true;
                }
                *pending = events->empty() ? ": ping\n\n" : *events;
              }
              const bool written = sink.write(pending->data(), pending->size());
              pending->clear();
              return written;
            });
      });
  http_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    const std::optional<std::string> relative = requestPathBelowRoot(request.target);
    const Resolution found = relative ? resolveBelowRoot(realRoot_, *relative)
                                      : Resolution{Resolution::Kind::kNotFound, ""};
    if (found.kind == Resolution::Kind::kDirectoryWithoutSlash) {
      std::string location = request.target;
      location.insert(std::min(location.find('?'), location.size()), "/");
      response.set_redirect(location, 301);
      return;
    }
    std::string contents;
    if (found.kind != Resolution::Kind::kFile || !readWholeFile(found.file, contents)) {
      answer(response, 404, "Not found\n", "text/plain");
      return;
    }
    const std::string_view type =
        contentTypeFor(relative->empty() || relative->back() == '/' ? "index.html" : *relative);
    answer(response, 200, isHtmlType(type) ? withLiveReloadScript(contents) : contents, type);
  });
}

}  // namespace qf
