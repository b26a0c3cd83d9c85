#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "extensions/atomic_file.h"
#include "extensions/plist.h"
#include "platform/status.h"

namespace qu::plist {

// Parses a property list in XML or binary form (the format is detected);
// nothing when the bytes are not a property list.
std::optional<Value> parse(std::string_view bytes);

// Reads and parses a property-list file; nothing when it is missing,
// unreadable or not a property list.
std::optional<Value> readFile(const std::string& path);

// The XML form of a value. Dates are written to the second, within the years
// 1 to 9999; a string or key ends at its first U+0000, and other text XML
// cannot hold is written as it is (see fitsXml).
std::string toXml(const Value& value);

// Whether the XML form keeps the value and strict XML readers accept it:
// every string and key is UTF-8 of characters XML allows (no control
// character but tab, line feed and carriage return, no U+FFFE or U+FFFF),
// and every date lies within the years 1 to 9999.
bool fitsXml(const Value& value);
// As fitsXml, as the answer writeFileAtomically gives for the path: EILSEQ
// when the value does not fit.
Status checkFitsXml(const std::string& path, const Value& value);

// Writes the value's XML form to the path atomically: a temporary file in the
// same directory, flushed to disk, then renamed over the target. An existing
// target's permission bits and owner are kept. On failure the original file
// is untouched and no temporary file is left. A value that does not fit the
// XML form is refused with EILSEQ rather than written cut short or unreadable.
// Like replaceFileAtomically(), the path form follows links; an edit as root
// uses writeFileAtomicallyAt().
Status writeFileAtomically(const std::string& path, const Value& value);
// As above, filling the temporary file through the given write(2).
Status writeFileAtomically(const std::string& path, const Value& value, const WriteCall& write);
// As above for the entry `name` of an open directory, replacing a file whose
// status was `original` (see replaceFileAt()).
Status writeFileAtomicallyAt(int directory, const std::string& name, const Value& value,
                             const struct stat& original, const WriteCall& write,
                             const std::string& shownPath, SyncCall sync = nullptr);

}  // namespace qu::plist
