#include "extensions/plist_precheck.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace qu::plist {
namespace {

// --- Binary form: "bplist00", objects, an offset table, a 32-byte trailer.

constexpr std::uint8_t kInteger = 0x1;
constexpr std::uint8_t kData = 0x4;
constexpr std::uint8_t kAsciiString = 0x5;
constexpr std::uint8_t kUtf16String = 0x6;
constexpr std::uint8_t kUtf8String = 0x7;
constexpr std::uint8_t kArray = 0xA;
constexpr std::uint8_t kDictionary = 0xD;
constexpr std::uint64_t kTrailerSize = 32;

class BinaryList {
 public:
  explicit BinaryList(std::string_view bytes) : bytes_(bytes) {}

  // Reads the trailer; false when it is unusable.
  bool open() {
    if (size() < 8 + kTrailerSize) return false;
    const std::uint64_t trailer = size() - kTrailerSize;
    offsetSize_ = *number(trailer + 6, 1);
    referenceSize_ = *number(trailer + 7, 1);
    objects_ = *number(trailer + 8, 8);
    top_ = *number(trailer + 16, 8);
    table_ = *number(trailer + 24, 8);
    return offsetSize_ >= 1 && offsetSize_ <= 8 && referenceSize_ >= 1 && referenceSize_ <= 8 &&
           table_ <= trailer && objects_ <= (trailer - table_) / offsetSize_ && top_ < objects_;
  }

  std::uint64_t size() const { return bytes_.size(); }
  std::uint64_t objects() const { return objects_; }
  std::uint64_t top() const { return top_; }

  // The big-endian unsigned integer of `width` (1 to 8) bytes at `at`, or
  // nothing when it does not lie within the bytes.
  std::optional<std::uint64_t> number(std::uint64_t at, std::uint64_t width) const {
    if (width == 0 || width > 8 || at > size() || width > size() - at) return std::nullopt;
    std::uint64_t value = 0;
    for (std::uint64_t i = 0; i < width; ++i) {
      value = value << 8 | static_cast<unsigned char>(bytes_[at + i]);
    }
    return value;
  }

  // Where an object starts, or nothing.
  std::optional<std::uint64_t> offset(std::uint64_t object) const {
    if (object >= objects_) return std::nullopt;
    return number(table_ + object * offsetSize_, offsetSize_);
  }

  // The object's type: the high nibble of its marker.
  std::optional<std::uint8_t> type(std::uint64_t object) const {
    std::optional<std::uint64_t> at = offset(object);
    std::optional<std::uint64_t> marker = at ? number(*at, 1) : std::nullopt;
    if (!marker) return std::nullopt;
    return static_cast<std::uint8_t>(*marker >> 4);
  }

  // The object's element count: the low nibble of its marker, or, when that
  // is 15, the integer object that follows. `contents` is set to where the
  // elements begin. Capped at the size of the bytes, which no real object
  // can exceed.
  std::optional<std::uint64_t> count(std::uint64_t object, std::uint64_t& contents) const {
    std::optional<std::uint64_t> at = offset(object);
    std::optional<std::uint64_t> marker = at ? number(*at, 1) : std::nullopt;
    if (!marker) return std::nullopt;
    std::uint64_t elements = *marker & 0xF;
    contents = *at + 1;
    if (elements == 0xF) {
      std::optional<std::uint64_t> intMarker = number(*at + 1, 1);
      if (!intMarker || *intMarker >> 4 != kInteger || (*intMarker & 0xF) > 3) return std::nullopt;
      const std::uint64_t width = std::uint64_t{1} << (*intMarker & 0xF);
      std::optional<std::uint64_t> value = number(*at + 2, width);
      if (!value) return std::nullopt;
      elements = *value;
      contents = *at + 2 + width;
    }
    return elements < size() ? elements : size();
  }

  std::optional<std::uint64_t> reference(std::uint64_t at) const {
    return number(at, referenceSize_);
  }
  std::uint64_t referenceSize() const { return referenceSize_; }

 private:
  std::string_view bytes_;
  std::uint64_t offsetSize_ = 0;
  std::uint64_t referenceSize_ = 0;
  std::uint64_t objects_ = 0;
  std::uint64_t top_ = 0;
  std::uint64_t table_ = 0;
};

bool isContainer(std::optional<std::uint8_t> type) {
  // Arrays, ordered sets, sets and dictionaries.
  return type && *type >= kArray && *type <= kDictionary;
}

// The bytes the library copies out of a string or data object: its text as
// UTF-8 (up to three bytes for each UTF-16 unit) or its data.
std::uint64_t copiedBytes(const BinaryList& list, std::uint64_t object) {
  const std::optional<std::uint8_t> type = list.type(object);
  if (type != kData && type != kAsciiString && type != kUtf8String && type != kUtf16String) {
    return 0;
  }
  std::uint64_t contents = 0;
  const std::uint64_t count = list.count(object, contents).value_or(0);
  return type == kUtf16String ? 3 * count : count;
}

// Whether a UTF-16 string object holds U+0000.
bool holdsNul(const BinaryList& list, std::uint64_t object, std::uint64_t& budget) {
  if (list.type(object) != kUtf16String) return false;
  std::uint64_t text = 0;
  std::optional<std::uint64_t> units = list.count(object, text);
  if (!units) return false;
  for (std::uint64_t unit = 0; unit < *units && budget > 0; ++unit, --budget) {
    std::optional<std::uint64_t> value = list.number(text + 2 * unit, 2);
    if (!value) return false;
    if (*value == 0) return true;
  }
  return false;
}

// Walks the containers reachable from the top object, depth first and
// without recursion, entering each once. The library, though, reads a list as
// a tree: an object referenced twice is read twice, so a few hundred bytes of
// containers that each reference the next one twice unfold into billions of
// nodes, and an array that references one large string ten thousand times
// copies it ten thousand times. The walk measures the tree the library would
// build, its depth, its size and the bytes of text and data copied into it,
// and refuses one far larger than the bytes or than any real list.
bool binaryIsSafe(std::string_view bytes) {
  BinaryList list(bytes);
  if (!list.open() || !isContainer(list.type(list.top()))) return true;

  // Shared strings and numbers make a tree somewhat larger than the list.
  const std::uint64_t largestTree = 8 * list.size() + 4096;
  // A well-formed list holds each object once, so the walk reads each
  // reference and each key's text once and stays within the size of the bytes.
  std::uint64_t budget = 2 * list.size();

  enum class State : std::uint8_t { New, Entered, Measured };
  struct Measure {
    std::uint64_t nodes = 1;  // in the unfolded tree, the object included
    int depth = 0;            // containers on the longest path down, the object included
    std::uint64_t bytes = 0;  // of strings, data and keys copied into the tree
  };
  std::vector<State> states(list.objects(), State::New);
  std::vector<Measure> measures(list.objects());
  std::vector<bool> keyChecked(list.objects());
  struct Frame {
    std::uint64_t object;
    std::uint64_t next;  // position of the next reference
    std::uint64_t left;  // references still to read
    std::uint64_t keys;  // of which the first ones are dictionary keys
    Measure measure;
  };
  std::vector<Frame> path;

  const auto enter = [&](std::uint64_t object) {
    states[object] = State::Entered;
    std::uint64_t contents = 0;
    const std::uint64_t elements = list.count(object, contents).value_or(0);
    const bool dictionary = list.type(object) == kDictionary;
    // A dictionary lists its keys, then its values.
    path.push_back(
        {object, contents, dictionary ? 2 * elements : elements, dictionary ? elements : 0, {}});
  };
  const auto addChild = [&](Measure& parent, const Measure& child) {
    parent.nodes = std::min(parent.nodes + child.nodes, largestTree + 1);
    parent.depth = std::max(parent.depth, child.depth);
    parent.bytes = std::min(parent.bytes + child.bytes, kLargestUnfolding + 1);
  };
  const auto leaf = [&](std::uint64_t object) {
    return Measure{1, 0, std::min(copiedBytes(list, object), kLargestUnfolding + 1)};
  };

  enter(list.top());
  while (true) {
    Frame& frame = path.back();
    if (frame.left == 0) {
      Measure done = frame.measure;
      done.depth += 1;
      measures[frame.object] = done;
      states[frame.object] = State::Measured;
      if (done.depth > kDeepestNesting || done.nodes > largestTree ||
          done.bytes > kLargestUnfolding) {
        return false;
      }
      path.pop_back();
      if (path.empty()) return true;
      addChild(path.back().measure, done);
      continue;
    }
    if (budget-- == 0) return false;
    const bool isKey = frame.keys > 0;
    std::optional<std::uint64_t> child = list.reference(frame.next);
    frame.next += list.referenceSize();
    --frame.left;
    if (isKey) --frame.keys;
    if (!child || *child >= list.objects()) continue;

    if (isKey) {
      // The library reads a key's object in full before it looks at its
      // type, so a key naming a container would unfold unmeasured.
      const std::optional<std::uint8_t> keyType = list.type(*child);
      if (keyType != kAsciiString && keyType != kUtf16String) return false;
      if (!keyChecked[*child]) {
        keyChecked[*child] = true;
        if (holdsNul(list, *child, budget) || budget == 0) return false;
      }
      addChild(frame.measure, leaf(*child));
    } else if (!isContainer(list.type(*child))) {
      addChild(frame.measure, leaf(*child));
    } else if (states[*child] == State::Measured) {
      addChild(frame.measure, measures[*child]);
    } else if (states[*child] == State::Entered) {
      return false;  // a container inside itself
    } else {
      if (path.size() >= static_cast<std::size_t>(kDeepestNesting)) return false;
      enter(*child);
    }
  }
}

// --- XML form: the nesting of "array" and "dict" elements, with comments,
// character data, declarations and processing instructions passed over.

bool xmlIsSafe(std::string_view text) {
  int depth = 0;
  std::size_t at = 0;
  const auto skipPast = [&](std::string_view end) {
    const std::size_t found = text.find(end, at);
    at = found == std::string_view::npos ? text.size() : found + end.size();
  };
  while ((at = text.find('<', at)) != std::string_view::npos) {
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("<!--")) {
      skipPast("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skipPast("]]>");
    } else if (rest.starts_with("<?")) {
      skipPast("?>");
    } else if (rest.starts_with("<!")) {
      skipPast(">");
    } else if (rest.starts_with("</array") || rest.starts_with("</dict")) {
      if (depth > 0) --depth;  // a stray end tag must not pay for later nesting
      skipPast(">");
    } else if (rest.starts_with("<array") || rest.starts_with("<dict")) {
      const std::size_t close = text.find('>', at);
      at = close == std::string_view::npos ? text.size() : close + 1;
      if (depth + 1 > kDeepestNesting) return false;
      if (close == std::string_view::npos || text[close - 1] != '/') ++depth;  // not "<array/>"
    } else {
      ++at;
    }
  }
  return true;
}

}  // namespace

bool safeToParse(std::string_view bytes) {
  if (bytes.starts_with("bplist00")) return binaryIsSafe(bytes);
  return xmlIsSafe(bytes);
}

}  // namespace qu::plist
