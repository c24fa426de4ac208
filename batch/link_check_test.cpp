#include "batch/link_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qf {
namespace {

std::vector<std::string> references(const PageLinks& links) {
  std::vector<std::string> found;
  for (const PageLink& link : links.links) found.push_back(link.reference);
  return found;
}

TEST(LinkCheck, FindsEveryLocalReferenceAndId) {
  using Strings = std::vector<std::string>;
  struct Case {
    std::string html;
    Strings references;
    Strings ids;
  } cases[] = {
      {"<a href=' a.html '>x</a><img src=b.png><video poster=c.jpg></video>",
       {"a.html", "b.png", "c.jpg"},
       {}},
      {"<img srcset='s1.png 1x, s2.png 2x,s3.png, s4.png,, s5.png' src=s.png>",
       {"s1.png", "s2.png", "s3.png", "s4.png", "s5.png", "s.png"},
       {}},
      {"<source srcset='w.jpg 100w (x,y), v.jpg'>", {"w.jpg", "v.jpg"}, {}},
      {"<meta http-equiv=Refresh content=\"5; URL='next.html'\">", {"next.html"}, {}},
      {"<meta http-equiv=refresh content=3><meta content='0;url=x.html'>", {}, {}},
      {"<a href=https://x.org/a><a href=mailto:me@x><img src='data:image/png,1'>"
       "<a href=//cdn.x/y><a href=''><a href='javascript:f()'><base href=/b/>",
       {},
       {}},
      {"<a href=C++.html></a><a href=/x:y>", {"C++.html", "/x:y"}, {}},
      {"<h1 id=top2>t</h1><a name=n></a><p name=p id=top2></p><!-- <a href=c.html> -->",
       {},
       {"n", "top2"}},
  };
  for (const Case& c : cases) {
    const PageLinks links = linksOf(c.html, nullptr, "page.src");
    EXPECT_EQ(references(links), c.references) << c.html;
    EXPECT_EQ(links.ids, c.ids) << c.html;
  }
}

TEST(LinkCheck, ReportsWhatLeadsNowhereOncePerPlaceAndReference) {
  const std::vector<std::string> ids{"here", "sp ace"};
  OutputTree tree;
  for (const char* file :
       {"index.html", "about.html", "docs/index.html", "Pics/Logo.png", "docs/a b.html"}) {
    tree.addFile(file);
  }
  tree.addPage("docs/page.html", "docs/page.src", ids);
  struct Case {
    std::string reference;
    std::string report;  // empty: the reference holds
  } cases[] = {
      {"../about.html?q=1#x", ""},
      {"/docs/", ""},
      {"/docs", ""},
      {"..", ""},
      {"./page.html#here", ""},
      {"#sp%20ace", ""},
      {"a%20b.html", ""},
      {"#top", ""},
      {"/../../about.html", ""},
      {"/Pics/Logo.png#any", ""},
      {"/docs/nothing/", "p.src:2: warning: broken link \"/docs/nothing/\"\n"},
      {"#gone",
       "p.src:2: warning: broken link \"#gone\": no element with id \"gone\" in "
       "docs/page.src\n"},
      {"/ABOUT.html",
       "p.src:2: warning: broken link \"/ABOUT.html\"; did you mean "
       "\"/about.html\"?\n"},
      {"../pics/./logo.PNG?v=2",
       "p.src:2: warning: broken link \"../pics/./logo.PNG?v=2\"; "
       "did you mean \"../Pics/./Logo.png?v=2\"?\n"},
      {"DOCS", "p.src:2: warning: broken link \"DOCS\"\n"},
      {"a%2Fb.html", "p.src:2: warning: broken link \"a%2Fb.html\"\n"},
      {"a%zz.html", "p.src:2: warning: broken link \"a%zz.html\"\n"},
  };
  for (const Case& c : cases) {
    PageLinks links;
    links.sources = {{"p.src", {}}, {"p.src", {{"other.src", 1}}}};
    links.links.push_back({c.reference, 0, 2});
    links.links.push_back({c.reference, 1, 2});
    const std::vector<std::string> found = tree.check("docs/page.html", links);
    EXPECT_EQ(found,
              c.report.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.report})
        << c.reference;
  }
}

// A letter-case suggestion names the file a walk meets first (the least in
// byte order) among those left, whatever order they were added and removed in.
TEST(LinkCheck, SuggestionsDependOnTheFilesAloneNotTheirOrder) {
  struct Case {
    std::vector<std::string> added;  // in this order
    std::string removed;             // then this, when not empty
    std::string suggestion;          // for "/DIR/PAGE.HTML"; empty: none
  } cases[] = {
      {{"dir/Page.html", "dir/page.html"}, "", "/dir/Page.html"},
      {{"dir/page.html", "dir/Page.html"}, "", "/dir/Page.html"},
      {{"dir/Page.html", "dir/page.html"}, "dir/Page.html", "/dir/page.html"},
      {{"dir/page.html", "Dir/page.html", "dir/Page.html"}, "Dir/page.html", "/dir/Page.html"},
      {{"dir/Page.html"}, "dir/Page.html", ""},
  };
  for (const Case& c : cases) {
    OutputTree tree;
    for (const std::string& file : c.added) tree.addFile(file);
    if (!c.removed.empty()) tree.removeFile(c.removed);
    PageLinks links;
    links.sources = {{"p.src", {}}};
    links.links.push_back({"/DIR/PAGE.HTML", 0, 1});
    std::string expected = "p.src:1: warning: broken link \"/DIR/PAGE.HTML\"";
    if (!c.suggestion.empty()) expected += "; did you mean \"" + c.suggestion + "\"?";
    EXPECT_EQ(tree.check("index.html", links), std::vector<std::string>{expected + "\n"})
        << c.added.size() << " files, removed " << c.removed;
    // The same files added in byte order make an equal tree.
    std::vector<std::string> files = c.added;
    std::erase(files, c.removed);
    std::sort(files.begin(), files.end());
    OutputTree sorted;
    for (const std::string& file : files) sorted.addFile(file);
    EXPECT_EQ(sorted == tree, true) << c.added.size() << " files, removed " << c.removed;
  }
}

TEST(LinkCheck, LinksSurviveTheirEncoding) {
  PageLinks links;
  links.sources = {{"in:c.inc", {{"x;y.src", 9}, {"z", 1}}}, {"", {}}};
  links.links.push_back({"a:b;1", 0, 3});
  links.links.push_back({"", 1, 0});
  links.ids = {"", "12:x"};
  const std::string text = encodeLinks(links);
  const std::optional<PageLinks> back = decodeLinks(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(encodeLinks(*back), text);
  EXPECT_EQ(back->sources[0].includedFrom[0].path, "x;y.src");
  EXPECT_EQ(back->links[1].source, 1u);
  for (const std::string& damaged : {text.substr(0, text.size() - 1), text + "0;", std::string("9"),
                                     std::string("0;1;0:2;0;0;")}) {
    EXPECT_FALSE(decodeLinks(damaged)) << damaged;
  }
}

}  // namespace
}  // namespace qf
