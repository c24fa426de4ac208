#include "cli/arguments.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>

#include "base/path.h"
#include "batch/batch_run.h"
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

std::optional<long long> parseDecimal(const std::string& text, long long low, long long high) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

// Reads arguments one at a time; an option's value is the next argument, or
// the part after '=' in "--name=value".
class ArgumentReader {
 public:
  explicit ArgumentReader(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  bool done() const { return next_ >= arguments_.size(); }
  std::string take() { return arguments_[next_++]; }
  bool takeValue(const std::string& option, std::optional<std::string> inlineValue,
                 std::string& value, std::string& error) {
    if (inlineValue) {
      value = *inlineValue;
      return true;
    }
    if (done()) {
      error = "option '" + option + "' needs a value";
      return false;
    }
    value = take();
    return true;
  }

 private:
  const std::vector<std::string>& arguments_;
  std::size_t next_ = 0;
};

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

// Applies one option that takes a value.
bool applyValueOption(const std::string& name, const std::string& value, QfcOptions& options,
                      std::string& error) {
  if (name == "-o" || name == "--output") {
    options.output = value;
  } else if (name == "-e" || name == "--ext") {
    options.outputExtension = normalizeOutputExtension(value);
  } else if (name == "-I" || name == "--include-dir") {
    options.includeDirectory = withTrailingSlash(value);
  } else if (name == "--out-dir") {
    options.outDirectory = withTrailingSlash(value);
  } else if (name == "--all") {
    if (value.empty()) {
      error = "'--all' needs a directory";
      return false;
    }
    options.allDirectory = withTrailingSlash(value);
    options.allDirectoryAsGiven = value;
  } else if (name == "--directive-char") {
    return parseCharacter(name, value, options.directiveChar, error);
  } else if (name == "--concat-char") {
    return parseCharacter(name, value, options.concatChar, error);
  } else if (name == "-D" || name == "--define") {
    return parseDefinition(value, options, error);
  } else if (name == "-j" || name == "--jobs") {
    const auto jobs = parseDecimal(value, 0, 1024);
    if (!jobs) {
      error = "'" + name + " " + value + "': jobs is a number from 0 to 1024";
      return false;
    }
    options.jobs = static_cast<int>(*jobs);
  } else {
    error = "unknown option '" + name + "'";
    return false;
  }
  return true;
}

bool takesValue(const std::string& name) {
  static const char* const kValueOptions[] = {
      "-o", "--output", "-e", "--ext", "-I", "--include-dir", "--out-dir", "--all",
      "--directive-char", "--concat-char", "-D", "--define", "-j", "--jobs"};
  for (const char* option : kValueOptions) {
    if (name == option) return true;
  }
  return false;
}

bool applyFlag(const std::string& name, QfcOptions& options) {
  if (name == "-r" || name == "--recursive") {
    options.recursive = true;
  } else if (name == "-q" || name == "--quiet") {
    options.quiet = true;
  } else if (name == "--help" || name == "-h") {
    options.help = true;
  } else if (name == "--version") {
    options.version = true;
  } else {
    return false;
  }
  return true;
}

bool checkCombinations(const QfcOptions& options, std::string& error) {
  const bool all = !options.allDirectory.empty();
  if (all && !options.files.empty()) {
    error = "give either FILE... or --all DIR, not both";
  } else if (!all && options.files.empty()) {
    error = "no input: give FILE... or --all DIR";
  } else if (options.output && (all || options.files.size() != 1)) {
    error = "'-o' takes exactly one FILE";
  } else if (!all && options.recursive) {
    error = "'-r' goes with --all";
  } else if (!all && !options.outDirectory.empty()) {
    error = "'--out-dir' goes with --all";
  } else {
    return true;
  }
  return false;
}

}  // namespace

std::optional<QfcOptions> parseArguments(const std::vector<std::string>& arguments,
                                         std::string& error) {
  QfcOptions options;
  ArgumentReader reader(arguments);
  bool onlyFiles = false;
  while (!reader.done()) {
    std::string argument = reader.take();
    if (onlyFiles || argument.size() < 2 || argument[0] != '-') {
      options.files.push_back(std::move(argument));
      continue;
    }
    if (argument == "--") {
      onlyFiles = true;
      continue;
    }
    std::optional<std::string> inlineValue;
    if (argument.rfind("--", 0) == 0) {
      const std::size_t equals = argument.find('=');
      if (equals != std::string::npos) {
        inlineValue = argument.substr(equals + 1);
        argument.resize(equals);
      }
    }
    if (takesValue(argument)) {
      std::string value;
      if (!reader.takeValue(argument, inlineValue, value, error) ||
          !applyValueOption(argument, value, options, error)) {
        return std::nullopt;
      }
    } else if (inlineValue || !applyFlag(argument, options)) {
      error = inlineValue ? "option '" + argument + "' takes no value"
                          : "unknown option '" + argument + "'";
      return std::nullopt;
    }
  }
  if (options.help || options.version) return options;
  if (!checkCombinations(options, error)) return std::nullopt;
  return options;
}

std::optional<std::time_t> parseSourceDateEpoch(const std::string& value) {
  const auto seconds = parseDecimal(value, 0, std::numeric_limits<long long>::max());
  if (!seconds) return std::nullopt;
  return static_cast<std::time_t>(*seconds);
}

const char* usageText() {
  return R"(Usage: qfc [OPTIONS] FILE...      compile each FILE; the output is FILE without
                                   its extension plus the output extension
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
  -q, --quiet              no progress line and no summary
      --help               show this text
      --version            show the version

Options take their value as the next argument or as --name=value.

Exit status: 0 when every file compiled; 1 when any failed (the others are
still compiled) or --all found no source; 2 for bad usage.

Each failed file gives one line on standard error:
  FILE:LINE: MESSAGE

Environment: SOURCE_DATE_EPOCH (seconds since 1970) fixes the compile time of
the date and time symbols, for reproducible builds.
)";
}

}  // namespace qf
