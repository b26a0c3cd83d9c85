#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qu {

using PathList = std::vector<std::string>;
// Executable path of a running process, as "/bin/ps" printed it, to its id.
using ProcessTable = std::map<std::string, pid_t>;

inline constexpr int kFileList = 1;
inline constexpr int kDirectoryList = 2;

// What one installed package put on disk: its files and its directories,
// absolute paths sorted longest first so every path comes before its
// ancestors. Each list is produced by a system tool on first request; a
// failed request is not remembered and is asked again next time.
class Manifest {
 public:
  Manifest(const Manifest&) = delete;
  Manifest& operator=(const Manifest&) = delete;
  virtual ~Manifest() = default;

  const std::optional<PathList>& files();
  const std::optional<PathList>& directories();

  // The list of the given type (kFileList or kDirectoryList), or nothing when
  // its tool failed. Throws std::invalid_argument("Invalid list type.") for
  // any other type: a caller's error.
  virtual std::optional<PathList> getList(int listType) = 0;

  // Joins prefix and line (with one "/" when neither side has one, see
  // joinInstallPath()), after dropping one trailing empty line, and sorts
  // longest first (length in UTF-16 code units).
  static PathList processList(std::vector<std::string> lines, std::string_view prefix);
  // The same, in the tool's order.
  static PathList joinedPaths(std::vector<std::string> lines, std::string_view prefix);

  // A package that stays installed is only asked whether it lists a path,
  // file or directory alike: one query answers that, joined to `location`.
  struct EveryPathQuery {
    ToolQuery query;
    std::string location;
  };
  // That query, or nothing when the lists are unavailable (logged once).
  virtual std::optional<EveryPathQuery> everyPathQuery() = 0;
  // The paths of its answer, joined as the lists are, in the tool's order;
  // nothing for a failed query, logged as a failed list is.
  std::optional<PathList> everyPathFrom(const EveryPathQuery& asked, CapturedOutput answer);

  // The package's running programs: every process whose executable path is
  // the tail of one of the manifest's files, compared ignoring case.
  ProcessTable getProcesses();

  // Whether a tool asked for a list could not be started or was killed: then
  // what the package put on disk is not known, and its record must stay.
  bool listingBroke() const { return listingBroke_; }

 protected:
  explicit Manifest(Platform& platform) : platform_(platform) {}
  Platform& platform() { return platform_; }

  // Whether paths joined to this install location are absolute. A missing,
  // empty or relative location would give paths that a root process resolves
  // against its working directory, so such a package's lists are unavailable.
  static bool isUsableInstallLocation(std::string_view prefix) {
    return !prefix.empty() && prefix.front() == '/';
  }
  // Logs why the lists are unavailable, once per manifest however often they
  // are requested.
  void reportUnavailableLists(std::string_view reason);
  // Runs a list's tool for its text, remembering an abnormal end.
  std::optional<std::string> listFromTool(const std::string& executable,
                                          const std::vector<std::string>& arguments);

 private:
  Platform& platform_;
  bool unavailableReported_ = false;
  bool listingBroke_ = false;
  std::optional<PathList> files_;
  std::optional<PathList> directories_;
};

using ManifestPtr = std::unique_ptr<Manifest>;

}  // namespace qu
