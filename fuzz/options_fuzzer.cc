// Argument vectors into the option parser over a small catalogue: every
// command line ends in usage, an unknown identifier, or a selection of
// catalogue items without repeats; the look for help and version before
// loading reads the same vectors.

#include <getopt.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cli/options.h"
#include "extensions/json.h"
#include "extensions/text.h"
#include "fuzz_input.h"
#include "in_memory_platform.h"
#include "items/package_item.h"

namespace {

using qu::fuzzing::check;

class FixedPackage : public qu::PackageItem {
 public:
  FixedPackage(const std::string& identifier, bool visible) {
    setIdentifier(identifier);
    setVisible(visible);
  }
  Kind kind() const override { return Kind::Database; }
  std::optional<std::string> version() const override { return std::nullopt; }
};

qu::ItemPtr package(const std::string& identifier, bool visible, qu::UninstallItem* parent) {
  auto item = std::make_shared<FixedPackage>(identifier, visible);
  if (parent != nullptr) item->setParent(parent);
  return item;
}

// a with a visible child a.child and a hidden a.hidden; b; h hidden.
qu::Catalogue sampleCatalogue() {
  qu::Catalogue catalogue;
  const qu::ItemPtr a = package("a", true, nullptr);
  package("a.child", true, a.get());
  package("a.hidden", false, a.get());
  catalogue.set("a", a);
  catalogue.set("b", package("b", true, nullptr));
  catalogue.set("h", package("h", false, nullptr));
  return catalogue;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // getopt's own complaints about unknown options would flood the run's
  // output; what the parser makes of them is checked below.
  opterr = 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are separated by NUL bytes, as in a process's command line; the
  // program name comes first.
  std::vector<std::string> arguments = qu::split(qu::fuzzing::bytesOf(data, size), '\0');
  static const qu::Catalogue catalogue = sampleCatalogue();

  const qu::EarlyRequest early = qu::readEarlyRequest(arguments);
  if (arguments.size() > 1 && arguments[1] == "--help") {
    check(early == qu::EarlyRequest::Help, "a leading --help always asks for help");
  }

  qu::fuzzing::InMemoryPlatform platform;
  qu::Options options;
  const std::optional<int> status = qu::parseOptions(platform, catalogue, arguments, options);

  // With --json a refusal goes to standard error, and as one JSON line with
  // its status to the output.
  const std::string& refusal = options.json ? platform.printedErrors : platform.printed;
  if (options.json && status) {
    const qu::Json record = qu::Json::parse(platform.printed, nullptr, false);
    check(platform.printed.ends_with("}\n") && platform.printed.find('\n') + 1 == platform.printed.size() &&
              record.is_object() && record.value("type", "") == "refusal" &&
              record.value("status", -1) == *status,
          "a refusal is one JSON line with its status");
  }
  const std::string hint = "Try 'quorvane-uninstall --help'.\n";
  if (status == 0) {
    check(options.json ? refusal == "Usage\n" + hint
                       : refusal == "Usage" && platform.printedErrors == hint,
          "a bad option shows the usage alone, and the hint");
  } else if (status == 1) {
    check(refusal.starts_with("Invalid ID Specified: ") && refusal.ends_with(".\n"),
          "an unknown identifier is named");
  } else {
    check(!status.has_value(), "the parser ends a run only with 0 or 1");
    check(platform.printed.empty(), "a good command line prints nothing");
    check(platform.printedErrors.empty() || (platform.printedErrors.starts_with("ignoring '") &&
                                             platform.printedErrors.ends_with("\n")),
          "only stray arguments are named");
  }
  if (options.json && !status) check(platform.printed.empty(), "no text among JSON");

  std::set<const qu::UninstallItem*> seen;
  for (const qu::ItemPtr& item : options.selection) {
    check(seen.insert(item.get()).second, "no item is selected twice");
    check(item->identifier() && qu::UninstallItem::findItemInArray(
                                    catalogue.values(), *item->identifier()) == item.get(),
          "only catalogue items are selected");
  }
  // "--" ends the options; an identifier taken for "--all" ends the run.
  const auto optionsEnd = std::find(arguments.begin() + 1, arguments.end(), "--");
  const bool all = std::any_of(arguments.begin() + 1, optionsEnd,
                               [](const std::string& a) { return a == "--all" || a == "-a"; });
  if (all && !status) {
    for (const qu::ItemPtr& item : catalogue.values()) {
      check(seen.contains(item.get()), "--all selects every top-level item");
    }
  }
  return 0;
}
