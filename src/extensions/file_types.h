#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace qu {

// What a path is, judged from the path itself: a symbolic link is never taken
// for what it points to. A path that does not exist (a dangling link included)
// or cannot be examined is none of the three.
bool isSymbolicLink(Platform& platform, const std::string& path);
bool isFile(Platform& platform, const std::string& path);
bool isDirectory(Platform& platform, const std::string& path);

// Whether a directory counts as empty: no entries, or a single entry whose
// name contains ".DS_Store". A directory whose entries cannot be listed is
// never empty. Nothing when the path does not exist or is not a directory.
std::optional<bool> directoryIsEmptyIfPresent(Platform& platform, const std::string& path);

// As above for a path the caller has just seen to be a directory.
// Throws std::invalid_argument ("File does not exist at path." or
// "Path is not a directory.") when that is not so: a caller's error.
bool directoryIsEmpty(Platform& platform, const std::string& path);

}  // namespace qu
