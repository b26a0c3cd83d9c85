#include "extensions/plist_io.h"

#include <fcntl.h>
#include <libxml/chvalid.h>
#include <plist/plist.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

#include "extensions/atomic_file.h"
#include "extensions/plist_precheck.h"
#include "extensions/text.h"
#include "platform/unique_fd.h"

namespace qu::plist {

namespace {

struct NodeFree {
  void operator()(void* node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeFree>;

struct MallocFree {
  void operator()(char* buffer) const { std::free(buffer); }
};
using MallocBuffer = std::unique_ptr<char, MallocFree>;

struct XmlFree {
  void operator()(char* buffer) const { plist_to_xml_free(buffer); }
};
using XmlBuffer = std::unique_ptr<char, XmlFree>;

struct IterFree {
  void operator()(void* iter) const { std::free(iter); }
};
using DictIter = std::unique_ptr<void, IterFree>;

std::string xmlOf(plist_t node) {
  char* raw = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(node, &raw, &length);
  XmlBuffer xml(raw);
  if (!xml) throw std::bad_alloc();
  return std::string(xml.get(), length);
}

// The library keeps an integer's sign but hands out only its 64 bits, so a
// value above INT64_MAX may be a negative number or a large unsigned one. Its
// own XML form still tells them apart; this is only asked for such values.
bool isNegative(plist_t node) {
  Node copy(plist_copy(node));
  if (!copy) throw std::bad_alloc();
  std::string xml = xmlOf(copy.get());
  std::size_t open = xml.find("<integer>");
  return open != std::string::npos && xml.compare(open + 9, 1, "-") == 0;
}

struct BinFree {
  void operator()(char* buffer) const { plist_to_bin_free(buffer); }
};
using BinBuffer = std::unique_ptr<char, BinFree>;

// The library's date accessor counts seconds in 32 bits, which wraps dates
// before 1933 and after 2068, such as the distant past and future that
// programs store for "never". The binary form keeps the date's exact real.
double dateOf(plist_t node) {
  Node copy(plist_copy(node));
  if (!copy) throw std::bad_alloc();
  char* raw = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(copy.get(), &raw, &length);
  BinBuffer binary(raw);
  if (!binary) throw std::bad_alloc();
  // "bplist00", then the one object: the date marker and a big-endian real.
  const auto* bytes = reinterpret_cast<const unsigned char*>(binary.get());
  if (length < 17 || bytes[8] != 0x33) {
    std::int32_t seconds = 0;
    std::int32_t microseconds = 0;
    plist_get_date_val(node, &seconds, &microseconds);
    return seconds + microseconds / 1e6;
  }
  std::uint64_t bits = 0;
  for (int i = 9; i < 17; ++i) bits = bits << 8 | bytes[i];
  return std::bit_cast<double>(bits);
}

std::optional<Value> fromNode(plist_t node, int depth);

std::optional<Value> dictionaryFromNode(plist_t node, int depth) {
  Dictionary dictionary;
  dictionary.reserve(plist_dict_get_size(node));
  void* rawIter = nullptr;
  plist_dict_new_iter(node, &rawIter);
  DictIter iter(rawIter);
  if (!iter) throw std::bad_alloc();
  while (true) {
    char* rawKey = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(node, iter.get(), &rawKey, &item);
    MallocBuffer key(rawKey);
    if (item == nullptr) break;
    std::optional<Value> value = fromNode(item, depth + 1);
    if (!value || !key) return std::nullopt;
    dictionary.set(key.get(), std::move(*value));
  }
  return Value(std::move(dictionary));
}

std::optional<Value> arrayFromNode(plist_t node, int depth) {
  Array array;
  std::uint32_t size = plist_array_get_size(node);
  array.reserve(size);
  for (std::uint32_t i = 0; i < size; ++i) {
    std::optional<Value> value = fromNode(plist_array_get_item(node, i), depth + 1);
    if (!value) return std::nullopt;
    array.push_back(std::move(*value));
  }
  return Value(std::move(array));
}

std::optional<Value> fromNode(plist_t node, int depth) {
  switch (plist_get_node_type(node)) {
    case PLIST_DICT:
      if (depth >= kDeepestNesting) return std::nullopt;
      return dictionaryFromNode(node, depth);
    case PLIST_ARRAY:
      if (depth >= kDeepestNesting) return std::nullopt;
      return arrayFromNode(node, depth);
    case PLIST_STRING: {
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return Value(std::string(text, length));
    }
    case PLIST_UINT: {
      std::uint64_t bits = 0;
      plist_get_uint_val(node, &bits);
      if (bits <= static_cast<std::uint64_t>(INT64_MAX) || isNegative(node)) {
        return Value(Integer{bits, false});
      }
      return Value(Integer::fromUnsigned(bits));
    }
    case PLIST_REAL: {
      double real = 0;
      plist_get_real_val(node, &real);
      return Value(real);
    }
    case PLIST_BOOLEAN: {
      std::uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      return Value(flag != 0);
    }
    case PLIST_DATE:
      return Value(Date{dateOf(node)});
    case PLIST_DATA: {
      std::uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      return Value(Data{std::string(bytes, length)});
    }
    default:
      // Keys outside dictionaries, keyed-archive identifiers and the like
      // have no place in the files this tool reads.
      return std::nullopt;
  }
}

// The dates the XML form can write: the years 1 to 9999.
constexpr double kYear1 = -63113904000;      // 0001-01-01T00:00:00Z
constexpr double kYear10000 = 252423993600;  // 10000-01-01T00:00:00Z

bool isWritableDate(double sinceReferenceDate) {
  return sinceReferenceDate >= kYear1 && sinceReferenceDate < kYear10000;  // NaN fails
}

// A node for a date, made from the binary form: the library's own date
// constructor counts seconds in 32 bits. Dates the XML form cannot write are
// held to its range.
plist_t newDate(double sinceReferenceDate) {
  double seconds = std::isnan(sinceReferenceDate) ? 0 : sinceReferenceDate;
  seconds = std::clamp(seconds, kYear1, kYear10000 - 1);

  // "bplist00", the one object (a date and its big-endian real), the offset
  // table, and the trailer: 1-byte offsets and references, one object, the
  // root at 0, the offset table at byte 17.
  std::string bytes("bplist00\x33", 9);
  const auto bits = std::bit_cast<std::uint64_t>(seconds);
  for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(bits >> shift));
  bytes.push_back(8);
  bytes.append(6, '\0');
  bytes.append({1, 1});
  for (std::uint64_t field : {std::uint64_t{1}, std::uint64_t{0}, std::uint64_t{17}}) {
    for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(field >> shift));
  }
  plist_t node = nullptr;
  plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &node);
  return node;
}

// A node for an integer. Built from bits, the library marks every value above
// INT64_MAX as negative, so a large unsigned one is read from its decimal text,
// which the library's XML reader keeps unsigned.
plist_t newInteger(const Integer& integer) {
  if (!integer.unsignedWide) return plist_new_uint(integer.bits);
  std::string xml =
      "<plist version=\"1.0\"><integer>" + std::to_string(integer.bits) + "</integer></plist>";
  plist_t node = nullptr;
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &node);
  return node;
}

Node toNode(const Value& value);

plist_t newDictionary(const Dictionary& dictionary) {
  Node node(plist_new_dict());
  if (!node) return nullptr;
  for (const auto& [key, item] : dictionary) {
    plist_dict_set_item(node.get(), key.c_str(), toNode(item).release());
  }
  return node.release();
}

plist_t newArray(const Array& array) {
  Node node(plist_new_array());
  if (!node) return nullptr;
  for (const Value& item : array) plist_array_append_item(node.get(), toNode(item).release());
  return node.release();
}

Node toNode(const Value& value) {
  struct Build {
    plist_t operator()(const Dictionary& v) const { return newDictionary(v); }
    plist_t operator()(const Array& v) const { return newArray(v); }
    plist_t operator()(const std::string& v) const { return plist_new_string(v.c_str()); }
    plist_t operator()(const Integer& v) const { return newInteger(v); }
    plist_t operator()(double v) const { return plist_new_real(v); }
    plist_t operator()(bool v) const { return plist_new_bool(v ? 1 : 0); }
    plist_t operator()(const Date& v) const { return newDate(v.sinceReferenceDate); }
    plist_t operator()(const Data& v) const {
      return plist_new_data(v.bytes.data(), v.bytes.size());
    }
  };
  Node node(std::visit(Build{}, value.storage()));
  if (!node) throw std::bad_alloc();
  return node;
}

// UTF-8 made only of characters an XML document may hold, which strict
// readers insist on: no control character but tab, line feed and carriage
// return (U+0000 included), no surrogate, no U+FFFE or U+FFFF.
bool isXmlText(const std::string& text) {
  // Exactly well-formed UTF-8 (no overlong form, surrogate or value beyond
  // U+10FFFF): libxml2's own decoder takes an overlong sequence for the
  // character it spells, which a strict reader then refuses.
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t length = utf8SequenceLength(rest);
    if (length == 0) return false;
    const auto byte = [&rest](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    unsigned int character = byte(0) & kLeadBits[length];
    for (std::size_t i = 1; i < length; ++i) character = (character << 6) | (byte(i) & 0x3FU);
    if (!xmlIsCharQ(character)) return false;
    rest.remove_prefix(length);
  }
  return true;
}

}  // namespace

std::optional<Value> parse(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > UINT32_MAX) return std::nullopt;
  // Some inputs bring the library down rather than being refused by it.
  if (!safeToParse(bytes)) return std::nullopt;
  // A copy, so that the reader always finds a terminating NUL after the text.
  std::string text(bytes);
  plist_t raw = nullptr;
  plist_from_memory(text.data(), static_cast<std::uint32_t>(text.size()), &raw);
  Node root(raw);
  if (!root) return std::nullopt;
  return fromNode(root.get(), 0);
}

std::optional<Value> readFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string bytes;
  char buffer[16384];
  while (true) {
    ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;  // a directory, among others
    if (count == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  return parse(bytes);
}

std::string toXml(const Value& value) { return xmlOf(toNode(value).get()); }

bool fitsXml(const Value& value) {
  if (const std::string* text = value.string()) return isXmlText(*text);
  if (const Date* date = value.date()) return isWritableDate(date->sinceReferenceDate);
  if (const Array* array = value.array()) {
    return std::all_of(array->begin(), array->end(),
                       [](const Value& item) { return fitsXml(item); });
  }
  if (const Dictionary* dictionary = value.dictionary()) {
    return std::all_of(dictionary->begin(), dictionary->end(), [](const auto& entry) {
      return isXmlText(entry.first) && fitsXml(entry.second);
    });
  }
  return true;
}

Status writeFileAtomically(const std::string& path, const Value& value) {
  return writeFileAtomically(path, value, [](int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
  });
}

Status checkFitsXml(const std::string& path, const Value& value) {
  // A binary list can hold what XML cannot; written anyway, a string would
  // silently end early, a date move, or no strict reader open the file again.
  if (fitsXml(value)) return Status::ok();
  return Status::error(EILSEQ, "write " + path + ": a value the XML form cannot hold");
}

Status writeFileAtomically(const std::string& path, const Value& value, const WriteCall& write) {
  if (Status fits = checkFitsXml(path, value); !fits) return fits;
  return replaceFileAtomically(path, toXml(value), write);
}

Status writeFileAtomicallyAt(int directory, const std::string& name, const Value& value,
                             const struct stat& original, const WriteCall& write,
                             const std::string& shownPath, SyncCall sync) {
  if (Status fits = checkFitsXml(shownPath, value); !fits) return fits;
  return replaceFileAt(directory, name, toXml(value), &original, write, shownPath, sync);
}

}  // namespace qu::plist
