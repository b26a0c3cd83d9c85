#pragma once

#include <string>

#include "platform/platform.h"

namespace qu {

// What a path is, judged from the path itself: a symbolic link is never taken
// for what it points to. A path that does not exist (a dangling link included)
// or cannot be examined is none of the three.
bool isSymbolicLink(Platform& platform, const std::string& path);
bool isFile(Platform& platform, const std::string& path);
bool isDirectory(Platform& platform, const std::string& path);

}  // namespace qu
