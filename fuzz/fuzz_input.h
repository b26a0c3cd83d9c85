#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace qu::fuzzing {

// The bytes libFuzzer hands a target, as text.
inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Targets that feed several things take them from one input, in this order,
// separated by lines holding only "%%". Missing sections are empty, so every
// input is usable; a corpus file stays readable and easy to write by hand.
inline std::vector<std::string_view> sections(std::string_view input, std::size_t count) {
  static constexpr std::string_view kSeparator = "\n%%\n";
  std::vector<std::string_view> parts;
  parts.reserve(count);
  while (parts.size() + 1 < count) {
    const std::size_t at = input.find(kSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(input.substr(0, at));
    input.remove_prefix(at + kSeparator.size());
  }
  parts.push_back(input);
  parts.resize(count);
  return parts;
}

// A broken property of the code under test: reported, then libFuzzer keeps
// the input as a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void check(bool holds, const char* what) {
  if (!holds) fail(what);
}

}  // namespace qu::fuzzing
