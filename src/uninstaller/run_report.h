#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "items/uninstall_item.h"
#include "platform/platform.h"
#include "uninstaller/removal_rules.h"
#include "uninstaller/run_progress.h"

namespace qu {

// The programs a removal runs for their effect, as a report names them.
enum class ProgramRole { PreRemoveScript, Service, KernelExtension, Forget, GallerySetup };

// A program a removal runs, as its report names it: its role, what it acts
// on (a script, a service, an extension, a package), and its command line.
struct ProgramCall {
  ProgramRole role;
  std::string subject;
  std::string program;  // empty when the item names none
  std::vector<std::string> arguments;
};

// What became of one key path of a property-list edit.
enum class KeyOutcome { Removed, Absent, Failed };

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
  // The effects, each once, in the order they are made, with what became of
  // it. A dry run reports the same calls with what it would do: programs
  // skipped, paths removed, requests sent. Only the JSON reports care.
  //
  // A program waited for, and how it ended (or that it could not start).
  virtual void programEnded(const ProgramCall&, const ExitStatus&) {}
  // A program started and not waited for (the forget request).
  virtual void programStarted(const ProgramCall&, const Status&) {}
  // A program the removal decided not to start, and why.
  virtual void programNotRun(const ProgramCall&, const Status&) {}
  // A quit request: 0 when sent, ESRCH when the process no longer runs the
  // application (nothing was sent), any other errno when sending failed.
  virtual void quitRequested(const LaunchedApplication&, int) {}
  // A signal to a process group; ESRCH when it no longer runs the program.
  virtual void signalSent(pid_t, const std::string&, const Status&) {}
  // A path handed to the removal that is gone, was absent, or failed.
  virtual void pathDeleted(const std::string&, const Removal&) {}
  // A path of the package that stays, and why.
  virtual void pathKept(const std::string&, KeepReason, const std::string&) {}
  // One key path of a property-list edit; `status` says why it failed.
  virtual void keyRemoved(const std::string&, const std::string&, KeyOutcome, const Status&) {}
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
