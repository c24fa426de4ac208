#include "batch/file_list_codec.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>

namespace qf {
namespace {

// Numbers paths in the order first asked, as the state does.
class PathNumbers {
 public:
  std::optional<long long> numberOf(const std::string& path) {
    const auto [at, added] = numbers_.emplace(path, static_cast<long long>(paths_.size()) + 1);
    if (added) paths_[at->second] = path;
    return at->second;
  }
  const SharedPath* pathOf(long long number) const {
    const auto found = paths_.find(number);
    return found == paths_.end() ? nullptr : &found->second;
  }

 private:
  std::map<std::string, long long> numbers_;
  std::map<long long, SharedPath> paths_;
};

std::vector<Dependency> roundTrip(const std::vector<Dependency>& files, PathNumbers& numbers) {
  const auto bytes =
      encodeFileList(files, [&](const std::string& path) { return numbers.numberOf(path); });
  EXPECT_TRUE(bytes);
  std::vector<Dependency> decoded;
  EXPECT_TRUE(decodeFileList(
      *bytes, [&](long long number) { return numbers.pathOf(number); }, decoded));
  return decoded;
}

TEST(FileListCodec, GivesBackWhatItWasGiven) {
  const FileStatus extreme{{ULLONG_MAX, ULLONG_MAX}, true, LLONG_MAX, LLONG_MIN, LLONG_MAX};
  const FileStatus early{{0, 1}, true, 0, -1'000'000'000, -2'000'000'000'000};
  const FileStatus usual{{65024, 11428345}, true, 7982, 1796680018392346326, 1796680018392346327};
  const std::vector<std::vector<Dependency>> cases = {
      {},
      {{DependencyKind::kRead, "page.src", usual}},
      {{DependencyKind::kRead, "page.src", usual},
       {DependencyKind::kMissing, "sub/header.inc", {}},
       {DependencyKind::kIncluded, "inc/header.inc", extreme},
       {DependencyKind::kFound, "logo.png", {}},
       {DependencyKind::kIncluded, "inc/old.inc", early},
       {DependencyKind::kRead, std::string("a\nb\0c", 5), usual}},
  };
  PathNumbers numbers;
  for (const auto& files : cases) EXPECT_EQ(roundTrip(files, numbers), files);
}

TEST(FileListCodec, APathWithoutANumberGivesNoBytes) {
  const std::vector<Dependency> files = {{DependencyKind::kFound, "a.inc", {}}};
  EXPECT_FALSE(encodeFileList(files, [](const std::string&) { return std::nullopt; }));
}

TEST(FileListCodec, RefusesBytesItNeverMakes) {
  PathNumbers numbers;
  numbers.numberOf("page.src");
  const std::map<std::string, std::string> cases = {
      {"kind out of range", std::string("\x04\x01", 2)},
      {"unknown path number", std::string("\x03\x63", 2)},
      {"kind without a path", std::string("\x03", 1)},
      {"status cut short", std::string("\x00\x01\x05\x06", 4)},
      {"number never ended", std::string("\x03\x81", 2)},
      {"number too long", std::string("\x03") + std::string(11, '\xff')},
  };
  for (const auto& [what, bytes] : cases) {
    std::vector<Dependency> files;
    EXPECT_FALSE(decodeFileList(
        bytes, [&](long long number) { return numbers.pathOf(number); }, files))
        << what;
  }
}

}  // namespace
}  // namespace qf
