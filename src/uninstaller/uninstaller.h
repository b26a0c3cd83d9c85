#pragma once

#include "items/uninstall_item.h"
#include "platform/platform.h"
#include "uninstaller/run_report.h"

namespace qu {

// The engine of one removal run: sorts the items (gallery collections first,
// then by display name ignoring case), announces them, and removes each one,
// best effort. One percentage climbs across all items of the run.
class Uninstaller {
 public:
  // Keeps a sorted copy of the items; the caller's list is left as it is.
  // `remaining` are the installed package items the run does not remove:
  // whatever they list stays on disk. The run tells `report` how it goes;
  // without one it prints the text people read.
  Uninstaller(Platform& platform, const ItemList& items, ItemList remaining = {},
              RunReport* report = nullptr);

  // Whether the run is unattended; handed to pre-remove scripts.
  void setIsSilent(bool silent) { isSilent_ = silent; }
  // Removes every item, each attempted whatever the others did; true when
  // every item succeeded. Call once.
  bool uninstall();

  // The items in the order they are removed.
  const ItemList& items() const { return items_; }

 private:
  bool uninstall(RunContext& run, const UninstallItem& item);
  // The paths the remaining packages list, gathered before anything is removed.
  RemovalRules rulesForRun();

  Platform& platform_;
  ItemList items_;
  ItemList remaining_;
  RunProgress progress_;
  TextReport textReport_;
  RunReport& report_;
  bool isSilent_ = false;
};

// Three-way order of a run: galleries before everything else, then the
// description (display name, else identifier) ignoring case. <0, 0 or >0.
int uninstallItemCompare(const UninstallItem& a, const UninstallItem& b);

}  // namespace qu
