#include "uninstaller/uninstaller.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "items/gallery_item.h"
#include "uninstaller/engine_test_world.h"

namespace qu {
namespace {

// An item of a kind neither removal sequence handles.
class OtherItem : public UninstallItem {
 public:
  std::optional<std::string> version() const override { return std::nullopt; }
};

// A plain item ("name") or a gallery collection ("gallery:name"); an empty
// name leaves only the identifier "id:<position>".
ItemList itemsNamed(const std::vector<std::string>& names) {
  ItemList items;
  for (const std::string& described : names) {
    ItemPtr item;
    std::string name = described;
    if (described.starts_with("gallery:")) {
      item = std::make_shared<GalleryItem>();
      name = described.substr(8);
    } else {
      item = std::make_shared<OtherItem>();
    }
    item->setIdentifier("id:" + std::to_string(items.size()));
    if (!name.empty()) item->setDisplayName(name);
    items.push_back(item);
  }
  return items;
}

TEST(Uninstaller, AnnouncesGalleriesFirstThenNamesIgnoringCase) {
  const struct {
    std::vector<std::string> items;
    std::string announced;
  } cases[] = {
      {{"zeta", "Eta"}, "Removing:\nEta\nzeta\n"},
      {{"package", "gallery:beta", "gallery:Alpha"}, "Removing:\nAlpha\nbeta\npackage\n"},
      {{"b", ""}, "Removing:\nb\nid:1\n"},
      {{"same", "SAME", "Same"}, "Removing:\nsame\nSAME\nSame\n"},
      // Letters beyond ASCII order by their folded, decomposed text, so "Ä"
      // goes with "a" whatever its case or composition.
      {{"\xC3\x84ther", "\xC3\xA4pfel", "A\xCC\x88rger", "b", "Zoo"},
       "Removing:\n\xC3\xA4pfel\nA\xCC\x88rger\n\xC3\x84ther\nb\nZoo\n"},
      {{}, "Removing:\n\n"},
  };
  for (const auto& c : cases) {
    testing::TempDir tmp;
    testing::RecordingPlatform platform(testing::locationsUnder(tmp.path()));
    const ItemList items = itemsNamed(c.items);

    Uninstaller(platform, items).uninstall();

    EXPECT_EQ(platform.output, c.announced);
  }
}

TEST(Uninstaller, EveryItemIsAttemptedAndAnyFailureFailsTheRun) {
  testing::EngineWorld world;
  auto zeta = world.databasePackage("com.q.zeta", {});
  auto eta = world.databasePackage("com.q.eta", {});
  zeta->setDisplayName("zeta");
  eta->setDisplayName("Eta");
  // A collection without a setup tool fails, and as a gallery it runs first;
  // an item of an unknown kind fails without doing anything.
  const ItemList items = {zeta, itemsNamed({"gallery:Alpha"})[0], eta, itemsNamed({"other"})[0]};

  EXPECT_FALSE(Uninstaller(world.platform, items).uninstall());

  const std::string pkgutil = world.platform.locations().pkgutil;
  EXPECT_EQ(world.platform.programCalls,
            (std::vector<testing::ProgramCall>{{pkgutil, {"--forget", "com.q.eta"}},
                                               {pkgutil, {"--forget", "com.q.zeta"}}}));
  EXPECT_EQ(world.platform.logLines,
            std::vector<std::string>{"Cannot find Gallery Setup executable at: '(null)'"});
}

}  // namespace
}  // namespace qu
