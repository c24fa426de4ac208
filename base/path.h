#pragma once

#include <string>
#include <string_view>

namespace qf {

// On this platform only '/' separates the names of a path; '\' and ':' are
// ordinary characters of a name.

/// The characters after the last dot of the last path component ("" if none).
std::string extensionOf(std::string_view path);

/// The path without the last dot of its last component and what follows it.
std::string withoutExtension(std::string_view path);

/// The last path component: what follows the last separator (the whole path
/// when there is none).
std::string fileNameOf(std::string_view path);

/// Cuts the path just after its last separator; a path without one becomes
/// empty.
void cutToDirectory(std::string& path);

/// The directory part of path, as cutToDirectory leaves it.
std::string directoryOf(std::string_view path);

/// A file name written inside a source, where '\' separates directories as
/// '/' does, as a path of this platform.
std::string withForwardSlashes(std::string_view nameInSource);

/// True when path holds a NUL byte: the system would stop reading it there
/// and act on its prefix, so such a path names no file.
bool holdsNul(std::string_view path);

/// Returns path with a trailing '/' added when it is not empty and lacks one.
std::string withTrailingSlash(std::string_view path);

/// path without trailing slashes ("/" stays "/").
std::string withoutTrailingSlashes(std::string_view path);

/// directory + '/' + name, without doubling a slash; name alone when
/// directory is empty (the current one), directory alone when name is.
std::string joinPath(std::string_view directory, std::string_view name);

/// path spelled plainly without looking at the disk: repeated slashes made
/// one, "." names dropped, each name followed by ".." dropped with it, ".."
/// right below "/" dropped; "." when nothing is left. A trailing '/' stays
/// (and is added where a last "." or ".." went), except after a "..".
std::string lexicallyNormal(std::string_view path);

/// The directory path lies in, as lexicallyNormal spells it ("a" for "a/b"
/// and "a/b/", "/" for "/a", "." for "a").
std::string parentOf(std::string_view path);

/// True when path is directory or lies below it, told name by name ("/site2"
/// is not inside "/site"). Both are spelled alike (both absolute, or both
/// relative to the same directory) without "." or ".." names; trailing
/// slashes do not matter. An empty directory holds nothing.
bool isInsideDirectory(std::string_view path, std::string_view directory);

/// lexicallyNormal(path) without a trailing slash ("a//b/../c/" -> "a/c").
std::string normalPath(std::string_view path);

}  // namespace qf
