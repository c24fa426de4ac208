#include "base/html_document.h"

#include <gtest/gtest.h>

#include <string>

namespace qf {
namespace {

TEST(HtmlDocument, FindsOnlyEndTagsTheParserTakesAsSuch) {
  const struct {
    const char* html;
    const char* tag;
    std::optional<std::size_t> offset;
  } cases[] = {
      {"<head><title>t</title></head><body>b</body>", "head", 22},
      {"<head><title>t</title></head><body>b</body>", "body", 36},
      {"<HTML><HEAD></HEAD ></HTML>", "head", 12},
      {"<head><script>var s = '</head>';</script></head>", "head", 41},
      {"<head><!-- </head> --></head>", "head", 22},
      {"<head><title></head></title></head>", "head", 28},
      {"<head><style>a::after { content: '</head>' }</style></head>", "head", 52},
      {"<body><textarea></body></textarea></body>", "body", 34},
      {"<head><title>t</title><p>implied</p></head>", "head", std::nullopt},
      {"<head><title>t</title></body>", "head", std::nullopt},
      {"<p>no head written</p>", "head", std::nullopt},
      {"<body>a</body><p>x</p></BODY>", "body", 22},
      {"<p>x</p>", "table", std::nullopt},
      {"", "body", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HtmlDocument(c.html).endTagOffset(c.tag), c.offset) << c.html << " " << c.tag;
  }
}

TEST(HtmlDocument, VisitsElementsInOrderWithAttributesAndLines) {
  const std::string html =
      "<!doctype html>\n<html><head>\n<link rel=stylesheet HREF='a.css'>\n</head>\n"
      "<body><A href=\"b.html?x=1&amp;y=2\">b</a><my-Widget data-x=1></my-widget>\n"
      "<!-- <img src=c.png> --></body></html>";
  std::string seen;
  HtmlDocument(html).forEachElement([&](const HtmlDocument::Element& element) {
    seen += element.tag + "@" + std::to_string(element.line);
    for (const auto& a : element.attributes) {
      seen += " " + std::string(a.name) + "=" + std::string(a.value);
    }
    seen += ";";
  });
  EXPECT_EQ(seen,
            "html@2;head@2;link@3 rel=stylesheet href=a.css;body@5;"
            "a@5 href=b.html?x=1&y=2;my-widget@5 data-x=1;");
}

}  // namespace
}  // namespace qf
