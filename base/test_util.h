#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

/// A fresh directory under the system's temporary folder, removed with
/// everything in it when the object is destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The directory's path with a trailing '/'.
  const std::string& path() const { return path_; }
  /// path() + relative.
  std::string operator/(std::string_view relative) const;

  /// Writes a file below the directory, making missing parent directories,
  /// and returns its full path.
  std::string write(std::string_view relative, std::string_view contents) const;

 private:
  std::string path_;
};

/// The whole contents of a file; "<missing>" when it cannot be opened.
std::string readFile(const std::string& path);

/// True when a file (of any type) or link exists at path.
bool pathExists(const std::string& path);

/// Runs task in a child process as the unprivileged user "nobody" and
/// returns what it returned; nullopt when privileges cannot be dropped here.
std::optional<bool> runAsNobody(const std::function<bool()>& task);

}  // namespace qf
