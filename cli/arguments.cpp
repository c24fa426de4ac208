#include "cli/arguments.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <limits>

#include "base/file_system.h"
#include "base/local_time.h"
#include "base/path.h"
#include "batch/build_plan.h"
#include "batch/name_pattern.h"
#include "engine/symbol.h"

namespace qf {

namespace {

bool isSymbolName(const std::string& name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (!isSymbolChar(c)) return false;
  }
  return true;
}

// Decimal digits only (no sign, no blanks) for a value from low to high;
// from_chars refuses what does not fit instead of wrapping around.
std::optional<long long> parseDecimal(std::string_view text, long long low, long long high) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (failure != std::errc() || stop != end || value < low || value > high) return std::nullopt;
  return value;
}

bool parseCharacter(const std::string& option, const std::string& value, char& target,
                    std::string& error) {
  if (value.size() != 1) {
    error = "option '" + option + "' takes exactly one character, not '" + value + "'";
    return false;
  }
  target = value[0];
  return true;
}

bool parseDefinition(const std::string& value, QfcOptions& options, std::string& error) {
  const std::size_t equals = value.find('=');
  std::string name = value.substr(0, equals);
  if (!isSymbolName(name)) {
    error = "'-D " + value + "': a name is letters, digits and '_'";
    return false;
  }
  std::string text = equals == std::string::npos ? "" : value.substr(equals + 1);
  options.definitions.emplace_back(std::move(name), std::move(text));
  return true;
}

// Codes of the options that have no short form.
enum LongOnly : int {
  kOutDir = 256,
  kAll,
  kDirectiveChar,
  kConcatChar,
  kVersion,
  kState,
  kNoState,
  kExclude,
  kDependencyFiles,
  kDependencyFile,
  kDependencyTarget,
  kPhonyTargets,
  kDependencyDirectory,
  kWatch,
  kServe,
  kCheckLinks,
  kOpen,
  kInit,
};

// Every option qfc knows; the short options are derived from it.
const option kOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"ext", required_argument, nullptr, 'e'},
    {"include-dir", required_argument, nullptr, 'I'},
    {"recursive", no_argument, nullptr, 'r'},
    {"out-dir", required_argument, nullptr, kOutDir},
    {"all", required_argument, nullptr, kAll},
    {"directive-char", required_argument, nullptr, kDirectiveChar},
    {"concat-char", required_argument, nullptr, kConcatChar},
    {"define", required_argument, nullptr, 'D'},
    {"jobs", required_argument, nullptr, 'j'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"always-make", no_argument, nullptr, 'B'},
    {"state", required_argument, nullptr, kState},
    {"no-state", no_argument, nullptr, kNoState},
    {"exclude", required_argument, nullptr, kExclude},
    // Written as compilers spell them (-MD, -MF FILE); see compilerStyle.
    {"MD", no_argument, nullptr, kDependencyFiles},
    {"MF", required_argument, nullptr, kDependencyFile},
    {"MT", required_argument, nullptr, kDependencyTarget},
    {"MP", no_argument, nullptr, kPhonyTargets},
    {"dep-dir", required_argument, nullptr, kDependencyDirectory},
    {"watch", no_argument, nullptr, kWatch},
    {"serve", optional_argument, nullptr, kServe},
    {"check-links", optional_argument, nullptr, kCheckLinks},
    {"open", no_argument, nullptr, kOpen},
    {"init", required_argument, nullptr, kInit},
    {nullptr, 0, nullptr, 0},
};

// "-" returns every non-option in place (so files keep their order) and ":"
// reports a missing value apart from an unknown option.
std::string shortOptions() {
  std::string letters = "-:";
  for (const option* o = kOptions; o->name; ++o) {
    if (o->val >= 256) continue;
    letters += static_cast<char>(o->val);
    if (o->has_arg == required_argument) letters += ':';
  }
  return letters;
}

bool isDependencyOption(std::string_view name) {
  return name == "MD" || name == "MF" || name == "MT" || name == "MP";
}

// getopt_long reads "-MF" as -M with the value "F"; the dependency options
// are handed to it as long ones instead ("-MF x" as "--MF x", "-MFx" as
// "--MF=x"), up to a "--".
std::vector<std::string> compilerStyle(const std::vector<std::string>& arguments) {
  std::vector<std::string> translated;
  bool options = true;
  for (const std::string& argument : arguments) {
    if (argument == "--") options = false;
    if (options && argument.size() >= 3 && argument[0] == '-' && argument[1] == 'M' &&
        isDependencyOption(std::string_view(argument).substr(1, 2))) {
      const bool joined = argument.size() > 3;
      translated.push_back("--" + argument.substr(1, 2) + (joined ? "=" + argument.substr(3) : ""));
    } else {
      translated.push_back(argument);
    }
  }
  return translated;
}

// The option as the user named it: "--name" when written long, else "-c".
std::string writtenName(std::string_view argument, int code) {
  if (argument.starts_with("--")) {
    const std::string_view name = argument.substr(0, argument.find('='));
    return std::string(isDependencyOption(name.substr(2)) ? name.substr(1) : name);
  }
  return std::string("-") + static_cast<char>(code);
}

// Applies one option that takes a value; name is how it was written.
bool applyValueOption(int code, const std::string& name, const std::string& value,
                      QfcOptions& options, std::string& error) {
  switch (code) {
    case 'o':
      if (value.empty()) {
        error = "'" + name + "' needs a path";
        return false;
      }
      options.output = value;
      return true;
    case 'e': {
      if (value.find('/') != std::string::npos) {
        error = "'" + name + " " + value + "': an extension holds no '/'";
        return false;
      }
      options.outputExtension = normalizeOutputExtension(value);
      return true;
    }
    case 'I':
      options.includeDirectory = withTrailingSlash(value);
      return true;
    case kOutDir:
      options.outDirectory = withTrailingSlash(value);
      return true;
    case kAll:
      if (value.empty()) {
        error = "'--all' needs a directory";
        return false;
      }
      options.allDirectory = withTrailingSlash(value);
      options.allDirectoryAsGiven = value;
      return true;
    case kDirectiveChar:
      return parseCharacter(name, value, options.directiveChar, error);
    case kConcatChar:
      return parseCharacter(name, value, options.concatChar, error);
    case 'D':
      return parseDefinition(value, options, error);
    case kState:
      if (value.empty()) {
        error = "'" + name + "' needs a path";
        return false;
      }
      options.statePath = value;
      return true;
    case kExclude:
      if (normalExcludePattern(value).empty()) {
        error = "'" + name + " " + value + "' names no path below DIR";
        return false;
      }
      options.excludes.push_back(value);
      return true;
    case kDependencyDirectory:
      if (value.empty()) {
        error = "'" + name + "' needs a directory";
        return false;
      }
      options.dependencyDirectory = withTrailingSlash(value);
      return true;
    case kDependencyFile:
      if (value.empty()) {
        error = "'" + name + "' needs a path";
        return false;
      }
      options.dependencyFile = value;
      return true;
    case kDependencyTarget:
      options.dependencyTarget = value;
      return true;
    case kInit:
      if (value.empty()) {
        error = "'" + name + "' needs a directory";
        return false;
      }
      options.initDirectory = value;
      return true;
    case 'j': {
      const auto jobs = parseDecimal(value, 0, 1024);
      if (!jobs) {
        error = "'" + name + " " + value + "': jobs is a number from 0 to 1024";
        return false;
      }
      options.jobs = static_cast<int>(*jobs);
      return true;
    }
  }
  error = "unknown option '" + name + "'";
  return false;
}

void applyFlag(int code, QfcOptions& options) {
  switch (code) {
    case 'r':
      options.recursive = true;
      break;
    case 'q':
      options.quiet = true;
      break;
    case 'h':
      options.help = true;
      break;
    case kVersion:
      options.version = true;
      break;
    case 'B':
      options.alwaysMake = true;
      break;
    case kNoState:
      options.noState = true;
      break;
    case kDependencyFiles:
      options.dependencyFiles = true;
      break;
    case kPhonyTargets:
      options.phonyTargets = true;
      break;
    case kWatch:
      options.watch = true;
      break;
    case kOpen:
      options.open = true;
      break;
  }
}

// --serve alone, or --serve=[ADDR:]PORT (an optional value must be joined).
bool applyServe(std::string_view argument, const std::string& value, QfcOptions& options,
                std::string& error) {
  ServeAddress address;
  if (value.empty() && argument.find('=') != std::string_view::npos) {
    error = "'--serve=' needs [ADDR:]PORT";
    return false;
  }
  if (!value.empty() && !parseServeAddress(value, address, error)) {
    error = "'--serve=" + value + "': " + error;
    return false;
  }
  options.serve = address;
  options.servePortGiven = !value.empty();
  options.watch = true;
  return true;
}

// Hands the arguments to getopt_long, which wants a writable argv with the
// program name in front and keeps its place in globals: optind = 0 starts it
// afresh for each call.
class OptionScanner {
 public:
  explicit OptionScanner(const std::vector<std::string>& arguments)
      : storage_(arguments), letters_(shortOptions()) {
    storage_.insert(storage_.begin(), "qfc");
    for (std::string& argument : storage_) argv_.push_back(argument.data());
    argv_.push_back(nullptr);
    optind = 0;
    opterr = 0;
  }

  /// The next option's code (1 for a file, -1 at the end); current() is the
  /// argument it came from and value() its value.
  int next() {
    current_ = std::max(optind, 1);
    return getopt_long(static_cast<int>(storage_.size()), argv_.data(), letters_.c_str(), kOptions,
                       nullptr);
  }
  std::string_view current() const {
    return current_ < static_cast<int>(storage_.size()) ? std::string_view(storage_[current_])
                                                        : std::string_view();
  }
  std::string value() const { return optarg ? optarg : ""; }
  /// The files after "--", which getopt_long leaves unread.
  std::vector<std::string> rest() const { return {storage_.begin() + optind, storage_.end()}; }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> argv_;
  std::string letters_;
  int current_ = 1;
};

// The long options that name, a prefix given as "--name[=value]", could
// stand for; none when it names one exactly.
std::vector<std::string> candidatesFor(std::string_view argument) {
  const std::string_view name = argument.substr(2, argument.find('=') - 2);
  std::vector<std::string> candidates;
  for (const option* o = kOptions; o->name; ++o) {
    const std::string_view known = o->name;
    if (known == name) return {};
    if (known.starts_with(name)) candidates.push_back(writtenName("--" + std::string(known), 0));
  }
  return candidates;
}

bool takesValue(int code) {
  for (const option* o = kOptions; o->name; ++o) {
    if (o->val == code) return o->has_arg == required_argument;
  }
  return false;
}

bool checkCombinations(const QfcOptions& options, std::string& error) {
  const bool all = !options.allDirectory.empty();
  if (!options.initDirectory.empty()) {
    if (all || !options.files.empty() || options.watch || options.open) {
      error = "'--init' goes alone";
      return false;
    }
    return true;
  }
  if (options.open && !options.serve) {
    error = "'--open' goes with --serve";
  } else if (all && !options.files.empty()) {
    error = "give either FILE... or --all DIR, not both";
  } else if (!all && options.files.empty()) {
    error = "no input: give FILE... or --all DIR";
  } else if (options.output && (all || options.files.size() != 1)) {
    error = "'-o' takes exactly one FILE";
  } else if (!all && options.recursive) {
    error = "'-r' goes with --all";
  } else if (!all && !options.outDirectory.empty()) {
    error = "'--out-dir' goes with --all";
  } else if (!all && (!options.statePath.empty() || options.noState)) {
    error = "'--state' and '--no-state' go with --all";
  } else if (options.outDirectory.empty() && !options.excludes.empty()) {
    error = "'--exclude' goes with --out-dir";
  } else if (!all && options.checkLinks) {
    error = "'--check-links' goes with --all";
  } else if (!all && options.watch) {
    error = "'--watch' and '--serve' go with --all";
  } else if ((!options.dependencyFile.empty() || !options.dependencyTarget.empty()) &&
             (all || options.files.size() != 1)) {
    error = "'-MF' and '-MT' take exactly one FILE";
  } else {
    return true;
  }
  return false;
}

}  // namespace

std::optional<QfcOptions> parseArguments(const std::vector<std::string>& arguments,
                                         std::string& error) {
  QfcOptions options;
  OptionScanner scanner(compilerStyle(arguments));
  for (int code; (code = scanner.next()) != -1;) {
    if (code == 1) {
      options.files.push_back(scanner.value());
    } else if (code == ':') {
      error = "option '" + writtenName(scanner.current(), optopt) + "' needs a value";
      return std::nullopt;
    } else if (code == '?') {
      const std::string name = writtenName(scanner.current(), optopt);
      const bool isLong = scanner.current().starts_with("--");
      const std::vector<std::string> candidates =
          isLong && !optopt ? candidatesFor(scanner.current()) : std::vector<std::string>{};
      // A long option given a value it does not take is still named in optopt.
      if (candidates.size() > 1) {
        error = "option '" + name + "' is ambiguous; possibilities:";
        for (const std::string& candidate : candidates) error += " '" + candidate + "'";
      } else {
        error = optopt && isLong ? "option '" + name + "' takes no value"
                                 : "unknown option '" + name + "'";
      }
      return std::nullopt;
    } else if (code == kServe) {
      if (!applyServe(scanner.current(), scanner.value(), options, error)) return std::nullopt;
    } else if (code == kCheckLinks) {
      const bool joined = scanner.current().find('=') != std::string::npos;
      if (joined && scanner.value() != "error") {
        error = "'--check-links' takes no value but 'error'";
        return std::nullopt;
      }
      options.checkLinks = true;
      options.brokenLinksFail = joined;
    } else if (takesValue(code)) {
      if (!applyValueOption(code, writtenName(scanner.current(), code), scanner.value(), options,
                            error)) {
        return std::nullopt;
      }
    } else {
      applyFlag(code, options);
    }
  }
  for (std::string& file : scanner.rest()) options.files.push_back(std::move(file));
  if (options.help || options.version) return options;
  if (!checkCombinations(options, error)) return std::nullopt;
  if (!options.dependencyFile.empty() || !options.dependencyDirectory.empty()) {
    options.dependencyFiles = true;
  }
  return options;
}

std::optional<std::time_t> parseSourceDateEpoch(const std::string& value) {
  const auto seconds = parseDecimal(value, 0, std::numeric_limits<std::time_t>::max());
  if (!seconds) return std::nullopt;
  // The date symbols need a local time with a year of four digits at most.
  const auto local = localTime(static_cast<std::time_t>(*seconds));
  if (!local || local->tm_year < 1 - 1900 || local->tm_year > 9999 - 1900) return std::nullopt;
  return static_cast<std::time_t>(*seconds);
}

const char* usageText() {
  return R"(Usage: qfc [OPTIONS] FILE...      compile each FILE; the output is FILE without
                                   its extension plus the output extension;
                                   FILE '-' is standard input, compiled to
                                   standard output
       qfc [OPTIONS] --all DIR     compile every .src file in DIR

Options:
  -o, --output PATH        output path; only with exactly one FILE; '-' is
                           standard output
  -e, --ext EXT            output extension ('htm' -> '.htm', '' or '.' -> '.html');
                           default .html
  -I, --include-dir DIR    global include directory, searched after the current
                           and the input file's directories
  -r, --recursive          with --all: scan sub-directories too
      --out-dir DIR        with --all: write outputs under DIR, mirroring the tree
      --directive-char C   the character that opens directive lines (default '#')
      --concat-char C      the concatenation character (default '|')
  -D, --define NAME[=TEXT] define NAME (as TEXT, or empty) in every file, after
                           the built-in symbols, so it can shadow them
  -j, --jobs N             compile up to N files at a time (default 1; 0 = one
                           per core)
  -B, --always-make        compile every page, even those that are up to date
      --state FILE         with --all: keep the build state in FILE (default:
                           one file per source directory in
                           $XDG_CACHE_HOME/quillforge or ~/.cache/quillforge)
      --no-state           with --all: keep no state (every page is compiled)
      --exclude PATTERN    with --out-dir: leave out the pages and files whose
                           paths (relative to DIR) PATTERN matches: neither
                           compiled nor copied; '*' and '?' do not match '/';
                           a directory takes all it holds; 'dir', 'dir/',
                           './dir' and '/dir' are the same; may be repeated
  -MD                      write a make rule listing what each page read to
                           OUTPUT.d beside each output; an unchanged output
                           then gets a new modification time
  -MF FILE                 write the rule to FILE (one FILE only; implies -MD)
  -MT TARGET               name TARGET in the rule instead of the output
  -MP                      add an empty rule for every file the rule lists
      --dep-dir DIR        write the rules under DIR, at the outputs' paths
                           (below the output directory with --all), instead of
                           beside the outputs; implies -MD
      --watch              with --all: build, then watch the sources, the include
                           directory and every file the pages depend on, and
                           rebuild what changed after each save, until
                           interrupted (Ctrl-C)
      --serve[=[ADDR:]PORT]
                           --watch, and serve the output directory (or DIR when
                           compiling in place) over HTTP with pages that reload
                           themselves after each rebuild; default
                           127.0.0.1:8080, or the next free port up to 8099;
                           port 0 picks a free one. The date and time symbols
                           hold the moment it started (as SOURCE_DATE_EPOCH
                           would, which still wins when set). A missing page
                           gets the site's 404.html if there is one; /name
                           serves name.html
      --open               with --serve: open the site in the desktop's browser
                           (xdg-open) once the first build is served
      --init DIR           write a small starter site into DIR (which must be
                           missing or empty) and print the command that
                           previews it
                           127.0.0.1:8080; port 0 picks a free one
      --check-links[=error]
                           with --all: check every local link, picture and
                           fragment of the pages against the output tree and
                           warn of each broken one at the source line that
                           wrote it; with =error, broken links make the exit
                           status 1
  -q, --quiet              no progress line and no summary
  -h, --help               show this text
      --version            show the version

Options take their value as the next argument, as --name=value or joined to a
short option (-j4); short options without a value may be bundled (-rq).

With --all, a page is compiled only when something it depends on changed
since it was last compiled: its source, every file it included or examined,
a file appearing where a search found none, the options, or the text of a date
symbol it uses. A page that failed is compiled every time. An output whose
bytes are unchanged is never rewritten. With --out-dir, every other file in
DIR's whole tree (except sources, included files, paths with a component
starting with '.' or named like an editor's scratch file, and links leading
out of DIR) is copied beside the pages; outputs that qfc wrote for pages and
files since removed are removed while they are unchanged.

With --watch or --serve, each save starts such a build: a change to an
included file rebuilds exactly the pages that use it. Each rebuild prints its
failures and a line with the time of day, the first changed file and how many
more, the summary and its milliseconds; the failure lines of many pages alike
are shown once, followed by a line saying how many other pages failed so.
Ctrl-C stops it after the rebuild under way, with the state kept, and prints
"Stopped.".

Exit status: 0 when every file compiled; 1 when any failed (the others are
still compiled), --all found no source, or --check-links=error found a broken
link; 2 for bad usage.

Each failed file gives one line on standard error, preceded, when the error
is in an included file, by the files that included it:
  In file included from FILE:LINE,
                   from FILE:LINE:
  FILE:LINE: MESSAGE

With --check-links, each broken link gives one line on standard error, with
the files that included its line, if any, at its end:
  FILE:LINE: warning: broken link "REF" (included from FILE:LINE, from FILE:LINE)

Environment: SOURCE_DATE_EPOCH (seconds since 1970) fixes the compile time of
the date and time symbols, for reproducible builds.
)";
}

}  // namespace qf
