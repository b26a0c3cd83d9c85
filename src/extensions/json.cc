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
std::string jsonDocumentText(const Json& document) { return document.dump(2) + "\n"; }

std::string jsonLineText(const Json& line) { return line.dump() + "\n"; }

}  // namespace qu
