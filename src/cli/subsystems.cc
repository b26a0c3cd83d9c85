#include "cli/subsystems.h"

#include "cli/listing.h"
#include "cli/listing_json.h"
#include "items/gallery_item.h"
#include "items/package_loader.h"
#include "uninstaller/uninstaller.h"

namespace qu {

Subsystems productionSubsystems(Platform& platform, ReceiptCache& receipts) {
  Subsystems subsystems;
  subsystems.loadPackageItems = [&platform, &receipts] {
    return loadPackageItems(platform, receipts);
  };
  subsystems.loadGalleryItems = [&platform] { return loadGalleryItems(platform); };
  subsystems.listPackages = [&platform](const Catalogue& catalogue) {
    listPackages(platform, catalogue);
  };
  subsystems.listPackagesAsJson = [&platform](const Catalogue& catalogue) {
    listPackagesAsJson(platform, catalogue);
  };
  // The platform for the removal comes from the run driver: a dry run
  // replaces the effects of this one.
  subsystems.uninstall = [](Platform& removalPlatform, const ItemList& items,
                            const ItemList& remaining, bool isSilent, RunReport* report) {
    Uninstaller uninstaller(removalPlatform, items, remaining, report);
    uninstaller.setIsSilent(isSilent);
    return uninstaller.uninstall();
  };
  return subsystems;
}

}  // namespace qu
