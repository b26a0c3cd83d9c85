#include "extensions/json.h"

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include "extensions/text.h"

namespace qu {
namespace {

std::string base64(std::string_view bytes) {
  using boost::archive::iterators::base64_from_binary;
  using boost::archive::iterators::transform_width;
  using Encoder = base64_from_binary<transform_width<std::string_view::const_iterator, 6, 8>>;
  // The last group is filled with zero bits; the padding says how many bytes it had.
  std::string text(Encoder(bytes.begin()), Encoder(bytes.end()));
  text.append((3 - bytes.size() % 3) % 3, '=');
  return text;
}

// U+0085, U+2028 and U+2029 are line ends to many readers (and to
// JavaScript strings); inside a JSON string they may be escaped, so a
// name holding one never splits a line of the stream. Their bytes occur
// only inside strings, so they are replaced wherever they stand.
std::string withLineSeparatorsEscaped(std::string text) {
  static constexpr struct {
    std::string_view bytes;
    std::string_view escape;
  } kSeparators[] = {{"\xC2\x85", "\\u0085"}, {"\xE2\x80\xA8", "\\u2028"},
                     {"\xE2\x80\xA9", "\\u2029"}};
  for (const auto& separator : kSeparators) {
    for (std::size_t at = text.find(separator.bytes); at != std::string::npos;
         at = text.find(separator.bytes, at + separator.escape.size())) {
      text.replace(at, separator.bytes.size(), separator.escape);
    }
  }
  return text;
}

}  // namespace

Json jsonObject(std::string_view type) {
  Json object = Json::object();
  object["version"] = kJsonSchemaVersion;
  object["type"] = type;
  return object;
}

Json jsonText(std::string_view text) {
  if (isValidUtf8(text)) return Json(text);
  Json object = Json::object();
  object["base64"] = base64(text);
  return object;
}

Json jsonTextOrNull(const std::optional<std::string>& text) {
  return text ? jsonText(*text) : Json(nullptr);
}

// Every string went through jsonText or is one of our own names, so the
// library's strict UTF-8 check can only fail on a programming error.
std::string jsonDocumentText(const Json& document) {
  return withLineSeparatorsEscaped(document.dump(2)) + "\n";
}

std::string jsonLineText(const Json& line) { return withLineSeparatorsEscaped(line.dump()) + "\n"; }

}  // namespace qu
