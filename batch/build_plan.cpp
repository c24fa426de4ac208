#include "batch/build_plan.h"

#include "base/directory.h"
#include "base/path.h"
#include "batch/source_list.h"

namespace qf {

std::vector<PlannedCompile> planDirectoryRun(const BatchOptions& options) {
  std::vector<std::string> unreadableDirectories;
  return planDirectoryRun(options, unreadableDirectories);
}

std::vector<PlannedCompile> planDirectoryRun(const BatchOptions& options,
                                             std::vector<std::string>& unreadableDirectories) {
  const std::string pattern = options.sourceDirectory + "*" + options.sourceExtension;
  SourceList sources;
  sources.scan(pattern, options.recursive);
  unreadableDirectories = sources.unreadableDirectories();
  std::vector<PlannedCompile> plan;
  plan.reserve(sources.count());
  for (const std::string& listed : sources.items()) {
    std::string item = listed;
    std::string input = options.sourceDirectory + item;
    std::string output = outputPathFor(options, item);
    plan.push_back({std::move(item), std::move(input), std::move(output)});
  }
  return plan;
}

PlannedCompile planLoneFile(std::string_view input, std::string_view outputExtension) {
  if (input == kStandardStream) return {{}, std::string(input), std::string(kStandardStream)};
  return {{}, std::string(input), withoutExtension(input) + std::string(outputExtension)};
}

std::string outputPathFor(const BatchOptions& options, std::string_view item) {
  const std::string& directory =
      options.useOutputDirectory ? options.outputDirectory : options.sourceDirectory;
  return withoutExtension(directory + std::string(item)) + options.outputExtension;
}

void prepareOutputDirectory(const BatchOptions& options, const PlannedCompile& compile,
                            std::string* lastMade) {
  if (!options.useOutputDirectory) return;
  std::string directory = directoryOf(compile.output);
  if (lastMade && *lastMade == directory) return;
  if (makeDirectories(directory) && lastMade) *lastMade = std::move(directory);
}

std::string normalizeOutputExtension(std::string_view outputExtension) {
  std::string normalized(outputExtension);
  if (normalized.empty() || normalized[0] != '.') normalized.insert(0, 1, '.');
  if (normalized.size() < 2) normalized = ".html";
  return normalized;
}

}  // namespace qf
