#include "manifests/process_table.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "extensions/case_folding.h"
#include "extensions/exec.h"

namespace qu {

namespace {

// The lines of the process listing. Only "\n" ends a line: a program's path
// may hold any other line break (a carriage return, U+2028) followed by a
// forged "pid path" pair, which must stay part of that path.
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// Bytes in the UTF-8 character whose first byte is given (1 for stray bytes).
std::size_t characterLength(unsigned char first) {
  if (first >= 0xF0) return 4;
  if (first >= 0xE0) return 3;
  if (first >= 0xC0) return 2;
  return 1;
}

struct ProcessLine {
  pid_t pid;
  std::string_view path;
};

std::optional<ProcessLine> parseLine(std::string_view line) {
  std::size_t at = 0;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;

  bool negative = false;
  if (at < line.size() && (line[at] == '+' || line[at] == '-')) negative = line[at++] == '-';
  const std::size_t digitsStart = at;
  std::int64_t value = 0;
  constexpr std::int64_t kMaxPid = std::numeric_limits<std::int32_t>::max();
  while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
    if (value <= kMaxPid) value = value * 10 + (line[at] - '0');
    ++at;
  }
  if (at == digitsStart) return std::nullopt;
  // Zero and negative numbers would address process groups rather than one
  // process when the program is later signalled.
  if (negative || value < 1 || value > kMaxPid) return std::nullopt;

  if (at == line.size()) return std::nullopt;
  at += characterLength(static_cast<unsigned char>(line[at]));  // the separator
  if (at >= line.size() || line[at] != '/') return std::nullopt;
  return ProcessLine{static_cast<pid_t>(value), line.substr(at)};
}

}  // namespace

ProcessTable parseProcessListing(std::string_view listing) {
  ProcessTable processes;
  for (std::string_view line : splitLines(listing)) {
    if (std::optional<ProcessLine> parsed = parseLine(line)) {
      processes.insert_or_assign(std::string(parsed->path), parsed->pid);
    }
  }
  return processes;
}

ProcessTable processesRunningFrom(const ProcessTable& processes, const PathList& files) {
  ProcessTable running;
  if (processes.empty() || files.empty()) return running;

  // Process paths always begin with "/", so only the tails of a file path that
  // begin at a "/" can equal one, and such a tail ends in the file's last
  // component. Each path is folded once: folding keeps every "/" and folds a
  // tail as it folds within the whole path. Files whose last component no
  // process has are passed over; for the others each tail is looked up in an
  // index of the folded process paths, skipping tails of lengths no process
  // has. Paths that differ only in case share one index entry.
  using Entry = ProcessTable::value_type;
  std::vector<std::string> folded;
  folded.reserve(processes.size());
  for (const Entry& process : processes) folded.push_back(foldCase(process.first));

  std::unordered_map<std::string_view, std::vector<const Entry*>> waiting;
  std::unordered_set<std::string_view> lastComponents;
  std::vector<bool> tailLengths;
  std::size_t index = 0;
  for (const Entry& process : processes) {
    const std::string_view key = folded[index++];
    waiting[key].push_back(&process);
    lastComponents.insert(key.substr(key.rfind('/') + 1));
    if (key.size() >= tailLengths.size()) tailLengths.resize(key.size() + 1);
    tailLengths[key.size()] = true;
  }

  std::string lastComponent;
  std::string file;
  for (const std::string& original : files) {
    const std::size_t lastSlash = original.rfind('/');
    if (lastSlash == std::string::npos) continue;
    foldCase(std::string_view(original).substr(lastSlash + 1), lastComponent);
    if (!lastComponents.contains(lastComponent)) continue;
    foldCase(original, file);
    const std::size_t foldedLastSlash = file.rfind('/');
    for (std::size_t at = 0; at <= foldedLastSlash; ++at) {
      if (file[at] != '/') continue;
      const std::size_t tail = file.size() - at;
      if (tail >= tailLengths.size() || !tailLengths[tail]) continue;
      auto found = waiting.find(std::string_view(file).substr(at));
      if (found == waiting.end()) continue;
      for (const Entry* process : found->second) running.insert(*process);
      waiting.erase(found);
      if (waiting.empty()) return running;
    }
  }
  return running;
}

ProcessTable Manifest::getProcesses() {
  std::optional<std::string> listing =
      stringFromExecutable(platform(), platform().locations().ps, {"-Ao", "pid=,comm="});
  const ProcessTable processes = listing ? parseProcessListing(*listing) : ProcessTable{};
  // The file list is asked for only after the listing, as its tool may run now.
  const std::optional<PathList>& fileList = files();
  if (!fileList) return {};
  return processesRunningFrom(processes, *fileList);
}

ProcessTable processesRunningFromByScan(const ProcessTable& processes, const PathList& files) {
  std::vector<std::string> foldedFiles;
  foldedFiles.reserve(files.size());
  for (const std::string& file : files) foldedFiles.push_back(foldCase(file));

  ProcessTable running;
  for (const auto& [path, pid] : processes) {
    const std::string foldedPath = foldCase(path);
    for (const std::string& file : foldedFiles) {
      if (file.ends_with(foldedPath)) {
        running.emplace(path, pid);
        break;
      }
    }
  }
  return running;
}

}  // namespace qu
