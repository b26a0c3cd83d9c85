#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/removal.h"
#include "platform/status.h"
#include "system/path_walk.h"

namespace qu {

// The most the tool reads of any one file: far beyond any property list or
// manifest it has reason to read, far below what would exhaust memory.
inline constexpr std::size_t kMaxReadBytes = std::size_t{64} << 20;

// What is at the path, reached as the removal reaches it (see PathWalker);
// a link at the end is reported as a link.
PathState examineWithWalk(PathWalker& walker, const std::string& path);

// The entry names of the directory at the path, reached through the walker
// and opened without following a link at its end; "." and ".." excluded,
// sorted. Nothing when it cannot be listed.
std::optional<std::vector<std::string>> listWithWalk(PathWalker& walker, const std::string& path);

// The whole content of the regular file at the path, reached through the
// walker; a link at its end is followed only when trusted by root. Opened
// without blocking, so a named pipe or a device is refused at once instead
// of hanging or never ending; more than `limit` bytes are refused too.
// Nothing when the file is missing or refused; `refusal` then says why it
// was refused (empty when it is simply not there or not readable).
std::optional<std::string> readFileWithWalk(PathWalker& walker, const std::string& path,
                                            std::size_t limit, std::string& refusal);

// Whether root alone controls what runs from the path: the file is a regular
// file owned by root and writable by no one else but the administrators'
// group, and so is every directory above it (a world-writable directory with
// the sticky bit passes when the entry inside it is root's); links on the
// way and at the end count only when trusted by root. The error says why not.
Status trustedByRootWithWalk(PathWalker& walker, const std::string& path);
// Platform::controlledByRoot() through the walker.
Status controlledByRootWithWalk(PathWalker& walker, const std::string& path);

// Why a property-list edit leaves the file at `path` alone when the walk
// finds it as `state` (a link, or reached through a refused one); ok when
// the state is no reason.
Status propertyListRefusal(const std::string& path, const PathState& state);

}  // namespace qu
