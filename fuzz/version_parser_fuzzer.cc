// Collection manifests into a gallery version: whatever the bytes, the reader
// ends, frees what it made, and a version it reports is a real calendar day.

#include <string>

#include "extensions/text.h"
#include "fuzz_input.h"
#include "items/gallery_version_parser.h"
#include "xml_channels.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  qu::fuzzing::watchGenericErrors();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qu::fuzzing::check;
  const std::string_view bytes = qu::fuzzing::bytesOf(data, size);

  // The date reader alone: what it accepts it prints back as the same day.
  if (std::optional<qu::CalendarDate> date = qu::parseVersionDate(bytes)) {
    const std::string written = qu::format("%04d-%02d-%02d", date->year, date->month, date->day);
    check(written == bytes, "an accepted date is exactly yyyy-MM-dd");
  }

  const std::optional<qu::GalleryVersionParser> parser =
      qu::GalleryVersionParser::initWithData(bytes);
  if (!parser || !parser->version()) return 0;
  const qu::CalendarDate& version = *parser->version();
  const std::string text = qu::format("%04d-%02d-%02d", version.year, version.month, version.day);
  check(qu::parseVersionDate(text) == version, "the version is a day of the calendar");
  check(qu::formatVersionDate(version).size() <= 8, "the version text is written short");
  return 0;
}
