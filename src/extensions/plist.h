#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace qu::plist {

class Value;

// A property-list integer over the full 64-bit range: either a signed value,
// or an unsigned one above INT64_MAX (which has no signed reading).
struct Integer {
  std::uint64_t bits = 0;
  bool unsignedWide = false;

  static Integer fromSigned(std::int64_t value) {
    return Integer{static_cast<std::uint64_t>(value), false};
  }
  static Integer fromUnsigned(std::uint64_t value) {
    return Integer{value, value > static_cast<std::uint64_t>(INT64_MAX)};
  }
  // Two's-complement reading; wraps for unsignedWide values.
  std::int64_t asSigned() const { return static_cast<std::int64_t>(bits); }
  friend bool operator==(const Integer&, const Integer&) = default;
};

// Seconds since 2001-01-01 00:00:00 UTC, the property lists' reference date.
struct Date {
  double sinceReferenceDate = 0;
  friend bool operator==(const Date&, const Date&) = default;
};

struct Data {
  std::string bytes;
  friend bool operator==(const Data&, const Data&) = default;
};

using Array = std::vector<Value>;

// A dictionary that keeps its keys in the order they were read or added; that
// order is the dictionary's own order wherever the uninstaller iterates one.
// A large one also hashes its keys, so a hundred thousand of them are read in
// linear time; small ones, the most, are scanned and stay small.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;

  Dictionary() = default;
  // Defined where Value is complete.
  Dictionary(const Dictionary& other);
  Dictionary& operator=(const Dictionary& other);
  Dictionary(Dictionary&& other) noexcept;
  Dictionary& operator=(Dictionary&& other) noexcept;
  ~Dictionary();

  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // Replaces the value of an existing key in place, or appends a new entry.
  void set(std::string key, Value value);
  // Removes the key, keeping the others in order; false when it was not there.
  bool erase(std::string_view key);
  // Removes every key of the list that is there (a key listed twice counts
  // once), keeping the others in order, in one pass over the entries;
  // answers how many went.
  std::size_t eraseKeys(const std::vector<std::string_view>& keys);
  // Makes room for this many keys, so a reader that knows the count grows nothing.
  void reserve(std::size_t keys);

  // Defined below Value: clang instantiates vector's constexpr members where
  // they are used, and Value must be complete by then.
  std::size_t size() const;
  bool empty() const;
  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<Entry>::const_iterator begin() const;
  std::vector<Entry>::const_iterator end() const;

  friend bool operator==(const Dictionary& a, const Dictionary& b);

 private:
  // Key, viewed in its entry, to the entry's index. Built again whenever the
  // vector grows or is copied; an erase re-enters only the entries after the
  // first one erased, which are the ones that move.
  using Positions = std::unordered_map<std::string_view, std::size_t>;

  // From this many keys on, a hash finds a key sooner than a scan.
  static constexpr std::size_t kHashedFrom = 16;

  std::optional<std::size_t> position(std::string_view key) const;
  void hashKeys();

  std::vector<Entry> entries_;
  std::unique_ptr<Positions> positions_;  // once there are kHashedFrom keys
};

// Any property-list value: dictionary, array, string, integer, real, Boolean,
// date or data.
class Value {
 public:
  using Storage = std::variant<Dictionary, Array, std::string, Integer, double, bool, Date, Data>;

  Value() : storage_(Dictionary{}) {}
  Value(Dictionary v) : storage_(std::move(v)) {}            // NOLINT(google-explicit-constructor)
  Value(Array v) : storage_(std::move(v)) {}                 // NOLINT(google-explicit-constructor)
  Value(std::string v) : storage_(std::move(v)) {}           // NOLINT(google-explicit-constructor)
  Value(const char* v) : storage_(std::string(v)) {}         // NOLINT(google-explicit-constructor)
  Value(Integer v) : storage_(v) {}                          // NOLINT(google-explicit-constructor)
  Value(double v) : storage_(v) {}                           // NOLINT(google-explicit-constructor)
  Value(bool v) : storage_(v) {}                             // NOLINT(google-explicit-constructor)
  Value(Date v) : storage_(v) {}                             // NOLINT(google-explicit-constructor)
  Value(Data v) : storage_(std::move(v)) {}                  // NOLINT(google-explicit-constructor)
  static Value integer(std::int64_t v) { return Value(Integer::fromSigned(v)); }

  const Storage& storage() const { return storage_; }
  Storage& storage() { return storage_; }

  // Typed views: a pointer to the held value, or null when it holds another type.
  const Dictionary* dictionary() const { return std::get_if<Dictionary>(&storage_); }
  Dictionary* dictionary() { return std::get_if<Dictionary>(&storage_); }
  const Array* array() const { return std::get_if<Array>(&storage_); }
  Array* array() { return std::get_if<Array>(&storage_); }
  const std::string* string() const { return std::get_if<std::string>(&storage_); }
  const Integer* integerValue() const { return std::get_if<Integer>(&storage_); }
  const double* real() const { return std::get_if<double>(&storage_); }
  const bool* boolean() const { return std::get_if<bool>(&storage_); }
  const Date* date() const { return std::get_if<Date>(&storage_); }
  const Data* data() const { return std::get_if<Data>(&storage_); }

  friend bool operator==(const Value& a, const Value& b) { return a.storage_ == b.storage_; }

 private:
  Storage storage_;
};

inline std::size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline std::vector<Dictionary::Entry>::const_iterator Dictionary::begin() const {
  return entries_.begin();
}
inline std::vector<Dictionary::Entry>::const_iterator Dictionary::end() const {
  return entries_.end();
}

}  // namespace qu::plist
