#include "serve/content_type.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(ContentTypeFor, KnowsTheWebsFileTypes) {
  const struct {
    const char* name;
    const char* type;
  } cases[] = {
      {"index.html", "text/html"},
      {"old.HTM", "text/html"},
      {"css/site.css", "text/css"},
      {"app.js", "text/javascript"},
      {"mod.mjs", "text/javascript"},
      {"data.json", "application/json"},
      {"logo.svg", "image/svg+xml"},
      {"a.png", "image/png"},
      {"a.jpg", "image/jpeg"},
      {"a.JPEG", "image/jpeg"},
      {"a.gif", "image/gif"},
      {"a.webp", "image/webp"},
      {"a.avif", "image/avif"},
      {"favicon.ico", "image/vnd.microsoft.icon"},
      {"f.woff", "font/woff"},
      {"f.woff2", "font/woff2"},
      {"robots.txt", "text/plain; charset=utf-8"},
      {"feed.xml", "application/xml"},
      {"doc.pdf", "application/pdf"},
      {"page.src", "application/octet-stream"},
      {"Makefile", "application/octet-stream"},
      {"dir.html/file", "application/octet-stream"},
  };
  for (const auto& c : cases) EXPECT_EQ(contentTypeFor(c.name), c.type) << c.name;
}

}  // namespace
}  // namespace qf
