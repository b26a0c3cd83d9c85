// Collection manifests into a gallery version: whatever the bytes, the reader
// ends, frees what it made, and a version it reports is a real calendar day.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "extensions/text.h"
#include "fuzz_input.h"
#include "items/gallery_version_parser.h"
#include "xml_channels.h"

namespace {

std::string scratchFile;

void removeScratchFile() { ::unlink(scratchFile.c_str()); }

// The parser streams from a file, as it does in the uninstaller.
void writeScratchFile(std::string_view bytes) {
  const int fd = ::open(scratchFile.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  qu::fuzzing::check(fd >= 0, "the scratch file opens");
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    qu::fuzzing::check(written > 0, "the scratch file takes the input");
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  std::string path = "/tmp/qu-manifest-fuzz-XXXXXX";
  const int fd = ::mkstemp(path.data());
  qu::fuzzing::check(fd >= 0, "a scratch file can be made");
  ::close(fd);
  scratchFile = path;
  std::atexit(removeScratchFile);
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

  writeScratchFile(bytes);
  const std::optional<qu::GalleryVersionParser> parser =
      qu::GalleryVersionParser::initWithPath(scratchFile);
  if (!parser || !parser->version()) return 0;
  const qu::CalendarDate& version = *parser->version();
  const std::string text =
      qu::format("%04d-%02d-%02d", version.year, version.month, version.day);
  check(qu::parseVersionDate(text) == version, "the version is a day of the calendar");
  const std::optional<std::string> shown = qu::GalleryVersionParser::galeryVersionForPath(scratchFile);
  check(shown == qu::formatVersionDate(version), "the version text is the version, written short");
  return 0;
}
