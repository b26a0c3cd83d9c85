#pragma once

#include <cmath>
#include <cstddef>
#include <variant>

#include "extensions/plist.h"

namespace qu::fuzzing {

// How finely two property-list values must agree.
enum class Precision {
  // Exactly, except that NaN equals NaN.
  Exact,
  // As far as the XML form can carry: dates to within a second.
  Xml,
};

inline bool sameNumber(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Structural equality of two values: dictionaries in order, key for key.
inline bool sameValue(const plist::Value& a, const plist::Value& b, Precision precision) {
  if (a.storage().index() != b.storage().index()) return false;
  if (const plist::Dictionary* left = a.dictionary()) {
    const plist::Dictionary& right = *b.dictionary();
    if (left->size() != right.size()) return false;
    for (std::size_t i = 0; i < left->size(); ++i) {
      const auto& [leftKey, leftValue] = left->entries()[i];
      const auto& [rightKey, rightValue] = right.entries()[i];
      if (leftKey != rightKey || !sameValue(leftValue, rightValue, precision)) return false;
    }
    return true;
  }
  if (const plist::Array* left = a.array()) {
    const plist::Array& right = *b.array();
    if (left->size() != right.size()) return false;
    for (std::size_t i = 0; i < left->size(); ++i) {
      if (!sameValue((*left)[i], right[i], precision)) return false;
    }
    return true;
  }
  if (const double* left = a.real()) return sameNumber(*left, *b.real());
  if (const plist::Date* left = a.date()) {
    const double right = b.date()->sinceReferenceDate;
    if (precision == Precision::Exact) return sameNumber(left->sinceReferenceDate, right);
    return std::fabs(left->sinceReferenceDate - right) < 1;
  }
  return a == b;
}

}  // namespace qu::fuzzing
