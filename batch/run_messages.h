#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/compile_result.h"

namespace qf {

/// The texts a run tells its user.
namespace run_messages {
inline constexpr std::string_view kNoSourceDirectory =
    "You haven't specified a directory to search for files!";
inline constexpr std::string_view kNoOutputDirectory =
    "You must specify an output directory, or turn off that option.";
inline constexpr std::string_view kCompilingFiles = "Compiling files...";
/// "Can't find any .src files in directory!"
std::string noSourcesFound(std::string_view sourceExtension);
/// "dir:0: Error: Could not read directory "dir".\n"
std::string directoryNotRead(std::string_view directory);
/// "Compiling page.src"
std::string compiling(std::string_view name);
/// "Successfully Compiled 3 Files": the window's closing line of a run.
std::string compiledCount(std::size_t compiled);
/// "Successfully Compiled page.src"
std::string compiledFile(std::string_view name);
/// "Compiled 3 files, 1997 up to date, 0 failed.": the terminal's closing line
/// of a run; with a count of broken links, "..., 0 failed, 2 broken links.".
std::string compiledSummary(std::size_t compiled, std::size_t upToDate, std::size_t failed,
                            std::optional<std::size_t> brokenLinks = std::nullopt);
/// "file:line: warning: broken link \"reference\"", then problem (empty, or
/// one of the two below), then the include chain when there is one, as
/// " (included from a.src:3, from b.inc:1)", innermost first; one line with
/// its end.
std::string brokenLink(std::string_view file, long line, std::string_view reference,
                       std::string_view problem, const std::vector<IncludeSite>& includedFrom);
/// ": no element with id \"top\" in site/index.src"
std::string noElementWithId(std::string_view id, std::string_view page);
/// "; did you mean \"/about.html\"?"
std::string didYouMean(std::string_view reference);
/// Over a page's own broken links in the preview.
inline constexpr std::string_view kBrokenLinksPanelTitle = "Broken links on this page:";
/// "file:line: message\n": a failed compile, one line.
std::string failureLine(std::string_view file, long line, std::string_view message);
/// A mirrored file that could not be copied, as a failure line.
std::string assetNotCopied(std::string_view source, std::string_view destination);
/// name as a terminal line shows it: control characters (which could move
/// the cursor, clear the screen or set the window title) appear as "\x1b".
std::string escapedForTerminal(std::string_view name);
/// "qfc: warning: ...\n"
std::string warningLine(std::string_view warning);
/// "site/x: link leads outside site; not published": a warning.
std::string linkLeadsOutside(std::string_view link, std::string_view directory);
/// Why the state of a run cannot be used, one line each.
std::string stateDirectoryUnwritable(std::string_view directory);
std::string stateUnwritable(std::string_view path);
std::string stateInUse(std::string_view path);
/// Told once a run has waited a second for another run's lock on a state.
std::string waitingForState(std::string_view path);
std::string stateMovedAside(std::string_view path, std::string_view problem);
std::string stateNotWritten(std::string_view path);
/// No dependency file for a page because of a name that make and ninja
/// cannot both read (both shown through escapedForTerminal).
std::string dependencyNameUnwritable(std::string_view page, std::string_view name);
inline constexpr std::string_view kNoDependencyFileForStandardOutput =
    "-MD writes no dependency file for standard output; name one with -MF FILE or -o PATH";
/// An --exclude pattern, as given, that matched no path of the tree.
std::string excludeMatchedNothing(std::string_view pattern);
/// The warning when the watched source directory vanished, and the line when
/// it came back.
std::string sourceDirectoryGone(std::string_view directory);
std::string sourceDirectoryBack(std::string_view directory);
/// "Watching 12 files in 3 folders; serving http://127.0.0.1:8080/ (Ctrl-C to
/// stop)"; without the serving part when url is empty.
std::string watchingLine(std::size_t files, std::size_t folders, std::string_view url);
/// "14:03:59 site/a.src and 2 more: " + summary: one rebuild, at the time of
/// day given; firstChange empty for a build of everything.
std::string rebuildLine(std::string_view timeOfDay, std::string_view firstChange,
                        std::size_t otherChanges, std::string_view summary);
inline constexpr std::string_view kStopped = "Stopped.";
/// Said once when --serve holds the date and time symbols at its start.
std::string clockHeld(std::string_view moment);
/// The default port was taken and the next free one is used.
std::string portTaken(int taken, int used);
/// Added to the error for a port given with --serve that cannot be bound.
inline constexpr std::string_view kAnyFreePortHint = " (--serve=0 picks a free port)";
/// "Also at http://192.168.1.5:8080/": an address of this machine that others
/// on its network could use.
std::string alsoServedAt(std::string_view url);
/// qfc --init: the directory was not empty (nothing is written), a file or
/// directory could not be written, and what to do next once all went well.
std::string starterDirectoryNotEmpty(std::string_view directory);
std::string starterNotWritten(std::string_view path);
std::string starterWritten(std::string_view directory, std::string_view command);
/// "(and 29 other pages)": after a failure that more pages had alike.
std::string andOtherPages(std::size_t others);
}  // namespace run_messages

}  // namespace qf
