#include "test_support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qu::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "qu-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Restore permissions a test may have taken away, so everything can go.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

std::string TempDir::writeFile(const std::string& relative, const std::string& content,
                               unsigned mode) const {
  fs::path file = at(relative);
  fs::create_directories(file.parent_path());
  {
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream << content;
  }
  ::chmod(file.c_str(), mode);
  return file.string();
}

std::string TempDir::makeDirectory(const std::string& relative) const {
  fs::create_directories(at(relative));
  return at(relative);
}

std::string TempDir::makeSymlink(const std::string& relative, const std::string& target) const {
  fs::path link = at(relative);
  fs::create_directories(link.parent_path());
  fs::create_symlink(target, link);
  return link.string();
}

std::string TempDir::writeScript(const std::string& relative, const std::string& body) const {
  return writeFile(relative, "#!/bin/sh\n" + body + "\n", 0755);
}

bool pathPresent(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream content;
  content << stream.rdbuf();
  return content.str();
}

}  // namespace qu::testing
