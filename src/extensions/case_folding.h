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

// The comparisons that ignore letter case, on folded text; the order is that
// of the folded text's code points (ASCII text orders as before folding).
// <0, 0 or >0.
int compareIgnoringCase(std::string_view a, std::string_view b);
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);
bool containsIgnoringCase(std::string_view text, std::string_view part);

}  // namespace qu
