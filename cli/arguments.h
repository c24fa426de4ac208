#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serve/serve_address.h"

namespace qf {

/// Everything qfc was asked to do.
struct QfcOptions {
  std::vector<std::string> files;     // FILE... to compile beside themselves
  std::string allDirectory;           // --all DIR, with a trailing '/'
  std::string allDirectoryAsGiven;    // --all DIR as written, for messages
  std::optional<std::string> output;  // -o PATH; "-" is standard output
  std::string outputExtension = ".html";
  std::string includeDirectory;  // with a trailing '/'
  bool recursive = false;
  std::string outDirectory;  // with a trailing '/'
  char directiveChar = '#';
  char concatChar = '|';
  std::vector<std::pair<std::string, std::string>> definitions;  // -D NAME[=TEXT]
  int jobs = 1;                                                  // 0: one per core
  bool alwaysMake = false;                                       // -B: compile every page
  std::string statePath;              // --state FILE; empty: the default place
  bool noState = false;               // --no-state
  std::vector<std::string> excludes;  // --exclude PATTERN, as given
  bool dependencyFiles = false;       // -MD
  std::string dependencyFile;         // -MF FILE
  std::string dependencyTarget;       // -MT TARGET
  bool phonyTargets = false;          // -MP
  std::string dependencyDirectory;    // --dep-dir DIR, with a trailing '/'; implies -MD
  bool watch = false;                 // --watch, or implied by --serve
  std::optional<ServeAddress> serve;  // --serve[=[ADDR:]PORT]
  bool checkLinks = false;            // --check-links[=error]
  bool brokenLinksFail = false;       // --check-links=error: broken links make the status 1
  bool servePortGiven = false;        // --serve=... rather than the default port
  bool open = false;                  // --open
  std::string initDirectory;          // --init DIR
  bool quiet = false;
  bool help = false;
  bool version = false;
};

/// Parses qfc's arguments (without the program name). Returns the options,
/// or nullopt with error set to what is wrong.
std::optional<QfcOptions> parseArguments(const std::vector<std::string>& arguments,
                                         std::string& error);

/// Parses SOURCE_DATE_EPOCH: a decimal count of seconds. nullopt when it is
/// not one.
std::optional<std::time_t> parseSourceDateEpoch(const std::string& value);

/// The text of `qfc --help`.
const char* usageText();

}  // namespace qf
