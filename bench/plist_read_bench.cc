// Reads a property list holding a dictionary of 100,000 keys, in its XML and
// its binary form, with the uninstaller's reader (checks, the library's
// parse, conversion to the uninstaller's values) and, in the same run, with
// the library's own parse alone. Each read starts from a heap that has given
// its free memory back, as in a run of the tool, which reads a file once:
// otherwise the second read of the same size reuses pages the first one
// already paid for. Prints both times per round and the ratio of the medians.
//
// Usage: plist_read_bench [--rounds N]

#include <malloc.h>
#include <plist/plist.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "extensions/plist_io.h"
#include "extensions/text.h"

namespace qu::bench {
namespace {

constexpr double kTarget = 3.0;
constexpr int kKeys = 100000;

struct NodeFree {
  void operator()(void* node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeFree>;

// An uninstall plist whose "plistremove" names 100,000 files.
plist::Value bigDictionary() {
  plist::Dictionary edits;
  for (int i = 0; i < kKeys; ++i) {
    edits.set(format("/Library/Preferences/com.quorvane.bench.%06d.plist", i),
              plist::Array{"Software:Quorvane Technologies"});
  }
  plist::Dictionary settings;
  settings.set("pkgid", "com.quorvane.bench");
  settings.set("plistremove", std::move(edits));
  return settings;
}

std::string binaryOf(const std::string& xml) {
  plist_t raw = nullptr;
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &raw);
  Node node(raw);
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(node.get(), &bytes, &length);
  if (bytes == nullptr) throw std::runtime_error("no binary form");
  std::string binary(bytes, length);
  plist_to_bin_free(bytes);
  return binary;
}

double timeOurs(const std::string& bytes) {
  (void)::malloc_trim(0);
  const Stopwatch stopwatch;
  const std::optional<plist::Value> value = plist::parse(bytes);
  const double seconds = stopwatch.seconds();
  if (!value || value->dictionary()->find("plistremove")->dictionary()->size() != kKeys) {
    throw std::runtime_error("the reader lost keys");
  }
  return seconds;
}

double timeLibrary(const std::string& bytes) {
  (void)::malloc_trim(0);
  const Stopwatch stopwatch;
  plist_t raw = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
  Node node(raw);
  node.reset();
  const double seconds = stopwatch.seconds();
  if (raw == nullptr) throw std::runtime_error("the library refused the list");
  return seconds;
}

int run(int rounds) {
  const std::string xml = plist::toXml(bigDictionary());
  const struct {
    const char* form;
    std::string bytes;
  } forms[] = {{"XML", xml}, {"binary", binaryOf(xml)}};
  std::printf("property list: %d keys, %d rounds\n", kKeys, rounds);

  for (const auto& form : forms) {
    std::vector<double> ours, library;
    for (int round = 0; round < rounds; ++round) {
      // Alternate which goes first so neither always meets a warm cache.
      if (round % 2 == 0) {
        ours.push_back(timeOurs(form.bytes));
        library.push_back(timeLibrary(form.bytes));
      } else {
        library.push_back(timeLibrary(form.bytes));
        ours.push_back(timeOurs(form.bytes));
      }
      std::printf("  %s (%zu bytes), round %d: reader %s, library alone %s\n", form.form,
                  form.bytes.size(), round + 1, formatSeconds(ours.back()).c_str(),
                  formatSeconds(library.back()).c_str());
    }
    printRatioRow(
        format("Property list, 100,000 keys (%s), reader vs the library's own parse", form.form),
        ours, library, kTarget);
  }
  return 0;
}

}  // namespace
}  // namespace qu::bench

int main(int argc, char** argv) {
  return qu::bench::mainWithRounds(argc, argv, "property list", 5, qu::bench::run);
}
