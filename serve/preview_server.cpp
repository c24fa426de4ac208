#include "serve/preview_server.h"

#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

#include "base/directory.h"
#include "base/file_stream.h"
#include "base/file_system.h"
#include "serve/content_type.h"
#include "serve/live_reload.h"
#include "serve/request_path.h"

namespace qf {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// What the server says when it sends no file.
constexpr std::string_view kNotFound = "Not found\n";
// The page for a missing file when the site has no 404.html of its own.
constexpr std::string_view kNotFoundPage =
    "<!DOCTYPE html>\n<html><head><title>Not found</title></head>\n"
    "<body><h1>Not found</h1><p>Nothing is served at this address (yet).</p></body></html>\n";
constexpr std::string_view kMethodNotAllowed = "Method not allowed\n";
constexpr std::string_view kForeignHost = "Forbidden: not a name of this server\n";
constexpr std::string_view kBadHost = "Bad request: the Host header is missing or repeated\n";
constexpr std::string_view kRangeNotSatisfiable = "Range not satisfiable\n";

// Pages up to this size get the live-reload script; larger ones are sent as
// they are, without being read whole.
constexpr long long kLargestPageWithScript = 16 << 20;
// How often a waiting event stream looks whether its page went away.
constexpr milliseconds kClosedStreamCheck{250};

// Serves each connection on a thread of its own, started when no thread is
// free, and accepts no more connections than pageSlots: the rest wait in the
// system's queue of the listening socket instead of holding descriptors here.
// A connection that becomes an event stream leaves the count (the event hub
// keeps the streams to a number of their own), so pages never wait for
// streams.
class ConnectionPool final : public httplib::TaskQueue {
 public:
  explicit ConnectionPool(int pageSlots) : pageSlots_(static_cast<std::size_t>(pageSlots)) {}

  void enqueue(std::function<void()> task) override {
    std::unique_lock lock(mutex_);
    slotFree_.wait(lock, [this] { return pages_ < pageSlots_; });
    ++pages_;
    tasks_.push_back(std::move(task));
    if (idle_ < tasks_.size()) threads_.emplace_back([this] { work(); });
    taskReady_.notify_one();
  }

  void shutdown() override {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(mutex_);
      shuttingDown_ = true;
      threads.swap(threads_);
    }
    taskReady_.notify_all();
    for (std::thread& thread : threads) thread.join();
  }

  // Stops counting the calling thread's connection among the pages.
  static void countAsStream() {
    if (!current_ || !countedAsPage_) return;
    countedAsPage_ = false;
    current_->pageEnded();
  }

 private:
  void work() {
    current_ = this;
    std::unique_lock lock(mutex_);
    while (true) {
      ++idle_;
      taskReady_.wait(lock, [this] { return shuttingDown_ || !tasks_.empty(); });
      --idle_;
      if (tasks_.empty()) return;
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      countedAsPage_ = true;
      task();
      if (countedAsPage_) pageEnded();
      lock.lock();
    }
  }

  void pageEnded() {
    {
      std::lock_guard lock(mutex_);
      --pages_;
    }
    slotFree_.notify_one();
  }

  static thread_local ConnectionPool* current_;
  static thread_local bool countedAsPage_;

  const std::size_t pageSlots_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable taskReady_;
  std::condition_variable slotFree_;
  std::deque<std::function<void()>> tasks_;
  std::size_t pages_ = 0;
  std::size_t idle_ = 0;
  bool shuttingDown_ = false;
};

thread_local ConnectionPool* ConnectionPool::current_ = nullptr;
thread_local bool ConnectionPool::countedAsPage_ = false;

// Address reuse only: a second server on the same port must fail to bind
// rather than share the port.
void reuseAddressOnly(int socket) {
  const int on = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

void answer(httplib::Response& response, int status, std::string_view body, std::string_view type) {
  response.status = status;
  response.set_content(std::string(body), std::string(type).c_str());
}

// Whether one end of a socket, as httplib spells it for a request.
bool endIs(int socket, bool peer, const std::string& address, int port) {
  sockaddr_storage end{};
  socklen_t length = sizeof end;
  auto* any = reinterpret_cast<sockaddr*>(&end);
  if ((peer ? getpeername(socket, any, &length) : getsockname(socket, any, &length)) != 0) {
    return false;
  }
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  return getnameinfo(any, length, host, sizeof host, service, sizeof service,
                     NI_NUMERICHOST | NI_NUMERICSERV) == 0 &&
         address == host && std::to_string(port) == service;
}

// The socket a request came on, -1 when not found: httplib shows handlers
// the two ends of the connection but not its socket.
int socketOf(const httplib::Request& request) {
  const auto descriptors = listDirectory("/proc/self/fd");
  if (!descriptors) return -1;
  for (const DirectoryEntry& entry : *descriptors) {
    const int socket = std::atoi(entry.name.c_str());
    if (endIs(socket, true, request.remote_addr, request.remote_port) &&
        endIs(socket, false, request.local_addr, request.local_port)) {
      return socket;
    }
  }
  return -1;
}

// True once the peer of a connection that sends nothing more (an event
// stream's page) has closed it.
bool peerHasClosed(int socket) {
  if (socket < 0) return false;
  pollfd watched{socket, POLLIN | POLLRDHUP, 0};
  if (poll(&watched, 1, 0) <= 0) return false;
  if (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
  char byte;
  const ssize_t peeked = recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EINTR);
}

// Takes the byte ranges httplib read from the Range header out of the
// request. Left there, httplib would cut every answer to them, error texts
// included, without checking them against the size; the server answers
// ranges itself. (The request object handed to handlers is httplib's own,
// not a constant.)
httplib::Ranges takeRanges(const httplib::Request& request) {
  return std::exchange(const_cast<httplib::Request&>(request).ranges, {});
}

// What part of size bytes a request asks for.
struct Part {
  enum class Kind { kWhole, kRange, kUnsatisfiable };
  Kind kind = Kind::kWhole;
  long long first = 0;
  long long length = 0;
};

// One range is answered; several, "bytes=-" and any range under an If-Range
// condition (the server gives no validators such a condition could match) get
// the whole, as a server may always answer.
Part requestedPart(const httplib::Ranges& ranges, bool conditional, long long size) {
  Part whole{Part::Kind::kWhole, 0, size};
  if (ranges.size() != 1 || conditional) return whole;
  const auto [first, last] = ranges.front();
  if (first < 0 && last < 0) return whole;
  if (first < 0) {  // the last bytes
    if (last == 0 || size == 0) return {Part::Kind::kUnsatisfiable};
    const long long length = std::min<long long>(last, size);
    return {Part::Kind::kRange, size - length, length};
  }
  if (first >= size) return {Part::Kind::kUnsatisfiable};
  const long long end = (last < 0 ? size - 1 : std::min<long long>(last, size - 1)) + 1;
  return {Part::Kind::kRange, first, end - first};
}

// Writes up to length bytes starting at offset; false when none could be.
using ByteReader = std::function<bool(long long offset, std::size_t length, httplib::DataSink&)>;

void sendBytes(const httplib::Request& request, httplib::Response& response,
               const httplib::Ranges& ranges, long long size, std::string_view type,
               ByteReader read) {
  response.set_header("Accept-Ranges", "bytes");
  const Part part = requestedPart(ranges, request.has_header("If-Range"), size);
  if (part.kind == Part::Kind::kUnsatisfiable) {
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    answer(response, 416, kRangeNotSatisfiable, "text/plain");
    return;
  }
  response.status = 200;
  if (part.kind == Part::Kind::kRange) {
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(part.first) + "-" +
                                             std::to_string(part.first + part.length - 1) + "/" +
                                             std::to_string(size));
  }
  if (part.length == 0) {
    response.set_content("", std::string(type).c_str());
    return;
  }
  response.set_content_provider(
      static_cast<std::size_t>(part.length), std::string(type),
      [read = std::move(read), first = part.first](std::size_t offset, std::size_t length,
                                                   httplib::DataSink& sink) {
        return read(first + static_cast<long long>(offset), length, sink);
      });
}

// Answers 404 with the site's own 404.html, else a short page; either with
// the script, so that the page comes back by itself once it exists.
void sendNotFound(const std::string& realRoot, httplib::Response& response) {
  std::string page;
  const Resolution custom = resolveBelowRoot(realRoot, "404.html");
  FileSource file(custom.kind == Resolution::Kind::kFile ? custom.file : "");
  if (!file.isOpen() || file.status().size > kLargestPageWithScript || !readRest(file, page)) {
    page = kNotFoundPage;
  }
  answer(response, 404, withLiveReloadScript(page), "text/html");
}

// Sends the file or page that the request names, or the part of it asked for.
void sendFile(const std::string& realRoot, const httplib::Request& request,
              httplib::Response& response, const httplib::Ranges& ranges) {
  const std::optional<std::string> relative = requestPathBelowRoot(request.target);
  const Resolution found = relative ? resolveBelowRoot(realRoot, *relative)
                                    : Resolution{Resolution::Kind::kNotFound, ""};
  if (found.kind == Resolution::Kind::kDirectoryWithoutSlash) {
    std::string location = request.target;
    location.insert(std::min(location.find('?'), location.size()), "/");
    response.set_redirect(location, 301);
    return;
  }
  auto file = std::make_shared<FileSource>(found.kind == Resolution::Kind::kFile ? found.file : "");
  if (!file->isOpen()) {
    sendNotFound(realRoot, response);
    return;
  }
  const std::string_view type = contentTypeFor(
      relative->empty() || relative->back() == '/' || found.addedHtmlExtension ? "index.html"
                                                                               : *relative);
  if (isHtmlType(type) && file->status().size <= kLargestPageWithScript) {
    std::string contents;
    if (!readRest(*file, contents)) {
      sendNotFound(realRoot, response);
      return;
    }
    auto page = std::make_shared<const std::string>(withLiveReloadScript(contents));
    sendBytes(request, response, ranges, static_cast<long long>(page->size()), type,
              [page](long long offset, std::size_t length, httplib::DataSink& sink) {
                const auto at = static_cast<std::size_t>(offset);
                return at < page->size() &&
                       sink.write(page->data() + at, std::min(length, page->size() - at));
              });
    return;
  }
  // Reads come in order; the file is moved only where they do not follow on.
  auto next = std::make_shared<long long>(0);
  sendBytes(request, response, ranges, file->status().size, type,
            [file, next](long long offset, std::size_t length, httplib::DataSink& sink) {
              if (offset != *next && !file->seek(offset)) return false;
              char buffer[1 << 16];
              const long n = file->read(buffer, std::min(length, sizeof buffer));
              if (n <= 0) return false;  // the file got shorter
              *next = offset + n;
              return sink.write(buffer, static_cast<std::size_t>(n));
            });
}

// Answers a request that is not to be served and returns true: a Host that
// names no part of this server, a missing Host (HTTP/1.1 requires it; an
// HTTP/1.0 request, which no browser sends, may go without), or a method
// other than GET and HEAD.
bool refuse(const ServedHostNames& hostNames, const httplib::Request& request,
            httplib::Response& response) {
  const std::size_t hosts = request.get_header_value_count("Host");
  if (hosts > 1 || (hosts == 0 && request.version != "HTTP/1.0")) {
    answer(response, 400, kBadHost, "text/plain");
    return true;
  }
  if (hosts == 1 && !hostNames.accept(request.get_header_value("Host"))) {
    answer(response, 403, kForeignHost, "text/plain");
    return true;
  }
  if (request.method != "GET" && request.method != "HEAD") {
    response.set_header("Allow", "GET, HEAD");
    answer(response, 405, kMethodNotAllowed, "text/plain");
    return true;
  }
  return false;
}

}  // namespace

PreviewServer::PreviewServer(PreviewServerOptions options)
    : options_(std::move(options)),
      hostNames_(options_.address.host),
      hub_(static_cast<std::size_t>(std::max(1, options_.maxStreams))) {}

PreviewServer::~PreviewServer() { stop(); }

bool PreviewServer::start(std::string& error) {
  const std::optional<std::string> real = resolvedPathOf(options_.root);
  if (!real || !isDirectory(*real)) {
    error = "cannot serve " + options_.root + ": not a directory";
    return false;
  }
  realRoot_ = *real;
  http_ = std::make_unique<httplib::Server>();
  const int pageSlots = std::max(1, options_.maxConnections);
  http_->new_task_queue = [pageSlots] { return new ConnectionPool(pageSlots); };
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
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

std::string PreviewServer::url() const { return urlOf(options_.address.host, port_); }

void PreviewServer::publish(std::string_view event, const std::vector<std::string>& lines) {
  std::string text = formatEvent(event, lines);
  if (event == kLinksEvent) {
    links_ = text;
  } else {
    failures_ = event == kErrorEvent ? text : "";
  }
  hub_.publish(text, failures_ + links_);
}

void PreviewServer::stop() {
  if (!http_) return;
  hub_.close();
  http_->stop();
  if (listener_.joinable()) listener_.join();
  http_.reset();
}

void PreviewServer::route() {
  http_->set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        if (refuse(hostNames_, request, response)) {
          takeRanges(request);
          return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
      });
  http_->set_error_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (response.status == 416 && !response.has_header("Content-Range")) {
      // httplib turns down a Range header it cannot read before any handler
      // runs; the request is served as if it had none.
      takeRanges(request);
      response.headers.clear();
      response.set_header("Cache-Control", "no-store");
      if (!refuse(hostNames_, request, response)) sendFile(realRoot_, request, response, {});
      return;
    }
    if (response.body.empty() && response.status == 404) {
      answer(response, 404, kNotFound, "text/plain");
    }
  });
  http_->Get(std::string(kEventsPath),
             [this](const httplib::Request& request, httplib::Response& response) {
               takeRanges(request);
               if (request.method == "HEAD") {
                 response.status = 200;
                 response.set_header("Content-Type", "text/event-stream");
                 return;
               }
               sendEvents(socketOf(request), response);
             });
  http_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    sendFile(realRoot_, request, response, takeRanges(request));
  });
}

void PreviewServer::sendEvents(int socket, httplib::Response& response) {
  ConnectionPool::countAsStream();
  std::string greeting;
  // The stream's place in the hub is given up when httplib lets go of the
  // response, however the stream ended.
  const std::shared_ptr<EventHub::Stream> stream(new EventHub::Stream(hub_.subscribe(greeting)),
                                                 [this](EventHub::Stream* ended) {
                                                   hub_.unsubscribe(*ended);
                                                   delete ended;
                                                 });
  // The browser retries a lost stream after a second.
  auto pending = std::make_shared<std::string>("retry: 1000\n\n" + greeting);
  auto lastWrite = std::make_shared<steady_clock::time_point>(steady_clock::now());
  auto replaced = std::make_shared<bool>(false);
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, socket, stream, pending, lastWrite, replaced](std::size_t, httplib::DataSink& sink) {
        // Returning false ends the connection along with the stream.
        while (pending->empty()) {
          if (*replaced) return false;
          const auto untilPing = std::chrono::duration_cast<milliseconds>(
              *lastWrite + options_.streamPing - steady_clock::now());
          EventHub::News news = hub_.waitForEvents(
              *stream, std::clamp(untilPing, milliseconds(0), kClosedStreamCheck));
          if (news.kind == EventHub::News::Kind::kClosed) {
            sink.done();
            return true;
          }
          if (news.kind == EventHub::News::Kind::kReplaced) {
            *pending = formatEvent(kCloseEvent, {});
            *replaced = true;
          } else if (!news.text.empty()) {
            *pending = std::move(news.text);
          } else if (untilPing <= kClosedStreamCheck) {
            *pending = ": ping\n\n";
          } else if (peerHasClosed(socket)) {
            return false;
          }
        }
        const bool written = sink.write(pending->data(), pending->size());
        pending->clear();
        *lastWrite = steady_clock::now();
        return written;
      });
}

}  // namespace qf
