// qfc --check-links on real sites: every reference form, the places reported,
// and runs that leave the linking page untouched.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/directory.h"
#include "base/file_system.h"
#include "base/test_util.h"
#include "testing/qfc_process.h"

namespace qf {
namespace {

std::multiset<std::string> linesOf(const std::string& text) {
  std::multiset<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

class LinkCheckTest : public ::testing::Test {
 protected:
  ProgramResult build(const std::vector<std::string>& extra = {"--check-links"}) {
    std::vector<std::string> arguments = {
        "--all", "site", "-r", "--out-dir", "out", "--state", "state/site.sqlite"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return qfc_.run(arguments, dir_.path(), {"SOURCE_DATE_EPOCH=1767791220"});
  }
  // The closing line a terminal would show.
  std::string summaryOf(const std::string& arguments) {
    return qfc_.terminalSummary(arguments, dir_.path());
  }
  QfcProcess qfc_;
  TempDir dir_;
};

TEST_F(LinkCheckTest, ReportsEachBrokenReferenceAtTheLineThatWroteIt) {
  struct Case {
    std::string html;     // one line of site/docs/index.src
    std::string problem;  // after "broken link", or empty when the reference holds
  } cases[] = {
      {"<a href=\"page.html\">", ""},
      {"<a href=\"paeg.html\">", " \"paeg.html\""},
      {"<a href=\"/about.html\">", ""},
      {"<a href=\"/docs/about.html\">", " \"/docs/about.html\""},
      {"<a href=\"../about.html?v=1\">", ""},
      {"<a href=\"/files/\"> <a href=\"/files\">", ""},
      {"<a href=\"/empty/\">", " \"/empty/\""},
      {"<p id=\"here\"><a href=\"#here\"> <a href=\"page.html#there\">", ""},
      {"<a href=\"#nowhere\">",
       " \"#nowhere\": no element with id \"nowhere\" in site/docs/index.src"},
      {"<a href=\"page.html#gone\">",
       " \"page.html#gone\": no element with id \"gone\" in site/docs/page.src"},
      {"<img srcset=\"/logo.png 1x, /logo@2.png 2x\" src=\"/logo.png\">", " \"/logo@2.png\""},
      {"<a href=\"/About.html\">", " \"/About.html\"; did you mean \"/about.html\"?"},
      {"<a href=\"https://x.org/\"><a href=\"mailto:a@x\"><img src=\"data:,\"><a href=\"//x/y\">",
       ""},
      {"<video poster=\"still.jpg\"></video>", " \"still.jpg\""},
      {"<meta http-equiv=\"refresh\" content=\"0; url=moved.html\">", " \"moved.html\""},
      {"<a href=\"my%20notes.txt\">", ""},
      {"<script src=\"/js/app.js\"></script>", ""},
  };
  std::string page;
  std::multiset<std::string> expected;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    page += cases[i].html + "\n";
    if (cases[i].problem.empty()) continue;
    expected.insert("site/docs/index.src:" + std::to_string(i + 1) + ": warning: broken link" +
                    cases[i].problem);
  }
  // A link in an include, used by two pages, is reported for each.
  page += "#include \"../menu.inc\"\n";
  dir_.write("site/menu.inc", "<nav>\n<a href=\"/abut.html\">\n</nav>\n");
  dir_.write("site/about.src", "#include \"menu.inc\"\n");
  expected.insert(
      "site/docs/../menu.inc:2: warning: broken link \"/abut.html\" (included from "
      "site/docs/index.src:" +
      std::to_string(std::size(cases) + 1) + ")");
  expected.insert(
      "site/menu.inc:2: warning: broken link \"/abut.html\" (included from "
      "site/about.src:1)");
  dir_.write("site/docs/index.src", page);
  dir_.write("site/docs/page.src", "<h2 id=there>\n");
  dir_.write("site/docs/my notes.txt", "");
  dir_.write("site/files/index.html", "");
  dir_.write("site/logo.png", "");
  dir_.write("site/js/app.js", "");
  makeDirectories(dir_ / "site/empty");
  const ProgramResult r = build();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(linesOf(r.err), expected);
  EXPECT_EQ(build({"--check-links=error"}).exitCode, 1);
  EXPECT_EQ(build({"--check-links", "-B"}).err, r.err);
  if (!pathExists("/usr/bin/script")) GTEST_SKIP() << "no 'script' to give qfc a terminal";
  const std::string run = "--all site -r --out-dir out --state state/site.sqlite";
  EXPECT_EQ(summaryOf(run + " --check-links"), "Compiled 0 files, 3 up to date, 0 failed, " +
                                                   std::to_string(expected.size()) +
                                                   " broken links.");
  EXPECT_EQ(summaryOf(run), "Compiled 0 files, 3 up to date, 0 failed.");
}

TEST_F(LinkCheckTest, AnUntouchedPageSeesWhatItLinksToChange) {
  dir_.write("site/index.src", "<a href=\"about.html#team\">\n<img src=\"logo.png\">\n");
  dir_.write("site/about.src", "<h2 id=\"team\">\n");
  dir_.write("site/logo.png", "");
  EXPECT_EQ(build().err, "");
  const std::string brokenAbout = "site/index.src:1: warning: broken link \"about.html#team\"";
  // The linking page stays up to date throughout: its links come from the state.
  struct Step {
    std::string what;
    std::function<void(TempDir&)> change;
    std::multiset<std::string> expected;
    std::string summary;
  } steps[] = {
      {"the target's id goes",
       [](TempDir& d) { d.write("site/about.src", "<h2 id=\"staff\">\n"); },
       {brokenAbout + ": no element with id \"team\" in site/about.src"},
       "Compiled 1 file, 1 up to date, 0 failed, 1 broken link."},
      {"the id comes back",
       [](TempDir& d) { d.write("site/about.src", "<h2 id=team>\n"); },
       {},
       "Compiled 1 file, 1 up to date, 0 failed, 0 broken links."},
      {"the target page goes",
       [](TempDir& d) { removeFile(d / "site/about.src"); },
       {brokenAbout},
       "Compiled 0 files, 1 up to date, 0 failed, 1 broken link."},
      {"a picture goes",
       [](TempDir& d) { removeFile(d / "site/logo.png"); },
       {brokenAbout, "site/index.src:2: warning: broken link \"logo.png\""},
       "Compiled 0 files, 1 up to date, 0 failed, 2 broken links."},
      {"both come back",
       [](TempDir& d) {
         d.write("site/about.src", "<b id=team>\n");
         d.write("site/logo.png", "");
       },
       {},
       "Compiled 1 file, 1 up to date, 0 failed, 0 broken links."},
  };
  const bool terminal = pathExists("/usr/bin/script");
  for (const Step& step : steps) {
    step.change(dir_);
    if (terminal) {
      EXPECT_EQ(summaryOf("--all site -r --out-dir out --state state/site.sqlite --check-links"),
                step.summary)
          << step.what;
    }
    // Again (with nothing left to compile, once on a terminal), for the lines.
    const ProgramResult r = build();
    EXPECT_EQ(linesOf(r.err), step.expected) << step.what;
  }
}

}  // namespace
}  // namespace qf
