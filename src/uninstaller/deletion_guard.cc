#include "uninstaller/deletion_guard.h"

#include <cstddef>

namespace qu {

bool isSafeToDelete(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  // The system calls would stop at a NUL and act on a shorter path.
  if (path.find('\0') != std::string_view::npos) return false;
  // Asked once per deleted path, so the components are walked in place.
  int depth = 0;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view component = path.substr(start, end - start);
    if (component == "..") return false;
    if (!component.empty() && component != ".") ++depth;
    start = end + 1;
  }
  return depth >= 2;
}

}  // namespace qu
