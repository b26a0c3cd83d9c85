#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace qu {

// The write(2) used for a temporary file's contents; tests replace it to
// make a write fail part way through.
using WriteCall = std::function<ssize_t(int fd, const void* data, std::size_t size)>;
// Makes a written file durable: 0 or an errno. By default fsync(2); the
// real platform passes the system's strongest flush.
using SyncCall = int (*)(int fd);

// Replaces the file at `path` with `bytes`: a temporary file in the same
// directory is written, flushed to disk and renamed over the target. An
// existing target keeps its permission bits, owner and group; a new file gets
// 0644. On failure the target is untouched and the temporary file is removed.
// The path is resolved by the kernel, links included: only for files whose
// every directory the caller controls. An edit as root goes through
// replaceFileAt() on a directory the path walk opened.
Status replaceFileAtomically(const std::string& path, std::string_view bytes);
Status replaceFileAtomically(const std::string& path, std::string_view bytes,
                             const WriteCall& write);

// As above for the entry `name` of an open directory, which stays the
// directory written to whatever its path names meanwhile. `original` is the
// status of the file being replaced (its mode and owner are kept), or null
// for a new file. `shownPath` names the target in messages.
Status replaceFileAt(int directory, const std::string& name, std::string_view bytes,
                     const struct stat* original, const WriteCall& write,
                     const std::string& shownPath, SyncCall sync = nullptr);

}  // namespace qu
