#include "extensions/paths.h"

#include <cstddef>

namespace qu {

std::string normalisedPath(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::string result;
  result.reserve(path.size());
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view component = path.substr(start, end - start);
    if (!component.empty() && component != ".") {
      if (absolute || !result.empty()) result += '/';
      result += component;
    }
    start = end + 1;
  }
  if (absolute && result.empty()) return "/";
  return result;
}

bool isPlainAbsolutePath(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  if (path.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

bool isNormalPlainAbsolutePath(std::string_view path) {
  if (path == "/") return true;
  if (path.empty() || path.front() != '/' || path.back() == '/') return false;
  // One look at every byte: each component non-empty, not "." or "..", no NUL.
  std::size_t componentStart = 1;
  for (std::size_t at = 1; at <= path.size(); ++at) {
    const char c = at < path.size() ? path[at] : '/';
    if (c == '\0') return false;
    if (c != '/') continue;
    const std::string_view component = path.substr(componentStart, at - componentStart);
    if (component.empty() || component == "." || component == "..") return false;
    componentStart = at + 1;
  }
  return true;
}

std::string parentPath(std::string_view normal) {
  const std::size_t slash = normal.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return "/";
  return std::string(normal.substr(0, slash));
}

std::string_view lastComponent(std::string_view normal) {
  const std::size_t slash = normal.rfind('/');
  return slash == std::string_view::npos ? normal : normal.substr(slash + 1);
}

std::string childPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string joinInstallPath(std::string_view location, std::string_view listed) {
  std::string path;
  path.reserve(location.size() + listed.size() + 1);
  path += location;
  if (!location.empty() && !listed.empty() && location.back() != '/' && listed.front() != '/') {
    path += '/';
  }
  path += listed;
  return path;
}

}  // namespace qu
