#include "extensions/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace qu {

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    // One more byte for the terminating zero that vsnprintf always writes.
    text.resize(static_cast<std::size_t>(length) + 1);
    (void)std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(static_cast<std::size_t>(length));
  }
  va_end(args);
  return text;
}

namespace {

// Number of bytes of a well-formed UTF-8 sequence at the start of `text`, or 0
// when it is not one (stray continuation byte, truncated or overlong sequence,
// surrogate, beyond U+10FFFF).
std::size_t sequenceLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::size_t utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  while (!utf8.empty()) {
    const std::size_t length = sequenceLength(utf8);
    if (length == 0) {
      // A malformed byte decodes to one replacement character.
      ++units;
      utf8.remove_prefix(1);
      continue;
    }
    // Characters beyond the basic plane take a surrogate pair.
    units += length == 4 ? 2 : 1;
    utf8.remove_prefix(length);
  }
  return units;
}

bool isValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = sequenceLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

std::string toLower(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), lowerAscii);
  return lowered;
}

int compareIgnoringCase(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto left = static_cast<unsigned char>(lowerAscii(a[i]));
    const auto right = static_cast<unsigned char>(lowerAscii(b[i]));
    if (left != right) return left < right ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (suffix.size() > text.size()) return false;
  return compareIgnoringCase(text.substr(text.size() - suffix.size()), suffix) == 0;
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
  return toLower(text).find(toLower(part)) != std::string::npos;
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  while (true) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    pieces.emplace_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  pieces.emplace_back(text);
  return pieces;
}

}  // namespace qu
