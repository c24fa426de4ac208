#include "cli/init_command.h"

#include <cstdio>
#include <string_view>

#include "base/directory.h"
#include "base/file_system.h"
#include "base/output_file.h"
#include "base/path.h"
#include "batch/run_messages.h"

namespace qf {

namespace {

struct StarterFile {
  std::string_view path;  // below the site's directory
  std::string_view text;
};

// Two pages sharing a head and a foot; the head takes the page's title, the
// home page places a picture by its measured size.
constexpr StarterFile kStarterSite[] = {
    {"index.src", R"(#define PAGE_TITLE Home
#include "parts/head.inc"
<h1>Welcome</h1>
<p>This page is made from <code>index.src</code>. Edit it, save, and the
browser shows the change.</p>
#fileinfo "img/mark.svg"
<p><img src="_FILENAME_" width="_FILEW_" height="_FILEH_" alt="A mark"></p>
#include "parts/foot.inc"
)"},
    {"about.src", R"(#define PAGE_TITLE About
#include "parts/head.inc"
<h1>About</h1>
<p>The head and the foot of every page come from <code>parts/</code>.</p>
#include "parts/foot.inc"
)"},
    {"parts/head.inc", R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>PAGE_TITLE</title>
<link rel="stylesheet" href="style.css">
</head>
<body>
<nav><a href="index.html">Home</a> <a href="about.html">About</a></nav>
<main>
)"},
    {"parts/foot.inc", R"(</main>
<footer>Built on _MONTH_ _DAY_, _YEAR_.</footer>
</body>
</html>
)"},
    {"style.css",
     R"(body { font: 18px/1.5 sans-serif; max-width: 40em; margin: 2em auto; padding: 0 1em; }
nav a { margin-right: 1em; }
footer { margin-top: 3em; color: #666; font-size: 80%; }
)"},
    {"img/mark.svg",
     R"(<svg xmlns="http://www.w3.org/2000/svg" width="120" height="40" viewBox="0 0 120 40">
<rect width="120" height="40" rx="8" fill="#2a6f97"/>
<circle cx="20" cy="20" r="10" fill="#fff"/>
</svg>
)"},
};

bool writeText(const std::string& path, std::string_view text) {
  OutputFile file;
  if (!makeDirectories(directoryOf(path)) || !file.open(path)) return false;
  file.write(text);
  return file.commit();
}

// word as a shell reads it back: quoted when it holds anything but plain
// name characters.
std::string forShell(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                              "0123456789_./-+=:,@%") == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string starterPreviewCommand(const std::string& directory) {
  // The pages name their parts relative to themselves: no include directory.
  return "qfc --all " + forShell(directory) + " -r --out-dir public --serve --open";
}

int writeStarterSite(const std::string& directory) {
  if (const auto entries = listDirectory(directory); entries && !entries->empty()) {
    std::fputs(run_messages::starterDirectoryNotEmpty(directory).c_str(), stderr);
    return 1;
  } else if (!entries && statusOf(directory)) {
    std::fputs(run_messages::starterNotWritten(directory).c_str(), stderr);
    return 1;
  }
  const std::string base = withTrailingSlash(directory);
  for (const StarterFile& file : kStarterSite) {
    if (!writeText(base + std::string(file.path), file.text)) {
      std::fputs(run_messages::starterNotWritten(base + std::string(file.path)).c_str(), stderr);
      return 1;
    }
  }
  std::fputs(run_messages::starterWritten(directory, starterPreviewCommand(directory)).c_str(),
             stdout);
  return 0;
}

}  // namespace qf
