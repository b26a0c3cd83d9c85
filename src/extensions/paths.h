#pragma once

#include <string>
#include <string_view>

namespace qu {

// The path with "//", "/./", a trailing "/" and a trailing "/." collapsed:
// "/./a//b/." gives "/a/b", "/." gives "/". ".." is kept as it is, and a
// relative path is only tidied ("a/./b/" gives "a/b").
std::string normalisedPath(std::string_view path);

// Whether the path names something a removal may be asked about at all: it
// is absolute, has no ".." component and holds no NUL (the system calls
// would stop there and act on a shorter path).
bool isPlainAbsolutePath(std::string_view path);

// Whether the path is plain (see isPlainAbsolutePath) and already as
// normalisedPath() would give it, so it can be used without a copy: what a
// package's lists hold nearly always.
bool isNormalPlainAbsolutePath(std::string_view path);

// For a normalised absolute path: the directory above it ("/" for "/a") and
// its last component ("" for "/").
std::string parentPath(std::string_view normal);
std::string_view lastComponent(std::string_view normal);

// Joins a directory and a name with exactly one "/" between them.
std::string childPath(std::string_view directory, std::string_view name);

// Joins an install location and a path listed relative to it with one "/"
// when neither side has one ("/Applications" and "X.app" give
// "/Applications/X.app"); every other pair is joined as it is
// ("/" and "./X.app" give "/./X.app"). An empty path gives the location.
std::string joinInstallPath(std::string_view location, std::string_view listed);

}  // namespace qu
