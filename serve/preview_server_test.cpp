#include "serve/preview_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/test_util.h"
#include "serve/event_stream_reader.h"
#include "serve/live_reload.h"

namespace qf {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A server on a free loopback port over dir/site, with dir/secret beside it.
class ServedSite {
 public:
  explicit ServedSite(int maxConnections = 32, int maxStreams = 32,
                      milliseconds streamPing = milliseconds(100)) {
    dir_.write("secret", "SECRET");
    dir_.write("site/index.html", "<html><head><title>home</title></head><body>home</body></html>");
    dir_.write("site/sub/index.html", "<p>sub</p>");
    dir_.write("site/empty/.keep", "");
    PreviewServerOptions options;
    options.root = dir_ / "site";
    options.address.port = 0;
    options.maxConnections = maxConnections;
    options.maxStreams = maxStreams;
    options.streamPing = streamPing;
    server_ = std::make_unique<PreviewServer>(options);
    std::string error;
    if (!server_->start(error)) ADD_FAILURE() << error;
  }

  const TempDir& dir() const { return dir_; }
  PreviewServer& server() { return *server_; }
  std::unique_ptr<httplib::Client> client() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
    client->set_url_encode(false);  // hostile spellings go out as written
    client->set_connection_timeout(2);
    client->set_read_timeout(5);
    return client;
  }

 private:
  TempDir dir_;
  std::unique_ptr<PreviewServer> server_;
};

// A connection to the server on the loopback address that sends exactly
// what it is given, as a browser or an old tool would.
class RawConnection {
 public:
  explicit RawConnection(int port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) close();
  }
  ~RawConnection() { close(); }

  bool send(std::string_view text) {
    return socket_ >= 0 && ::send(socket_, text.data(), text.size(), MSG_NOSIGNAL) ==
                               static_cast<ssize_t>(text.size());
  }

  /// Reads until text came, the connection ended or five seconds passed;
  /// everything received so far.
  std::string readUntil(std::string_view text) {
    const auto deadline = steady_clock::now() + std::chrono::seconds(5);
    while (socket_ >= 0 && received_.find(text) == std::string::npos &&
           steady_clock::now() < deadline) {
      pollfd readable{socket_, POLLIN, 0};
      if (poll(&readable, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received_.append(buffer, static_cast<std::size_t>(n));
    }
    return received_;
  }

  void close() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
  }

 private:
  int socket_;
  std::string received_;
};

std::string eventsRequest() {
  return "GET " + std::string(kEventsPath) + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
}

TEST(PreviewServer, ServesFilesWithTheirTypesAndNoCaching) {
  ServedSite site;
  const struct {
    const char* file;
    const char* type;
  } cases[] = {
      {"style.css", "text/css"},
      {"app.mjs", "text/javascript"},
      {"logo.svg", "image/svg+xml"},
      {"a.webp", "image/webp"},
      {"f.woff2", "font/woff2"},
      {"doc.pdf", "application/pdf"},
      {"raw.src", "application/octet-stream"},
  };
  for (const auto& c : cases) {
    site.dir().write(std::string("site/") + c.file, std::string("bytes of ") + c.file);
    const auto response = site.client()->Get((std::string("/") + c.file).c_str());
    ASSERT_TRUE(response) << c.file;
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->get_header_value("Content-Type"), c.type);
    EXPECT_EQ(response->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(response->body, std::string("bytes of ") + c.file);
  }
}

TEST(PreviewServer, AnswersPagesIndexesAndMissingFiles) {
  ServedSite site;
  const struct {
    const char* target;
    int status;
    const char* bodyHas;
  } cases[] = {
      {"/", 200, "<body>home</body>"}, {"/index.html", 200, "<body>home</body>"},
      {"/sub/", 200, "<p>sub</p>"},    {"/sub", 301, ""},
      {"/empty/", 404, "Not found"},   {"/missing.html", 404, "Not found"},
  };
  for (const auto& c : cases) {
    const auto response = site.client()->Get(c.target);
    ASSERT_TRUE(response) << c.target;
    EXPECT_EQ(response->status, c.status) << c.target;
    EXPECT_NE(response->body.find(c.bodyHas), std::string::npos) << c.target;
    EXPECT_EQ(response->get_header_value("Cache-Control"), "no-store") << c.target;
  }
  EXPECT_EQ(site.client()->Get("/sub")->get_header_value("Location"), "/sub/");
}

TEST(PreviewServer, AnswersMissingFilesWithAPageThatFollowsTheEvents) {
  ServedSite site;
  site.dir().write("site/about.html", "<p>about</p>");
  const auto pretty = site.client()->Get("/about");
  ASSERT_TRUE(pretty);
  EXPECT_EQ(pretty->status, 200);
  EXPECT_EQ(pretty->get_header_value("Content-Type"), "text/html");
  EXPECT_EQ(pretty->body, withLiveReloadScript("<p>about</p>"));

  for (const char* target : {"/gone.html", "/gone", "/pics/gone.png"}) {
    const auto missing = site.client()->Get(target);
    ASSERT_TRUE(missing) << target;
    EXPECT_EQ(missing->status, 404) << target;
    EXPECT_EQ(missing->get_header_value("Content-Type"), "text/html") << target;
    EXPECT_NE(missing->body.find("Not found"), std::string::npos) << target;
    EXPECT_NE(missing->body.find(liveReloadScript()), std::string::npos) << target;
  }
  site.dir().write("site/404.html", "<html><head></head><body>lost</body></html>");
  const auto own = site.client()->Get("/gone.html");
  ASSERT_TRUE(own);
  EXPECT_EQ(own->status, 404);
  EXPECT_EQ(own->body, withLiveReloadScript("<html><head></head><body>lost</body></html>"));
}

TEST(PreviewServer, InsertsTheScriptInServedPagesOnly) {
  ServedSite site;
  const std::string onDisk = readFile(site.dir() / "site/index.html");
  const auto page = site.client()->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html");
  EXPECT_EQ(page->body, withLiveReloadScript(onDisk));
  EXPECT_EQ(readFile(site.dir() / "site/index.html"), onDisk);

  site.dir().write("site/plain.txt", "</head>");
  EXPECT_EQ(site.client()->Get("/plain.txt")->body, "</head>");
}

TEST(PreviewServer, HeadGivesTheHeadersWithoutTheBody) {
  ServedSite site;
  const auto get = site.client()->Get("/");
  const auto head = site.client()->Head("/");
  ASSERT_TRUE(get && head);
  EXPECT_EQ(head->status, 200);
  EXPECT_TRUE(head->body.empty());
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(get->body.size()));
  EXPECT_EQ(site.client()->Head("/missing")->status, 404);
  const auto events = site.client()->Head(std::string(kEventsPath).c_str());
  ASSERT_TRUE(events);
  EXPECT_EQ(events->get_header_value("Content-Type"), "text/event-stream");
  EXPECT_EQ(site.server().openStreams(), 0u);
}

TEST(PreviewServer, RefusesOtherMethods) {
  ServedSite site;
  auto client = site.client();
  const httplib::Result results[] = {
      client->Post("/", "x", "text/plain"),
      client->Put("/", "x", "text/plain"),
      client->Delete("/"),
      client->Patch("/", "x", "text/plain"),
      client->Options("/"),
  };
  for (const httplib::Result& result : results) {
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 405);
    EXPECT_EQ(result->get_header_value("Allow"), "GET, HEAD");
  }
  EXPECT_EQ(readFile(site.dir() / "site/index.html").find("x"), std::string::npos);
}

TEST(PreviewServer, NeverSendsAFileOutsideTheRoot) {
  ServedSite site;
  ASSERT_EQ(symlink("../secret", (site.dir() / "site/out.html").c_str()), 0);
  ASSERT_EQ(symlink("..", (site.dir() / "site/up").c_str()), 0);
  const char* targets[] = {
      "/../secret",
      "/%2e%2e/secret",
      "/%2E%2E%2Fsecret",
      "/..%2fsecret",
      "/sub/../../secret",
      "//..//secret",
      "/..\\secret",
      "/%2e%2e%5csecret",
      "/.%2e/secret",
      "/%252e%252e/secret",
      "/out.html",
      "/up/secret",
      "/up/",
      "/sub/%2e%2e/%2e%2e/secret",
  };
  for (const char* target : targets) {
    const auto response = site.client()->Get(target);
    ASSERT_TRUE(response) << target;
    EXPECT_NE(response->status, 200) << target;
    EXPECT_EQ(response->body.find("SECRET"), std::string::npos) << target;
  }
}

TEST(PreviewServer, AnswersOnlyToItsOwnNames) {
  ServedSite site;
  const std::string port = std::to_string(site.server().port());
  const struct {
    std::string host;
    int status;
  } cases[] = {
      {"127.0.0.1:" + port, 200},      {"localhost", 200},
      {"LocalHost:" + port, 200},      {"[::1]:" + port, 200},
      {"evil.example", 403},           {"evil.example:" + port, 403},
      {"127.0.0.1.evil.example", 403}, {"localhost.evil.example:" + port, 403},
  };
  for (const auto& c : cases) {
    auto client = site.client();
    client->set_default_headers({{"Host", c.host}});
    std::vector<std::string> targets = {"/", "/index.html"};
    // An accepted stream would not end; only refused ones are asked for.
    if (c.status == 403) targets.push_back(std::string(kEventsPath));
    for (const std::string& target : targets) {
      const auto response = client->Get(target.c_str());
      ASSERT_TRUE(response) << c.host << " " << target;
      EXPECT_EQ(response->status, c.status) << c.host << " " << target;
      if (c.status == 403) {
        EXPECT_EQ(response->body, "Forbidden: not a name of this server\n");
      }
    }
    const auto post = client->Post("/", "x", "text/plain");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, c.status == 403 ? 403 : 405) << c.host;
  }
}

TEST(PreviewServer, WantsOneHostFromHttp11AndNoneFromHttp10) {
  ServedSite site;
  const struct {
    const char* request;
    const char* statusLine;
  } cases[] = {
      {"GET / HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET / HTTP/1.0\r\nHost: evil.example\r\n\r\n", "HTTP/1.1 403 Forbidden"},
      {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET / HTTP/1.1\r\nHost: localhost\r\nHost: evil.example\r\nConnection: close\r\n\r\n",
       "HTTP/1.1 400 Bad Request"},
  };
  for (const auto& c : cases) {
    RawConnection connection(site.server().port());
    ASSERT_TRUE(connection.send(c.request));
    const std::string answer = connection.readUntil("\r\n\r\n");
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), c.statusLine) << c.request;
  }
}

TEST(PreviewServer, AnswersOneByteRangeOfFilesAndOfPagesAsSent) {
  ServedSite site;
  site.dir().write("site/digits.bin", "0123456789");
  site.dir().write("site/empty.txt", "");
  const std::string page = site.client()->Get("/")->body;
  ASSERT_GT(page.size(), 20u);
  const std::string pageSize = std::to_string(page.size());
  const std::string notFound = site.client()->Get("/missing.bin")->body;
  const struct {
    const char* target;
    const char* range;
    int status;
    std::string contentRange;
    std::string body;
  } cases[] = {
      {"/digits.bin", "bytes=2-4", 206, "bytes 2-4/10", "234"},
      {"/digits.bin", "bytes=7-", 206, "bytes 7-9/10", "789"},
      {"/digits.bin", "bytes=-3", 206, "bytes 7-9/10", "789"},
      {"/digits.bin", "bytes=-30", 206, "bytes 0-9/10", "0123456789"},
      {"/digits.bin", "bytes=5-100", 206, "bytes 5-9/10", "56789"},
      {"/digits.bin", "bytes=9-9", 206, "bytes 9-9/10", "9"},
      {"/digits.bin", "bytes=10-", 416, "bytes */10", "Range not satisfiable\n"},
      {"/digits.bin", "bytes=10-20", 416, "bytes */10", "Range not satisfiable\n"},
      {"/digits.bin", "bytes=-0", 416, "bytes */10", "Range not satisfiable\n"},
      {"/digits.bin", "bytes=0-1,4-5", 200, "", "0123456789"},
      {"/digits.bin", "bytes=5-2", 200, "", "0123456789"},
      {"/digits.bin", "bytes=x", 200, "", "0123456789"},
      {"/digits.bin", "items=0-1", 200, "", "0123456789"},
      {"/digits.bin", "", 200, "", "0123456789"},
      {"/empty.txt", "bytes=0-", 416, "bytes */0", "Range not satisfiable\n"},
      {"/empty.txt", "", 200, "", ""},
      {"/", "bytes=0-5", 206, "bytes 0-5/" + pageSize, page.substr(0, 6)},
      {"/", "bytes=-10", 206,
       "bytes " + std::to_string(page.size() - 10) + "-" + std::to_string(page.size() - 1) + "/" +
           pageSize,
       page.substr(page.size() - 10)},
      {"/", "bytes=100000-", 416, "bytes */" + pageSize, "Range not satisfiable\n"},
      {"/missing.bin", "bytes=0-2", 404, "", notFound},
  };
  for (const auto& c : cases) {
    httplib::Headers headers;
    if (*c.range) headers.emplace("Range", c.range);
    const auto response = site.client()->Get(c.target, headers);
    ASSERT_TRUE(response) << c.target << " " << c.range;
    EXPECT_EQ(response->status, c.status) << c.target << " " << c.range;
    EXPECT_EQ(response->get_header_value("Content-Range"), c.contentRange)
        << c.target << " " << c.range;
    EXPECT_EQ(response->body, c.body) << c.target << " " << c.range;
    EXPECT_EQ(response->get_header_value("Cache-Control"), "no-store");
    if (c.status != 404) {
      EXPECT_EQ(response->get_header_value("Accept-Ranges"), "bytes") << c.target << " " << c.range;
    }
  }
  const auto conditional =
      site.client()->Get("/digits.bin", {{"Range", "bytes=2-4"}, {"If-Range", "\"x\""}});
  EXPECT_EQ(conditional->status, 200);
  EXPECT_EQ(conditional->body, "0123456789");
  const auto head = site.client()->Head("/digits.bin", {{"Range", "bytes=2-4"}});
  EXPECT_EQ(head->status, 206);
  EXPECT_EQ(head->get_header_value("Content-Length"), "3");
  EXPECT_TRUE(head->body.empty());
}

TEST(PreviewServer, StreamsLargeFilesWholeAndInParts) {
  ServedSite site;
  std::string large(3 << 20, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i * 7 % 26);
  site.dir().write("site/large.bin", large);
  const auto whole = site.client()->Get("/large.bin");
  ASSERT_TRUE(whole);
  EXPECT_TRUE(whole->body == large);
  const std::size_t first = 2500000;
  const auto tail = site.client()->Get(
      "/large.bin",
      {{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(first + 199999)}});
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->status, 206);
  EXPECT_TRUE(tail->body == large.substr(first, 200000));
}

// An address of this machine other than the loopback one, if it has any.
std::string otherAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string found;
  for (ifaddrs* a = list; a && found.empty(); a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    const auto* address = reinterpret_cast<sockaddr_in*>(a->ifa_addr);
    inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    if (std::string(text).rfind("127.", 0) != 0) found = text;
  }
  freeifaddrs(list);
  return found;
}

TEST(PreviewServer, ListensOnTheLoopbackAddressByDefault) {
  ServedSite site;  // the default address, on a free port
  EXPECT_EQ(site.server().url(), "http://127.0.0.1:" + std::to_string(site.server().port()) + "/");
  EXPECT_GT(site.server().port(), 0);
  const std::string other = otherAddress();
  if (other.empty()) GTEST_SKIP() << "this machine has no address besides the loopback one";
  httplib::Client outside(other, site.server().port());
  outside.set_connection_timeout(1);
  EXPECT_FALSE(outside.Get("/")) << "reachable at " << other;
}

TEST(PreviewServer, RefusesAPortInUse) {
  ServedSite site;
  PreviewServerOptions options;
  options.root = site.dir() / "site";
  options.address.port = site.server().port();
  PreviewServer second(options);
  std::string error;
  EXPECT_FALSE(second.start(error));
  EXPECT_NE(error.find(site.server().url()), std::string::npos) << error;
}

TEST(PreviewServer, DeliversEventsToOpenPagesAndTheLastErrorToNewOnes) {
  ServedSite site;
  EventStreamReader first(site.server().port());
  ASSERT_TRUE(first.waitFor("retry: 1000\n"));
  site.server().publish(kReloadEvent, {"/a.html", "/b/index.html"});
  site.server().publish(kErrorEvent, {"page.src:3: no such file", "  included from x.src:1"});
  EXPECT_TRUE(
      first.waitFor("event: reload\ndata: /a.html\ndata: /b/index.html\n\n"
                    "event: error\ndata: page.src:3: no such file\n"
                    "data:   included from x.src:1\n\n"));
  EventStreamReader late(site.server().port());
  EXPECT_TRUE(late.waitFor("retry: 1000\n\nevent: error\ndata: page.src:3"));

  site.server().publish(kCssEvent, {"/style.css"});
  EXPECT_TRUE(late.waitFor("event: css\ndata: /style.css\n\n"));
  EventStreamReader after(site.server().port());
  EXPECT_TRUE(after.waitFor(": ping"));
  site.server().stop();
}

TEST(PreviewServer, GreetsNewPagesWithTheLastLinksBesideTheLastError) {
  ServedSite site;
  site.server().publish(kErrorEvent, {"a.src:1: bad"});
  site.server().publish(kLinksEvent, {"title", "/a.html\tbroken"});
  EventStreamReader both(site.server().port());
  EXPECT_TRUE(
      both.waitFor("event: error\ndata: a.src:1: bad\n\n"
                   "event: links\ndata: title\ndata: /a.html\tbroken\n\n"));
  site.server().publish(kReloadEvent, {"/a.html"});
  EventStreamReader linksOnly(site.server().port());
  EXPECT_TRUE(linksOnly.waitFor("retry: 1000\n\nevent: links\n"));
  site.server().publish(kLinksEvent, {"title"});
  site.server().publish(kErrorEvent, {"b.src:2: worse"});
  EventStreamReader latest(site.server().port());
  EXPECT_TRUE(
      latest.waitFor("event: error\ndata: b.src:2: worse\n\nevent: links\ndata: title\n\n"));
  site.server().stop();
}

TEST(PreviewServer, CapsOpenPageConnections) {
  ServedSite site(2);
  RawConnection first(site.server().port());
  RawConnection second(site.server().port());
  auto waiting = site.client();
  waiting->set_read_timeout(0, 300000);
  EXPECT_FALSE(waiting->Get("/"));
  first.close();
  EXPECT_TRUE(site.client()->Get("/"));
}

TEST(PreviewServer, PagesNeverWaitForEventStreamsAndTheOldestStreamMakesRoom) {
  ServedSite site(2, 3);
  std::vector<std::unique_ptr<EventStreamReader>> readers;
  for (int i = 0; i < 5; ++i) {
    readers.push_back(std::make_unique<EventStreamReader>(site.server().port()));
    ASSERT_TRUE(readers.back()->waitFor("retry: 1000\n")) << i;
  }
  const std::string closing = formatEvent(kCloseEvent, {});
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(readers[i]->waitFor(closing)) << i;
    EXPECT_TRUE(pollUntil([&] { return readers[i]->ended(); }, milliseconds(5000))) << i;
  }
  for (int i = 2; i < 5; ++i) EXPECT_EQ(readers[i]->received().find(closing), std::string::npos);
  EXPECT_EQ(site.server().openStreams(), 3u);
  const auto page = site.client()->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  site.server().publish(kReloadEvent, {"/"});
  for (int i = 2; i < 5; ++i) EXPECT_TRUE(readers[i]->waitFor("event: reload\n")) << i;
}

TEST(PreviewServer, AClosedStreamGivesUpItsPlaceWithinASecond) {
  // Pings far apart, so only the server's own look at the connection finds
  // that the page went away.
  ServedSite site(32, 32, std::chrono::minutes(10));
  RawConnection leaving(site.server().port());
  RawConnection staying(site.server().port());
  ASSERT_TRUE(leaving.send(eventsRequest()) && staying.send(eventsRequest()));
  ASSERT_NE(leaving.readUntil("retry").find("retry"), std::string::npos);
  ASSERT_NE(staying.readUntil("retry").find("retry"), std::string::npos);
  ASSERT_EQ(site.server().openStreams(), 2u);
  leaving.close();
  EXPECT_TRUE(pollUntil([&] { return site.server().openStreams() == 1; }, milliseconds(1500)));
}

TEST(PreviewServer, StopEndsOpenStreams) {
  ServedSite site;
  EventStreamReader reader(site.server().port());
  ASSERT_TRUE(reader.waitFor("retry"));
  site.server().stop();
  EXPECT_TRUE(pollUntil([&] { return reader.ended(); }, milliseconds(5000)));
  EXPECT_FALSE(site.client()->Get("/"));
}

}  // namespace
}  // namespace qf
