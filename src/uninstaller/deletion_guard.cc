#include "uninstaller/deletion_guard.h"

#include "extensions/text.h"

namespace qu {

bool isSafeToDelete(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  // The system calls would stop at a NUL and act on a shorter path.
  if (path.find('\0') != std::string_view::npos) return false;
  int depth = 0;
  for (const std::string& component : split(path, '/')) {
    if (component == "..") return false;
    if (component.empty() || component == ".") continue;
    ++depth;
  }
  return depth >= 2;
}

}  // namespace qu
