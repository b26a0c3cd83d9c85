#include "cli/options.h"

#include <getopt.h>

#include <algorithm>

#include "cli/run_json.h"
#include "extensions/text.h"
#include "system/os.h"

namespace qu {
namespace {

constexpr int kJsonOption = 256;  // long only

// Each option answers with its short letter (or a number above every letter);
// none uses a flag variable. --version answers like --verbose: getopt_long
// takes the first of several abbreviation matches that answer alike, so
// "--v", "--ve" and "--ver" keep meaning --verbose. The index tells them apart.
constexpr option kLongOptions[] = {
    {"id", required_argument, nullptr, 'i'},
    {"verbose", no_argument, nullptr, 'v'},
    {"version", no_argument, nullptr, 'v'},
    {"list", no_argument, nullptr, 'l'},
    {"all", no_argument, nullptr, 'a'},
    {"gui", no_argument, nullptr, 'g'},
    {"dry-run", no_argument, nullptr, 'n'},
    {"help", no_argument, nullptr, 'h'},
    {"json", no_argument, nullptr, kJsonOption},
    {nullptr, 0, nullptr, 0},
};
constexpr int kVersionIndex = 2;
constexpr char kShortOptions[] = "glavi:nh";

// One getopt_long pass over a copy of the arguments (it permutes what it is
// given).
class OptionReader {
 public:
  explicit OptionReader(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
    argv_.reserve(arguments_.size() + 1);
    for (std::string& argument : arguments_) argv_.push_back(argument.data());
    argv_.push_back(nullptr);
    os::restartOptionParsing();  // also for a second pass in one process
  }

  // The next option's answer, -1 at the end; --version answers kVersion.
  int next() {
    int index = -1;
    const int result = getopt_long(static_cast<int>(arguments_.size()), argv_.data(),
                                   kShortOptions, kLongOptions, &index);
    return result == 'v' && index == kVersionIndex ? kVersion : result;
  }

  // After next() answered -1: the arguments that are not options, in order.
  std::vector<std::string> operands() const {
    std::vector<std::string> operands;
    for (auto i = static_cast<std::size_t>(optind); i < arguments_.size(); ++i) {
      operands.emplace_back(argv_[i]);
    }
    return operands;
  }

  static constexpr int kVersion = 257;

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> argv_;
};

void appendOnce(ItemList& selection, const ItemPtr& item) {
  if (std::find(selection.begin(), selection.end(), item) == selection.end()) {
    selection.push_back(item);
  }
}

// Every option the real parse will see, read ahead without complaints.
std::vector<int> readOptionsQuietly(std::vector<std::string> arguments) {
  const int reportErrors = opterr;
  opterr = 0;
  OptionReader reader(std::move(arguments));
  std::vector<int> results;
  for (int result = reader.next(); result != -1; result = reader.next()) results.push_back(result);
  opterr = reportErrors;
  return results;
}

}  // namespace

EarlyRequest readEarlyRequest(std::vector<std::string> arguments) {
  EarlyRequest request = EarlyRequest::None;
  const std::vector<int> results = readOptionsQuietly(std::move(arguments));
  for (const int result : results) {
    if (result == 'h') request = EarlyRequest::Help;
    if (result == OptionReader::kVersion && request == EarlyRequest::None) {
      request = EarlyRequest::Version;
    }
  }
  return request;
}

std::optional<int> parseOptions(Platform& platform, const Catalogue& catalogue,
                                std::vector<std::string> arguments, Options& options) {
  // A script that asked for JSON reads standard output as JSON: the refusals
  // below go to standard error instead, whatever the option's place.
  const std::vector<int> ahead = readOptionsQuietly(arguments);
  options.json = std::find(ahead.begin(), ahead.end(), kJsonOption) != ahead.end();
  // With --json, a script reads the refusal from standard output as one JSON
  // line, and a person reads it on standard error.
  const auto refuse = [&](const std::string& text, int status) {
    if (!options.json) return platform.print(text);
    platform.printError(text + (text.ends_with('\n') ? "" : "\n"));
    platform.print(jsonLineText(refusalJson(text, status)));
  };
  OptionReader reader(std::move(arguments));
  const ItemList topLevel = catalogue.values();
  for (;;) {
    switch (reader.next()) {
      case -1:
        // Someone who typed an identifier alone meant to remove it; nothing
        // is removed without --id, but they learn why.
        for (const std::string& operand : reader.operands()) {
          if (UninstallItem::findItemInArray(topLevel, operand) != nullptr) {
            platform.printError(format("ignoring '%s'; to remove the item, use --id %s\n",
                                       operand.c_str(), operand.c_str()));
          } else {
            platform.printError(
                format("ignoring '%s'; it is not an option (see --help)\n", operand.c_str()));
          }
        }
        return std::nullopt;
      case 'i': {
        UninstallItem* found = UninstallItem::findItemInArray(topLevel, optarg);
        if (found == nullptr) {
          refuse(format("Invalid ID Specified: %s.\n", optarg), 1);
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
      case 'n':
        options.dryRun = true;
        break;
      case kJsonOption:
        options.json = true;
        break;
      case '?':
        // After the parser's own complaint on standard error.
        refuse("Usage", 0);
        platform.printError("Try 'quorvane-uninstall --help'.\n");
        return 0;
      default:  // --verbose; --help and --version were answered before loading
        break;
    }
  }
}

}  // namespace qu
