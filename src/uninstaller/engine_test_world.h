#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "extensions/plist.h"
#include "extensions/plist_io.h"
#include "items/database_item.h"
#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"
#include "uninstaller/run_report.h"

namespace qu::testing {

// A temporary root with stand-ins for the system tools a package removal
// starts. launchctl, kextunload and every script made with recordingTool()
// append one line per call to "calls.log": their name and each argument in
// brackets. The package database answers from "pkgdb/<id>.files" and
// "pkgdb/<id>.dirs", paths relative to the root; ps prints "ps-output", if any.
// The shared state of a run for a test that drives one step: so many items,
// no other installed package, and the text report.
struct TestRun {
  TestRun(Platform& platform, int itemCount, bool silent = true)
      : progress(itemCount), report(platform), context{platform, progress, rules, report, silent} {}
  RunProgress progress;
  RemovalRules rules;
  TextReport report;
  RunContext context;
};

struct EngineWorld {
  TempDir tmp;
  RecordingPlatform platform{locationsUnder(tmp.path())};

  EngineWorld() {
    const Locations& at = platform.locations();
    recordingTool(at.launchctl, "launchctl");
    recordingTool(at.kextunload, "kextunload");
    writeTool(at.ps, "cat '" + tmp.at("ps-output") + "' 2>/dev/null; exit 0");
    writeTool(at.lsbom, "exit 1");
    writeTool(at.pkgutil,
              "db='" + tmp.at("pkgdb") + "'\n"
              "case \"$1\" in\n"
              "  --pkg-info-plist) cat \"$db/$2.info\" ;;\n"
              "  --only-dirs) cat \"$db/$3.dirs\" ;;\n"
              "  --files) cat \"$db/$2.files\" \"$db/$2.dirs\" 2>/dev/null; exit 0 ;;\n"
              "  '') cat \"$db/$3.files\" ;;\n"
              "esac");
  }

  // A tool at an absolute path that records its call, then runs `tail`.
  std::string recordingTool(const std::string& path, const std::string& name,
                            const std::string& tail = "exit 0") const {
    return writeTool(path, "{ printf '%s' '" + name + "'; printf ' [%s]' \"$@\"; echo; } >> '" +
                               tmp.at("calls.log") + "'\n" + tail);
  }

  std::vector<std::string> calls() const {
    std::vector<std::string> lines;
    std::istringstream log(readWholeFile(tmp.at("calls.log")));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }

  // A package known to the package database, installed below the root, with
  // the given uninstall plist settings ("pkgid" is added).
  std::shared_ptr<DatabaseItem> databasePackage(const std::string& id, plist::Dictionary settings,
                                                const std::string& files = "",
                                                const std::string& directories = "") {
    plist::Dictionary info;
    info.set("volume", tmp.path());
    info.set("install-location", "/");
    tmp.writeFile("pkgdb/" + id + ".info", plist::toXml(plist::Value(info)));
    tmp.writeFile("pkgdb/" + id + ".files", files);
    tmp.writeFile("pkgdb/" + id + ".dirs", directories);
    settings.set("pkgid", id);
    const std::string plistPath = tmp.writeFile("descriptions/" + id + ".plist",
                                                plist::toXml(plist::Value(std::move(settings))));
    return DatabaseItem::receiptWithPath(platform, plistPath);
  }

 private:
  std::string writeTool(const std::string& path, const std::string& body) const {
    return tmp.writeScript(path.substr(tmp.path().size() + 1), body);
  }
};

// A property-list array of strings.
inline plist::Value stringArray(std::initializer_list<std::string> strings) {
  plist::Array array;
  for (const std::string& text : strings) array.emplace_back(text);
  return plist::Value(std::move(array));
}

}  // namespace qu::testing
