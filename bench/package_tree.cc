#include "package_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <utility>
#include <stdexcept>

#include "extensions/text.h"
#include "platform/unique_fd.h"

namespace qu::bench {

PackageLayout layoutFor(const PackageShape& shape) {
  PackageLayout layout;
  const std::string resources = "/Bench.app/Contents/Resources";
  layout.directories = {"/Bench.app", "/Bench.app/Contents", resources};
  auto addFiles = [&](const std::string& directory) {
    layout.directories.push_back(directory);
    ++layout.resourceDirectories;
    for (int file = 0; file < shape.filesPerDirectory; ++file) {
      layout.files.push_back(format("%s/resource-%02d.dat", directory.c_str(), file));
    }
  };
  for (int group = 0; group < shape.groups; ++group) {
    const std::string groupDirectory = format("%s/group-%02d", resources.c_str(), group);
    addFiles(groupDirectory);
    for (int set = 0; set < shape.setsPerGroup; ++set) {
      addFiles(format("%s/set-%02d", groupDirectory.c_str(), set));
    }
  }
  return layout;
}

PackageShape shapeWithFiles(int files) {
  PackageShape shape;
  shape.groups = std::max(1, files / (shape.filesPerDirectory * (shape.setsPerGroup + 1)));
  return shape;
}

void interleaveFiles(PackageLayout& layout, const PackageShape& shape) {
  const std::size_t perDirectory = static_cast<std::size_t>(shape.filesPerDirectory);
  const std::size_t directories = layout.files.size() / perDirectory;
  std::vector<std::string> interleaved;
  interleaved.reserve(layout.files.size());
  for (std::size_t file = 0; file < perDirectory; ++file) {
    for (std::size_t directory = 0; directory < directories; ++directory) {
      interleaved.push_back(std::move(layout.files[directory * perDirectory + file]));
    }
  }
  layout.files = std::move(interleaved);
}

void createTree(const std::string& root, const PackageLayout& layout) {
  static const char kContent[] = "resource data, a few bytes so that each file has a block\n";
  for (const std::string& directory : layout.directories) {
    const std::string path = root + directory;
    if (::mkdir(path.c_str(), 0755) != 0) {
      throw std::runtime_error("mkdir " + path + ": " + std::strerror(errno));
    }
  }
  for (const std::string& file : layout.files) {
    const std::string path = root + file;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.valid() || ::write(fd.get(), kContent, sizeof kContent - 1) < 0) {
      throw std::runtime_error("create " + path + ": " + std::strerror(errno));
    }
  }
}

PathList manifestFiles(const std::string& root, const PackageLayout& layout) {
  return Manifest::processList(layout.files, root);
}

PathList manifestDirectories(const std::string& root, const PackageLayout& layout) {
  return Manifest::processList(layout.directories, root);
}

}  // namespace qu::bench
