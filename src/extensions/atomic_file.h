#pragma once

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

// Replaces the file at `path` with `bytes`: a temporary file in the same
// directory is written, flushed to disk and renamed over the target. An
// existing target keeps its permission bits, owner and group; a new file gets
// 0644. On failure the target is untouched and the temporary file is removed.
Status replaceFileAtomically(const std::string& path, std::string_view bytes);
Status replaceFileAtomically(const std::string& path, std::string_view bytes,
                             const WriteCall& write);

}  // namespace qu
