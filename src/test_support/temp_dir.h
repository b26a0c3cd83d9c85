#pragma once

#include <string>

namespace qu::testing {

// A fresh directory under the system's temporary directory, deleted with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Absolute path of a relative one inside the directory.
  std::string at(const std::string& relative) const { return path_ + "/" + relative; }

  // Creates the file (and its parent directories) with the given content.
  std::string writeFile(const std::string& relative, const std::string& content,
                        unsigned mode = 0644) const;
  // Creates the directory and its parents.
  std::string makeDirectory(const std::string& relative) const;
  // Creates a symbolic link at `relative` pointing to `target` (used as is).
  std::string makeSymlink(const std::string& relative, const std::string& target) const;
  // An executable /bin/sh script with the given body after the "#!/bin/sh" line.
  std::string writeScript(const std::string& relative, const std::string& body) const;

 private:
  std::string path_;
};

// Whether anything (a dangling link included) is at the path.
bool pathPresent(const std::string& path);
std::string readWholeFile(const std::string& path);

}  // namespace qu::testing
