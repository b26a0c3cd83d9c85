// Text on its way to a terminal or a log: whatever the bytes, nothing that
// could move the cursor or start a line survives, and text without control
// characters comes out exactly as it went in.

#include <string>
#include <string_view>

#include "extensions/text.h"
#include "fuzz_input.h"

namespace {

using qu::fuzzing::check;

bool holdsControl(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return true;
    const auto next = [&](std::size_t at) {
      return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    if (byte == 0xC2 && next(i + 1) >= 0x80 && next(i + 1) <= 0x9F) return true;
    if (byte == 0xE2 && next(i + 1) == 0x80 && (next(i + 2) == 0xA8 || next(i + 2) == 0xA9)) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = qu::fuzzing::bytesOf(data, size);
  const std::string shown = qu::visibleText(text);
  check(!holdsControl(shown), "no control character is left");
  check(holdsControl(text) || shown == text, "plain text is kept as it is");
  check(shown.size() >= text.size(), "nothing is dropped");
  return 0;
}
