#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qu {

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Length in UTF-16 code units of UTF-8 text (how the platform measures strings).
std::size_t utf16Length(std::string_view utf8);

// ASCII-only lower-casing, and comparisons built on it.
std::string toLower(std::string_view text);
// <0, 0 or >0, comparing case-insensitively.
int compareIgnoringCase(std::string_view a, std::string_view b);
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);
bool containsIgnoringCase(std::string_view text, std::string_view part);

// Text as it may safely reach a terminal or a log: control characters (C0
// other than tab, DEL, the C1 controls and the Unicode line and paragraph
// separators) become visible escapes such as "\x1B" or "\u2028", so a name
// cannot move the cursor, forge a line or a table row. Everything else,
// UTF-8 and bytes that are not UTF-8 alike, is kept as it is.
std::string visibleText(std::string_view text);

// Splits at every occurrence of the separator; "a\n" gives "a" and "".
std::vector<std::string> split(std::string_view text, char separator);

}  // namespace qu
