#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qu {

// The conventions of every JSON text the tool writes (the listing document,
// and any later document or JSON Lines stream):
// - the outermost object, and each line of a stream, starts with "version"
//   (kJsonSchemaVersion) and "type" (what the object is);
// - members keep the order in which they were added;
// - text is a string when it is valid UTF-8 and {"base64": "..."} otherwise
//   (jsonText), so paths and names that are not UTF-8 arrive unchanged;
// - a value that is not known is null, never a made-up placeholder.
using Json = nlohmann::ordered_json;

// Raised only when the meaning of existing members changes; new members do
// not change it.
inline constexpr int kJsonSchemaVersion = 1;

// {"version": kJsonSchemaVersion, "type": type}; the caller adds the rest.
Json jsonObject(std::string_view type);

// The text as a string when it is valid UTF-8; otherwise an object whose one
// member "base64" holds its bytes in standard Base64 (RFC 4648, padded).
Json jsonText(std::string_view text);
// As above; null when there is no text.
Json jsonTextOrNull(const std::optional<std::string>& text);

// A whole document, indented by two spaces, one member a line, ending with a
// line end.
std::string jsonDocumentText(const Json& document);
// One line of a JSON Lines stream: no line end inside, one at the end.
std::string jsonLineText(const Json& line);

}  // namespace qu
