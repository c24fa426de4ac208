#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// The name of standard input as an input, and of standard output as an output.
inline constexpr std::string_view kStandardStream = "-";

/// What a batch run is asked to do, whichever front end asks. Directory texts
/// are empty or end in '/'.
struct BatchOptions {
  std::string sourceDirectory;
  std::string outputDirectory;  // used only when useOutputDirectory is set
  std::string includeDirectory;
  std::string sourceExtension = ".src";
  std::string outputExtension = ".html";
  bool useOutputDirectory = false;
  bool recursive = false;
};

/// One compile of a run: a source and where its page goes.
struct PlannedCompile {
  std::string item;    // the source relative to the source directory ("" for a lone file)
  std::string input;   // the source's path as the compiler opens it
  std::string output;  // the page's path ("-": standard output)
};

/// The compiles of a run over options.sourceDirectory, in the order the
/// source list gives. Empty when no source is found.
std::vector<PlannedCompile> planDirectoryRun(const BatchOptions& options);
/// The same; unreadableDirectories gets every directory of the walk that
/// could not be read.
std::vector<PlannedCompile> planDirectoryRun(const BatchOptions& options,
                                             std::vector<std::string>& unreadableDirectories);

/// The compile of one source file whose page goes beside it; the page of
/// standard input goes to standard output.
PlannedCompile planLoneFile(std::string_view input, std::string_view outputExtension);

/// The output path of a listed source file: the output directory (when used)
/// or the source directory, plus item without its extension, plus the output
/// extension.
std::string outputPathFor(const BatchOptions& options, std::string_view item);

/// Makes the directories that compile's page needs under the output
/// directory. Does nothing when pages go beside their sources. A directory
/// that cannot be made shows up as the compile's failure to open its output.
/// With lastMade, a directory equal to it is taken as made, and one made is
/// kept there: a run of pages in one directory looks at it once.
void prepareOutputDirectory(const BatchOptions& options, const PlannedCompile& compile,
                            std::string* lastMade = nullptr);

/// Puts a '.' in front when missing; a result shorter than 2 becomes ".html".
std::string normalizeOutputExtension(std::string_view outputExtension);

}  // namespace qf
