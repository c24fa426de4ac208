#include "batch/run_messages.h"

namespace qf {

namespace run_messages {

std::string noSourcesFound(std::string_view sourceExtension) {
  return "Can't find any " + std::string(sourceExtension) + " files in directory!";
}

std::string directoryNotRead(std::string_view directory) {
  return failureLine(directory, 0,
                     "Error: Could not read directory \"" + std::string(directory) + "\".");
}

std::string compiling(std::string_view name) { return "Compiling " + std::string(name); }

std::string compiledCount(std::size_t compiled) {
  return "Successfully Compiled " + std::to_string(compiled) + " Files";
}

std::string compiledFile(std::string_view name) {
  return "Successfully Compiled " + std::string(name);
}

std::string compiledSummary(std::size_t compiled, std::size_t upToDate, std::size_t failed,
                            std::optional<std::size_t> brokenLinks) {
  std::string summary = "Compiled " + std::to_string(compiled) +
                        (compiled == 1 ? " file, " : " files, ") + std::to_string(upToDate) +
                        " up to date, " + std::to_string(failed) + " failed";
  if (brokenLinks) {
    summary += ", " + std::to_string(*brokenLinks) +
               (*brokenLinks == 1 ? " broken link" : " broken links");
  }
  return summary + ".";
}

std::string brokenLink(std::string_view file, long line, std::string_view reference,
                       std::string_view problem, const std::vector<IncludeSite>& includedFrom) {
  std::string text = escapedForTerminal(file) + ":" + std::to_string(line) +
                     ": warning: broken link \"" + escapedForTerminal(reference) + "\"" +
                     std::string(problem);
  for (std::size_t i = 0; i < includedFrom.size(); ++i) {
    text += i == 0 ? " (included from " : ", from ";
    text += escapedForTerminal(includedFrom[i].path) + ":" + std::to_string(includedFrom[i].line);
  }
  return text + (includedFrom.empty() ? "\n" : ")\n");
}

std::string noElementWithId(std::string_view id, std::string_view page) {
  return ": no element with id \"" + escapedForTerminal(id) + "\" in " + escapedForTerminal(page);
}

std::string didYouMean(std::string_view reference) {
  return "; did you mean \"" + escapedForTerminal(reference) + "\"?";
}

std::string failureLine(std::string_view file, long line, std::string_view message) {
  return std::string(file) + ":" + std::to_string(line) + ": " + std::string(message) + "\n";
}

std::string assetNotCopied(std::string_view source, std::string_view destination) {
  return failureLine(source, 0,
                     "Error: Could not write output file \"" + std::string(destination) + "\".");
}

std::string escapedForTerminal(std::string_view name) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      shown += c;
    } else {
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return shown;
}

std::string warningLine(std::string_view warning) {
  return "qfc: warning: " + std::string(warning) + "\n";
}

std::string linkLeadsOutside(std::string_view link, std::string_view directory) {
  return std::string(link) + ": link leads outside " + std::string(directory) + "; not published";
}

std::string stateDirectoryUnwritable(std::string_view directory) {
  return "cannot make the state directory " + std::string(directory) + "; building without state";
}

std::string stateUnwritable(std::string_view path) {
  return "cannot write the state file " + std::string(path) + "; building without state";
}

std::string stateInUse(std::string_view path) {
  return "state file " + std::string(path) + " stays in use by another run; building without state";
}

std::string waitingForState(std::string_view path) {
  return "state file " + std::string(path) + " is in use by another run; waiting for it";
}

std::string stateMovedAside(std::string_view path, std::string_view problem) {
  return "state file " + std::string(path) + " " + std::string(problem) + "; moved it to " +
         std::string(path) + ".old and building everything";
}

std::string stateNotWritten(std::string_view path) {
  return "could not write the state file " + std::string(path) + "; the next run builds everything";
}

std::string dependencyNameUnwritable(std::string_view page, std::string_view name) {
  return "no dependency file for " + escapedForTerminal(page) +
         ": make and ninja cannot both read \"" + escapedForTerminal(name) + "\"";
}

std::string excludeMatchedNothing(std::string_view pattern) {
  return "--exclude \"" + escapedForTerminal(pattern) + "\" matched nothing";
}

std::string sourceDirectoryGone(std::string_view directory) {
  return "the source directory " + escapedForTerminal(directory) +
         " is gone; waiting for it to come back";
}

std::string sourceDirectoryBack(std::string_view directory) {
  return "qfc: the source directory " + escapedForTerminal(directory) +
         " is back; watching it again\n";
}

std::string watchingLine(std::size_t files, std::size_t folders, std::string_view url) {
  std::string line = "Watching " + std::to_string(files) + (files == 1 ? " file" : " files") +
                     " in " + std::to_string(folders) + (folders == 1 ? " folder" : " folders");
  if (!url.empty()) line += "; serving " + std::string(url);
  return line + " (Ctrl-C to stop)";
}

std::string rebuildLine(std::string_view timeOfDay, std::string_view firstChange,
                        std::size_t otherChanges, std::string_view summary) {
  std::string line(timeOfDay);
  if (!firstChange.empty()) {
    line += " " + escapedForTerminal(firstChange);
    if (otherChanges > 0) line += " and " + std::to_string(otherChanges) + " more";
    line += ":";
  }
  return line + " " + std::string(summary);
}

std::string clockHeld(std::string_view moment) {
  return "qfc: the date and time symbols hold " + std::string(moment) +
         " while serving, as SOURCE_DATE_EPOCH would";
}

std::string portTaken(int taken, int used) {
  return "qfc: port " + std::to_string(taken) + " is taken; using port " + std::to_string(used);
}

std::string alsoServedAt(std::string_view url) { return "Also at " + std::string(url); }

std::string starterDirectoryNotEmpty(std::string_view directory) {
  return "qfc: " + escapedForTerminal(directory) +
         " exists and is not empty; the starter site goes into a new or empty directory\n";
}

std::string starterNotWritten(std::string_view path) {
  return "qfc: cannot write " + escapedForTerminal(path) + "\n";
}

std::string starterWritten(std::string_view directory, std::string_view command) {
  return "Wrote a starter site to " + escapedForTerminal(directory) +
         ". Preview it, rebuilt at every save, with:\n  " + std::string(command) + "\n";
}

std::string andOtherPages(std::size_t others) {
  return "(and " + std::to_string(others) + (others == 1 ? " other page)" : " other pages)");
}

}  // namespace run_messages

}  // namespace qf
