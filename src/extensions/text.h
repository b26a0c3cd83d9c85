#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qu {

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Number of bytes of the well-formed UTF-8 sequence at the start of `text`, or
// 0 when there is none (stray continuation byte, truncated or overlong
// sequence, surrogate, beyond U+10FFFF, or no text).
std::size_t utf8SequenceLength(std::string_view text);

// Length in UTF-16 code units of UTF-8 text (how the platform measures strings).
std::size_t utf16Length(std::string_view utf8);
// Whether the bytes are well-formed UTF-8 throughout.
bool isValidUtf8(std::string_view text);

// Text as it may safely reach a terminal or a log: control characters (C0
// other than tab, DEL, the C1 controls and the Unicode line and paragraph
// separators) become visible escapes such as "\x1B" or "\u2028", so a name
// cannot move the cursor, forge a line or a table row. Everything else,
// UTF-8 and bytes that are not UTF-8 alike, is kept as it is.
std::string visibleText(std::string_view text);

// Splits at every occurrence of the separator; "a\n" gives "a" and "".
std::vector<std::string> split(std::string_view text, char separator);

}  // namespace qu
