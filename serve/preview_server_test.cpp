#include "serve/preview_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include "base/test_util.h"
#include "serve/event_stream_reader.h"
#include "serve/live_reload.h"

namespace qf {
namespace {

using std::chrono::milliseconds;

// A server on a free loopback port over dir/site, with dir/secret beside it.
class ServedSite {
 public:
  explicit ServedSite(int maxConnections = 32) {
    dir_.write("secret", "SECRET");
    dir_.write("site/index.html", "<html><head><title>home</title></head><body>home</body></html>");
    dir_.write("site/sub/index.html", "<p>sub</p>");
    dir_.write("site/empty/.keep", "");
    PreviewServerOptions options;
    options.root = dir_ / "site";
    options.address.port = 0;
    options.maxConnections = maxConnections;
    options.streamPing = milliseconds(100);
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
  EXPECT_EQ(ServeAddress().host, "127.0.0.1");
  EXPECT_EQ(ServeAddress().port, 8080);
  ServedSite site;
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

TEST(PreviewServer, CapsOpenConnections) {
  ServedSite site(2);
  auto first = std::make_unique<EventStreamReader>(site.server().port());
  auto second = std::make_unique<EventStreamReader>(site.server().port());
  ASSERT_TRUE(first->waitFor("retry") && second->waitFor("retry"));
  auto waiting = site.client();
  waiting->set_read_timeout(0, 300000);
  EXPECT_FALSE(waiting->Get("/"));
  first->stop();  // the stream ends at its next ping
  first.reset();
  EXPECT_TRUE(site.client()->Get("/"));
  second.reset();
}

TEST(PreviewServer, StopEndsOpenStreams) {
  ServedSite site;
  EventStreamReader reader(site.server().port());
  ASSERT_TRUE(reader.waitFor("retry"));
  site.server().stop();
  for (int i = 0; i < 500 && !reader.ended(); ++i) std::this_thread::sleep_for(milliseconds(10));
  EXPECT_TRUE(reader.ended());
  EXPECT_FALSE(site.client()->Get("/"));
}

}  // namespace
}  // namespace qf
