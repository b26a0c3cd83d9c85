// The gallery setup tool's output during a collection removal: lines are
// recognised exactly by the progress pattern, and every one recognised is
// reprinted as one whole line of the run's own progress.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "in_memory_platform.h"
#include "uninstaller/gallery_sequence.h"
#include "uninstaller/progress_line.h"

namespace {

using qu::fuzzing::check;

bool isPatternSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The pattern "Uninstalling:\s+\[(\d+)%\](.*)" read by hand, as a second
// opinion on the regular expression.
std::optional<qu::ProgressLine> readByHand(std::string_view line) {
  constexpr std::string_view kStart = "Uninstalling:";
  if (!line.starts_with(kStart)) return std::nullopt;
  std::size_t at = kStart.size();
  const std::size_t spaces = at;
  while (at < line.size() && isPatternSpace(line[at])) ++at;
  if (at == spaces || at == line.size() || line[at] != '[') return std::nullopt;
  const std::size_t digits = ++at;
  std::int64_t percent = 0;
  bool fits = true;
  while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
    percent = percent * 10 + (line[at] - '0');
    if (percent > std::numeric_limits<std::int32_t>::max()) {
      fits = false;
      percent = 0;
    }
    ++at;
  }
  if (at == digits || line.substr(at, 2) != "%]" || !fits) return std::nullopt;
  return qu::ProgressLine{static_cast<std::int32_t>(percent), std::string(line.substr(at + 2))};
}

// Lines as the pipe hands them out: with their newline, at most 1023 bytes.
std::vector<std::string> linesOf(std::string_view output) {
  std::vector<std::string> lines;
  while (!output.empty()) {
    std::size_t end = output.find('\n');
    end = end == std::string_view::npos ? output.size() : end + 1;
    if (end > 1023) end = 1023;
    lines.emplace_back(output.substr(0, end));
    output.remove_prefix(end);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte places the collection in its run: how many items the run
  // has and how many of them are finished.
  const int itemCount = 1 + (data[0] & 7);
  qu::RunProgress progress(itemCount);
  progress.percent = ((data[0] >> 3) % itemCount) * progress.share();
  const int percentBefore = progress.percent;
  const std::string_view output = qu::fuzzing::bytesOf(data + 1, size - 1);

  const qu::ProgressLineMatcher matcher;
  std::size_t recognised = 0;
  for (const std::string& line : linesOf(output)) {
    const std::optional<qu::ProgressLine> match = matcher.match(line);
    const std::optional<qu::ProgressLine> expected = readByHand(line);
    check(match.has_value() == expected.has_value(), "the pattern recognises the progress lines");
    if (!match) continue;
    check(match->percent == expected->percent && match->text == expected->text,
          "the pattern reads the percentage and the text");
    ++recognised;
  }

  qu::fuzzing::InMemoryPlatform platform;
  // The gallery tool runs only from inside the maker's folders.
  const std::string tool =
      "/Library/Application Support/Quorvane Technologies/Gallery/Gallery Setup";
  platform.present.insert(tool);
  platform.pipedOutput = std::string(output);
  const qu::RemovalRules rules;
  qu::TextReport report(platform);
  qu::RunContext run{platform, progress, rules, report};
  check(qu::uninstallGallery(run, tool, "fuzz-collection"),
        "a present tool removes the collection");
  check(progress.percent == percentBefore + progress.share(), "the collection adds its share");

  // One printed line, ended by its own newline, per recognised tool line.
  std::size_t printedLines = 0;
  for (std::string_view rest = platform.printed; !rest.empty(); ++printedLines) {
    check(rest.starts_with("Uninstalling: ["), "every printed line is a progress line");
    const std::size_t end = rest.find('\n');
    check(end != std::string_view::npos, "every printed line ends with a newline");
    rest.remove_prefix(end + 1);
  }
  check(printedLines == recognised, "each recognised line is printed once");
  return 0;
}
