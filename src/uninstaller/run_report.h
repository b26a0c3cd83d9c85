#pragma once

#include <string>
#include <string_view>

#include "items/uninstall_item.h"
#include "platform/platform.h"
#include "uninstaller/removal_rules.h"
#include "uninstaller/run_progress.h"

namespace qu {

// The programs a removal runs for their effect, as a report names them.
enum class ProgramRole { PreRemoveScript, Service, KernelExtension, Forget, GallerySetup };

// What a removal run tells its reader as it goes: the text lines people and
// the graphical front end read, or a stream for management tools. The log
// is written separately, whatever the report.
class RunReport {
 public:
  virtual ~RunReport() = default;

  // Before anything is removed: the items, in the order they are removed.
  virtual void announce(const ItemList& items) = 0;
  virtual void itemStarted(const UninstallItem& item) = 0;
  // A path of a package's lists, reached at the run's percentage.
  virtual void progress(int percent, const std::string& path) = 0;
  // A progress line of a gallery setup tool, rescaled to the run; `text` is
  // what followed the tool's percentage, its line end included if any.
  virtual void toolProgress(long long percent, std::string_view text) = 0;
  // How a program the removal started ended (or that it was not started).
  virtual void programEnded(ProgramRole role, const std::string& subject,
                            const ExitStatus& status) = 0;
  // A program started and not waited for (the forget request).
  virtual void programStarted(ProgramRole role, const std::string& subject,
                              const Status& started) = 0;
  // A path of the package that stays, and why.
  virtual void pathKept(const std::string& path, KeepReason reason, const std::string& detail) = 0;
  virtual void itemFinished(const UninstallItem& item, bool succeeded) = 0;
  virtual void runFinished(bool succeeded) = 0;
};

// The text people read: "Removing:" with the names, and a progress line per
// path ("Uninstalling:\t[<percent>%] <path>") or per tool line
// ("Uninstalling: [<percent>%]<text>"), through the platform's print calls.
class TextReport final : public RunReport {
 public:
  explicit TextReport(Platform& platform) : platform_(platform) {}

  void announce(const ItemList& items) override;
  void itemStarted(const UninstallItem&) override {}
  void progress(int percent, const std::string& path) override;
  void toolProgress(long long percent, std::string_view text) override;
  void programEnded(ProgramRole, const std::string&, const ExitStatus&) override {}
  void programStarted(ProgramRole, const std::string&, const Status&) override {}
  void pathKept(const std::string&, KeepReason, const std::string&) override {}
  void itemFinished(const UninstallItem&, bool) override {}
  void runFinished(bool) override {}

 private:
  Platform& platform_;
};

// What every step of one removal run shares.
struct RunContext {
  Platform& platform;
  RunProgress& progress;
  const RemovalRules& rules;
  RunReport& report;
  // Whether the run is unattended; handed to pre-remove scripts.
  bool isSilent = true;
};

}  // namespace qu
