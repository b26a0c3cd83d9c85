// A gallery collection's metadata document, read the forgiving way for the
// collection's display name: any bytes give an item or none, and the listing
// prints whatever name they give.

#include <string>

#include "cli/listing.h"
#include "fuzz_input.h"
#include "in_memory_platform.h"
#include "items/gallery_item.h"
#include "items/xml_document.h"
#include "xml_channels.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  qu::fuzzing::watchGenericErrors();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qu::fuzzing::check;
  const std::string_view bytes = qu::fuzzing::bytesOf(data, size);

  qu::fuzzing::InMemoryPlatform platform;
  platform.files["/fuzz/Collection/metadata.xml"] = std::string(bytes);
  platform.present.insert("/fuzz/Collection/Uninstall/updateinfo.xml");

  qu::plist::Dictionary record;
  record.set("ImsManifestXml", "/fuzz/Collection/imsmanifest.xml");
  record.set("MetadataXml", "/fuzz/Collection/metadata.xml");
  record.set("AppPath", "/fuzz/Gallery Setup");
  const std::shared_ptr<qu::GalleryItem> item =
      qu::GalleryItem::galleryWithDictionary(platform, record, "fuzz-collection");

  const std::optional<qu::XmlDocument> document = qu::XmlDocument::documentWithData(bytes);
  check((item != nullptr) == document.has_value(),
        "a collection is offered exactly when its metadata reads as a document");
  if (!item) return 0;
  if (item->displayName()) {
    check(document->namespaceForPrefix("lom").has_value(),
          "a display name comes from the document's own lom namespace");
  }
  check(item->version() == "Unknown", "a manifest that cannot be read gives no version");

  qu::Catalogue catalogue;
  catalogue.set("fuzz-collection", item);
  qu::listPackages(platform, catalogue);
  check(platform.printed.find("fuzz-collection") != std::string::npos,
        "the listing shows the collection");
  return 0;
}
