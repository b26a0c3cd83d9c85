#include "extensions/readings.h"

#include <cmath>
#include <limits>
#include <string_view>

namespace qu::plist {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

void skipSpace(std::string_view& text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
}

// Consumes an optional sign; true when it was "-".
bool takeSign(std::string_view& text) {
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

bool stringBool(std::string_view text) {
  skipSpace(text);
  takeSign(text);
  while (!text.empty() && text.front() == '0') text.remove_prefix(1);
  if (text.empty()) return false;
  char first = text.front();
  return first == 'Y' || first == 'y' || first == 'T' || first == 't' ||
         (first >= '1' && first <= '9');
}

// The decimal integer at the start of the text, clamped to the 64-bit range.
std::int64_t stringInteger(std::string_view text) {
  constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  skipSpace(text);
  bool negative = takeSign(text);
  // Accumulated towards the sign's side, so that INT64_MIN is reachable.
  std::int64_t result = 0;
  for (char c : text) {
    if (!isDigit(c)) break;
    int digit = c - '0';
    if (negative) {
      if (result < (min + digit) / 10) return min;
      result = result * 10 - digit;
    } else {
      if (result > (max - digit) / 10) return max;
      result = result * 10 + digit;
    }
  }
  return result;
}

std::int64_t realInteger(double real) {
  if (std::isnan(real)) return 0;
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  constexpr double limit = 9223372036854775808.0;
  if (real >= limit) return std::numeric_limits<std::int64_t>::max();
  if (real < -limit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(real);  // truncates towards zero
}

}  // namespace

bool boolReading(const Value* value) {
  if (value == nullptr) return false;
  if (const bool* flag = value->boolean()) return *flag;
  if (const Integer* integer = value->integerValue()) return integer->bits != 0;
  if (const double* real = value->real()) return *real != 0.0;
  if (const std::string* text = value->string()) return stringBool(*text);
  return false;
}

std::int64_t integerReading(const Value* value) {
  if (value == nullptr) return 0;
  if (const bool* flag = value->boolean()) return *flag ? 1 : 0;
  if (const Integer* integer = value->integerValue()) {
    return integer->unsignedWide ? std::numeric_limits<std::int64_t>::max() : integer->asSigned();
  }
  if (const double* real = value->real()) return realInteger(*real);
  if (const std::string* text = value->string()) return stringInteger(*text);
  return 0;
}

}  // namespace qu::plist
