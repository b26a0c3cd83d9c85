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
// Whether the bytes are well-formed UTF-8 throughout.
bool isValidUtf8(std::string_view text);

// ASCII-only lower-casing, and comparisons built on it.
std::string toLower(std::string_view text);
// <0, 0 or >0, comparing case-insensitively.
int compareIgnoringCase(std::string_view a, std::string_view b);
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);
bool containsIgnoringCase(std::string_view text, std::string_view part);

// Splits at every occurrence of the separator; "a\n" gives "a" and "".
std::vector<std::string> split(std::string_view text, char separator);

}  // namespace qu
