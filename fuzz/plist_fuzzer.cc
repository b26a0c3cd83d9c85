// Property-list bytes, as read from uninstall plists, receipts, preferences
// files and the package database's output: parsed from memory and from a
// file alike, and what the uninstaller would write back reads the same again.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "extensions/plist_io.h"
#include "extensions/recurse.h"
#include "fuzz_input.h"
#include "plist_equality.h"

namespace {

std::string scratchFile;

void removeScratchFile() { ::unlink(scratchFile.c_str()); }

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
  std::string path = "/tmp/qu-plist-fuzz-XXXXXX";
  const int fd = ::mkstemp(path.data());
  qu::fuzzing::check(fd >= 0, "a scratch file can be made");
  ::close(fd);
  scratchFile = path;
  std::atexit(removeScratchFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qu::fuzzing::check;
  using qu::fuzzing::Precision;
  using qu::fuzzing::sameValue;
  namespace plist = qu::plist;

  const std::string_view bytes = qu::fuzzing::bytesOf(data, size);
  const std::optional<plist::Value> value = plist::parse(bytes);

  // The package database's answer arrives as a string, the other lists as files.
  const std::optional<plist::Value> fromString = plist::dictionaryWithContentsOfString(bytes);
  writeScratchFile(bytes);
  const std::optional<plist::Value> fromFile = plist::readFile(scratchFile);
  check(value.has_value() == fromFile.has_value() && value.has_value() == fromString.has_value(),
        "memory, string and file forms agree on whether the bytes are a property list");
  if (!value) return 0;
  check(sameValue(*value, *fromFile, Precision::Exact), "the file form reads the same value");
  check(sameValue(*value, *fromString, Precision::Exact), "the string form reads the same value");

  // A property-list edit writes the XML form, or refuses a value that does
  // not fit it: nothing may be lost but a date's fraction of a second, and
  // writing what was read back is stable.
  if (!plist::fitsXml(*value)) return 0;
  const std::string xml = plist::toXml(*value);
  const std::optional<plist::Value> reread = plist::parse(xml);
  check(reread.has_value(), "the XML form parses");
  check(sameValue(*value, *reread, Precision::Xml), "the XML form keeps the value");
  check(plist::toXml(*reread) == xml, "writing the reread value gives the same XML");
  return 0;
}
