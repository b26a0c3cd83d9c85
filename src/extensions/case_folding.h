#pragma once

#include <string>
#include <string_view>

namespace qu {

// Text brought to the form in which letter case and canonically equivalent
// spellings no longer differ: decomposed (NFD), fully case-folded and
// decomposed again, so "Ä", "ä" and "a" + U+0308 fold alike, and "ß" like
// "SS". Bytes that are not part of well-formed UTF-8 stand for themselves.
// A "/" is never made or removed, and text splits at one without changing
// either side's fold, so a path's tails fold like the tails of its fold.
std::string foldCase(std::string_view text);
// The same into `folded`, whose storage is reused.
void foldCase(std::string_view text, std::string& folded);

// <0, 0 or >0: the order of the folded texts' code points, so ASCII text
// orders by its lower-case letters.
int compareIgnoringCase(std::string_view a, std::string_view b);
// Whether the folded text holds the folded part anywhere.
bool containsIgnoringCase(std::string_view text, std::string_view part);

}  // namespace qu
