#include "serve/live_reload.h"

#include <gtest/gtest.h>

#include <string>

namespace qf {
namespace {

TEST(WithLiveReloadScript, GoesBeforeTheRealEndOfHeadElseOfBodyElseAtTheEnd) {
  const std::string s(liveReloadScript());
  const struct {
    const char* html;
    std::string expected;
  } cases[] = {
      {"<html><head><title>t</title></head><body>b</body></html>",
       "<html><head><title>t</title>" + s + "</head><body>b</body></html>"},
      {"<HEAD></HEAD><p></HeAd>", "<HEAD>" + s + "</HEAD><p></HeAd>"},
      {"<head><script>let h = \"</head>\";</script></head>",
       "<head><script>let h = \"</head>\";</script>" + s + "</head>"},
      {"<head><!-- </head> --></head>", "<head><!-- </head> -->" + s + "</head>"},
      {"<head><title>a </head> b</title></head>",
       "<head><title>a </head> b</title>" + s + "</head>"},
      {"<head><style>p::before { content: \"</head>\" }</style></head>",
       "<head><style>p::before { content: \"</head>\" }</style>" + s + "</head>"},
      {"<body><textarea></head></body></textarea></body>",
       "<body><textarea></head></body></textarea>" + s + "</body>"},
      {"<title>no head</title><p>text</p></body>",
       "<title>no head</title><p>text</p>" + s + "</body>"},
      {"<body>a</body><p>x</p></BODY>", "<body>a</body><p>x</p>" + s + "</BODY>"},
      {"<p>bare</p><!-- </head></body> -->", "<p>bare</p><!-- </head></body> -->" + s},
      {"<script>\"</head></body>\"", "<script>\"</head></body>\"" + s},
      {"", s},
  };
  for (const auto& c : cases) EXPECT_EQ(withLiveReloadScript(c.html), c.expected) << c.html;
}

TEST(LiveReloadScript, ListensToTheEventsPath) {
  EXPECT_NE(liveReloadScript().find("new EventSource(\"" + std::string(kEventsPath) + "\")"),
            std::string::npos);
}

TEST(FormatEvent, OneDataLinePerLineAndNoInjectedFields) {
  const struct {
    std::vector<std::string> lines;
    const char* expected;
  } cases[] = {
      {{"/a.html", "/b/index.html"}, "event: reload\ndata: /a.html\ndata: /b/index.html\n\n"},
      {{}, "event: reload\ndata: -\n\n"},
      {{"x\nevent: css\r\ndata: y\rz"},
       "event: reload\ndata: x\ndata: event: css\ndata: data: y\ndata: z\n\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatEvent(kReloadEvent, c.lines), c.expected);
}

}  // namespace
}  // namespace qf
