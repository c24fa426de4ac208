#include "serve/content_type.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(ContentTypeFor, GoesByTheLastNamesExtensionInAnyCase) {
  const struct {
    const char* name;
    const char* type;
  } cases[] = {
      {"index.html", "text/html"},
      {"old.HTM", "text/html"},
      {"css/site.css", "text/css"},
      {"a.JPEG", "image/jpeg"},
      {"archive.tar.gz", "application/octet-stream"},
      {"page.src", "application/octet-stream"},
      {"Makefile", "application/octet-stream"},
      {".css", "text/css"},
      {"dir.html/file", "application/octet-stream"},
  };
  for (const auto& c : cases) EXPECT_EQ(contentTypeFor(c.name), c.type) << c.name;
}

}  // namespace
}  // namespace qf
