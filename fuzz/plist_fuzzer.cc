// Property-list bytes, as read from uninstall plists, receipts, preferences
// files and the package database's output: parsed from memory and from a
// file alike, and what the uninstaller would write back reads the same again.

#include <libxml/parser.h>

#include <memory>
#include <string>

#include "extensions/plist_io.h"
#include "extensions/recurse.h"
#include "fuzz_input.h"
#include "plist_equality.h"
#include "scratch_file.h"

namespace {

// Static, so that it is removed when libFuzzer ends the process with exit().
const qu::fuzzing::ScratchFile& scratchFile() {
  static const qu::fuzzing::ScratchFile file("qu-plist-fuzz");
  return file;
}

struct DocumentFree {
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};

// Whether a strict XML reader (well-formed UTF-8, XML's characters only)
// opens the text. Its own limits, such as nesting beyond 256 levels, are
// lifted: they are not the document's faults.
bool strictReaderOpens(const std::string& xml) {
  const std::unique_ptr<xmlDoc, DocumentFree> document(xmlReadMemory(
      xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE));
  return document != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qu::fuzzing::check;
  using qu::fuzzing::Precision;
  using qu::fuzzing::sameValue;
  namespace plist = qu::plist;

  const std::string_view bytes = qu::fuzzing::bytesOf(data, size);
  const std::optional<plist::Value> value = plist::parse(bytes);

  // The package database's answer arrives as a string, the other lists as files.
  const std::optional<plist::Value> fromString = plist::dictionaryWithContentsOfString(bytes);
  scratchFile().write(bytes);
  const std::optional<plist::Value> fromFile = plist::readFile(scratchFile().path());
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
  check(strictReaderOpens(xml), "a strict XML reader opens the XML form");
  check(sameValue(*value, *reread, Precision::Xml), "the XML form keeps the value");
  check(plist::toXml(*reread) == xml, "writing the reread value gives the same XML");
  return 0;
}
