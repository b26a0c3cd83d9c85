#pragma once

#include <functional>
#include <string>
#include <vector>

#include "items/catalogue.h"
#include "platform/platform.h"
#include "uninstaller/run_report.h"

namespace qu {

// The parts of the system the run driver calls, so the driver can be tested
// with catalogues and engines built in the test.
struct Subsystems {
  std::function<Catalogue()> loadPackageItems;
  std::function<Catalogue()> loadGalleryItems;
  std::function<void(const Catalogue&)> listPackages;
  std::function<void(const Catalogue&)> listPackagesAsJson;  // --list --json
  // Removes the items through the given platform (the real one, or a dry
  // run over it), keeping whatever the remaining installed items list, and
  // tells `report` how it goes (null: the text people read); true when
  // every one was removed.
  std::function<bool(Platform& platform, const ItemList& items, const ItemList& remaining,
                     bool isSilent, RunReport* report)>
      uninstall;
};

// Exit statuses of the tool.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitInvalidIdentifier = 1;
inline constexpr int kExitNotRoot = 2;
inline constexpr int kExitUninstallFailed = 3;

// One run of the tool: answers --help and --version before anything is
// loaded; otherwise loads the catalogue, reads the command line (the whole
// argument vector, program name first), then lists or removes. A dry run
// needs no root and removes through a DryRunPlatform over `platform`, so it
// reports the status the real removal would. Returns the exit status.
int runUninstaller(Platform& platform, const Subsystems& subsystems,
                   const std::vector<std::string>& arguments);

// The selection completed for removal: the selected items with all their
// descendants, plus every remaining top-level item with its descendants when
// no visible top-level item would remain installed.
ItemList completeSelection(const Catalogue& catalogue, const ItemList& selection);

// Every package item of the package catalogue, at any depth, whose record
// (kind and identifier) is not among `removed`.
ItemList remainingItems(const Catalogue& packages, const ItemList& removed);

// The packages followed by the collections, leaving out (one log line each)
// a collection whose identifier is an installed package item's, starts with
// "-" or holds control characters.
Catalogue withCollections(Platform& platform, const Catalogue& packages,
                          const Catalogue& collections);

}  // namespace qu
