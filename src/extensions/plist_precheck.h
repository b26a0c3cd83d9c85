#pragma once

#include <cstdint>
#include <string_view>

namespace qu::plist {

// The deepest nesting of arrays and dictionaries a property list may have.
// Real ones nest a few levels; reading, copying and freeing recurse once per
// level, in the library as in this program.
inline constexpr int kDeepestNesting = 512;

// The most bytes of strings, data and keys a property list may unfold to.
// Reads stop at 64 MiB; a binary list may name one object many times, and the
// library copies it each time it is named.
inline constexpr std::uint64_t kLargestUnfolding = std::uint64_t{64} << 20;

// Whether the bytes may be handed to the property-list library, which
// brings the whole process down on two kinds of input: nesting deeper than
// its recursion can go (a binary list of under a megabyte suffices), and a
// binary dictionary key whose UTF-16 text holds U+0000 (it aborts). Such
// bytes answer false, as do binary lists whose objects overlap so that
// checking them would take more than a walk over the bytes, binary keys
// that are not strings (the library would unfold them before refusing them)
// and binary lists whose strings, data and keys, copied as often as they are
// named, come to more than kLargestUnfolding bytes.
// Anything else answers true, malformed input included: the library refuses
// that itself.
bool safeToParse(std::string_view bytes);

}  // namespace qu::plist
