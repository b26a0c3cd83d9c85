#include "cli/options.h"

#include <getopt.h>

#include <algorithm>

#include "extensions/text.h"

namespace qu {
namespace {

// Each option answers with its short letter; none uses a flag variable.
constexpr option kLongOptions[] = {
    {"id", required_argument, nullptr, 'i'},
    {"verbose", no_argument, nullptr, 'v'},
    {"list", no_argument, nullptr, 'l'},
    {"all", no_argument, nullptr, 'a'},
    {"gui", no_argument, nullptr, 'g'},
    {"dry-run", no_argument, nullptr, 'n'},
    {nullptr, 0, nullptr, 0},
};
constexpr char kShortOptions[] = "glavi:n";

void appendOnce(ItemList& selection, const ItemPtr& item) {
  if (std::find(selection.begin(), selection.end(), item) == selection.end()) {
    selection.push_back(item);
  }
}

}  // namespace

std::optional<int> parseOptions(Platform& platform, const Catalogue& catalogue,
                                std::vector<std::string> arguments, Options& options) {
  // getopt_long may permute the vector it is given, so it works on our copy.
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());

  optind = 0;  // glibc: start afresh, also for a second run in one process
  const ItemList topLevel = catalogue.values();
  for (;;) {
    const int result = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    switch (result) {
      case -1:
        return std::nullopt;
      case 'i': {
        UninstallItem* found = UninstallItem::findItemInArray(topLevel, optarg);
        if (found == nullptr) {
          platform.print(format("Invalid ID Specified: %s.\n", optarg));
          return 1;
        }
        appendOnce(options.selection, found->shared_from_this());
        break;
      }
      case 'a':
        for (const ItemPtr& item : topLevel) appendOnce(options.selection, item);
        break;
      case 'l':
        options.list = true;
        break;
      case 'g':
        options.isSilent = false;
        break;
      case 'v':
        break;
      case 'n':
        options.dryRun = true;
        break;
      case '?':
        platform.print("Usage");
        return 0;
      default:
        break;
    }
  }
}

}  // namespace qu
