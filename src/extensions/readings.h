#pragma once

#include <cstdint>

#include "extensions/plist.h"

namespace qu::plist {

// The Boolean reading of a settings value such as "visible": absent is false;
// a Boolean as it is; a number is true when not zero; a string is true when,
// after leading white space, an optional sign and leading zeros, it begins
// with Y, y, T, t or a digit 1 to 9; any other type is false.
bool boolReading(const Value* value);

// The integer reading of a value such as "Remote": absent is 0; a Boolean is
// 1 or 0; an integer as it is; a real by its integer part; a string by the
// decimal integer at its start (after white space and an optional sign), 0
// when there is none; any other type is 0. Saturates at the 64-bit limits.
std::int64_t integerReading(const Value* value);

}  // namespace qu::plist
