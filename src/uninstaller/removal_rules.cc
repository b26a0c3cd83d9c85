#include "uninstaller/removal_rules.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "extensions/case_folding.h"
#include "extensions/paths.h"

namespace qu {

namespace {

// The standard directories of the platform, which no package owns even when
// it lists them or leaves them empty: those of Apple's File System
// Programming Guide ("macOS Library Directory Details", "Standard
// Directories") and of hier(7), written in lower case. Every entry of "/"
// itself counts too (see isSystemDirectory), as does each home folder in
// "/Users".
constexpr std::array kSystemDirectories = {
    "/applications/utilities",
    "/library/application support",
    "/library/audio",
    "/library/caches",
    "/library/colorpickers",
    "/library/colorsync",
    "/library/components",
    "/library/compositions",
    "/library/contextual menu items",
    "/library/coremediaio",
    "/library/developer",
    "/library/documentation",
    "/library/driverextensions",
    "/library/extensions",
    "/library/filesystems",
    "/library/fonts",
    "/library/frameworks",
    "/library/graphics",
    "/library/image capture",
    "/library/input methods",
    "/library/internet plug-ins",
    "/library/java",
    "/library/keyboard layouts",
    "/library/keychains",
    "/library/launchagents",
    "/library/launchdaemons",
    "/library/logs",
    "/library/managed preferences",
    "/library/modem scripts",
    "/library/opendirectory",
    "/library/pdf services",
    "/library/perl",
    "/library/preferencepanes",
    "/library/preferences",
    "/library/printers",
    "/library/privilegedhelpertools",
    "/library/python",
    "/library/quicklook",
    "/library/quicktime",
    "/library/receipts",
    "/library/ruby",
    "/library/sandbox",
    "/library/screen savers",
    "/library/scriptingadditions",
    "/library/scripts",
    "/library/security",
    "/library/services",
    "/library/sounds",
    "/library/speech",
    "/library/spelling",
    "/library/spotlight",
    "/library/startupitems",
    "/library/systemextensions",
    "/library/updates",
    "/library/user pictures",
    "/library/video",
    "/library/webserver",
    "/library/widgets",
    "/private/etc",
    "/private/tmp",
    "/private/var",
    "/private/var/db",
    "/private/var/log",
    "/private/var/root",
    "/private/var/run",
    "/private/var/tmp",
    "/system/applications",
    "/system/library",
    "/system/library/coreservices",
    "/system/library/extensions",
    "/system/library/frameworks",
    "/system/library/launchagents",
    "/system/library/launchdaemons",
    "/system/library/privateframeworks",
    "/system/volumes",
    "/users/shared",
    "/usr/bin",
    "/usr/include",
    "/usr/lib",
    "/usr/libexec",
    "/usr/local",
    "/usr/local/bin",
    "/usr/local/etc",
    "/usr/local/include",
    "/usr/local/lib",
    "/usr/local/libexec",
    "/usr/local/opt",
    "/usr/local/sbin",
    "/usr/local/share",
    "/usr/local/share/doc",
    "/usr/local/share/man",
    "/usr/local/var",
    "/usr/sbin",
    "/usr/share",
    "/usr/share/man",
    "/usr/standalone",
    "/usr/x11",
};

// The standard folders of a home, relative to it, in lower case: those every
// program shares ("Library" and its standard children) and the user's own
// top-level folders. They count in every folder of "/Users", "Shared"
// included.
constexpr std::array kHomeDirectories = {
    "applications",
    "desktop",
    "documents",
    "downloads",
    "library",
    "library/application scripts",
    "library/application support",
    "library/autosave information",
    "library/caches",
    "library/colorpickers",
    "library/containers",
    "library/cookies",
    "library/fonts",
    "library/group containers",
    "library/httpstorages",
    "library/input methods",
    "library/internet plug-ins",
    "library/keyboard layouts",
    "library/keychains",
    "library/launchagents",
    "library/logs",
    "library/preferencepanes",
    "library/preferences",
    "library/saved application state",
    "library/screen savers",
    "library/services",
    "library/sounds",
    "library/spelling",
    "library/webkit",
    "movies",
    "music",
    "pictures",
    "public",
};

const std::unordered_set<std::string_view>& homeDirectories() {
  static const std::unordered_set<std::string_view> set(kHomeDirectories.begin(),
                                                        kHomeDirectories.end());
  return set;
}

const std::unordered_set<std::string_view>& systemDirectories() {
  static const std::unordered_set<std::string_view> set(kSystemDirectories.begin(),
                                                        kSystemDirectories.end());
  return set;
}

// "/etc", "/tmp" and "/var" are the system's links into "/private".
std::string withoutPrivateAlias(std::string normal) {
  const auto sameLetters = [](std::string_view text, std::string_view lower) {
    return std::equal(text.begin(), text.end(), lower.begin(), lower.end(), [](char a, char b) {
      return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
  };
  for (std::string_view alias : {"/etc", "/tmp", "/var"}) {
    if (normal.size() >= alias.size() && sameLetters(normal.substr(0, alias.size()), alias) &&
        (normal.size() == alias.size() || normal[alias.size()] == '/')) {
      return "/private" + normal;
    }
  }
  return normal;
}

// The number of components of a path ("/a//./b" has two), counted up to
// `enough`: the removal asks this of every path before anything costlier.
std::size_t componentsUpTo(std::string_view path, std::size_t enough) {
  std::size_t count = 0;
  std::size_t start = 0;
  while (start < path.size() && count < enough) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view component = path.substr(start, end - start);
    if (!component.empty() && component != ".") ++count;
    start = end + 1;
  }
  return count;
}

// No standard directory lies deeper than this ("/usr/local/share/man").
constexpr std::size_t kDeepestSystemDirectory = 4;

// The form in which paths are compared: normalised, the aliases resolved,
// letter case folded as the platform's file system folds names.
std::string comparisonKey(std::string_view path) {
  return foldCase(withoutPrivateAlias(normalisedPath(path)));
}

bool isSystemKey(std::string_view key) {
  if (key == "/") return true;
  const std::size_t lastSlash = key.rfind('/');
  if (lastSlash == 0) return true;  // an entry of "/" itself
  constexpr std::string_view kUsers = "/users/";
  if (key.starts_with(kUsers)) {
    // A home folder, "/users/<name>", and its standard folders.
    const std::size_t endOfName = key.find('/', kUsers.size());
    if (endOfName == std::string_view::npos) return true;
    if (homeDirectories().count(key.substr(endOfName + 1)) != 0) return true;
  }
  return systemDirectories().count(key) != 0;
}

}  // namespace

bool RemovalRules::isSystemDirectory(std::string_view normal) {
  return isSystemKey(comparisonKey(normal));
}

void RemovalRules::addShared(std::string_view path, const std::string& owner) {
  if (!isPlainAbsolutePath(path)) return;
  if (owners_.empty() || owners_.back() != owner) owners_.push_back(owner);
  shared_.emplace(comparisonKey(path), static_cast<std::uint32_t>(owners_.size() - 1));
  orderedStale_ = true;
}

const RemovalRules::SharedPaths::value_type* RemovalRules::firstSharedBelow(
    const std::string& below) const {
  // The map's nodes stay where they are, so the order holds pointers to them.
  if (orderedStale_) {
    ordered_.clear();
    ordered_.reserve(shared_.size());
    for (const auto& entry : shared_) ordered_.push_back(&entry);
    std::sort(ordered_.begin(), ordered_.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    orderedStale_ = false;
  }
  // Keys that start with "<tree>/" follow one another in this order; the
  // first of them names the owner, whatever order the packages were read in.
  const auto found = std::lower_bound(
      ordered_.begin(), ordered_.end(), below,
      [](const auto* entry, const std::string& key) { return entry->first < key; });
  if (found == ordered_.end() || !(*found)->first.starts_with(below)) return nullptr;
  return *found;
}

RemovalRules::Judgement RemovalRules::judge(std::string_view path, RemovalScope scope) const {
  if (!isPlainAbsolutePath(path)) return {Verdict::Unsafe, {}};
  // Most paths lie deep below any system directory, and most runs keep no
  // other package's files: those need no folding at all.
  if (shared_.empty() && componentsUpTo(path, kDeepestSystemDirectory + 1) >
                             kDeepestSystemDirectory) {
    return {};
  }
  const std::string key = comparisonKey(path);
  if (isSystemKey(key)) return {Verdict::SystemDirectory, {}};
  if (shared_.empty()) return {};
  if (auto found = shared_.find(key); found != shared_.end()) {
    return {Verdict::Shared, owners_[found->second]};
  }
  if (scope == RemovalScope::Tree) {
    if (const auto* first = firstSharedBelow(key == "/" ? key : key + "/")) {
      return {Verdict::Shared, owners_[first->second]};
    }
  }
  return {};
}

}  // namespace qu
