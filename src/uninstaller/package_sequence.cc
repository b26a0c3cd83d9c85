#include "uninstaller/package_sequence.h"

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "items/manifest_for_item.h"
#include "items/receipt_item.h"
#include "uninstaller/removal.h"
#include "uninstaller/termination.h"

namespace qu {
namespace {

// Logs a program's success or failure line; a program that never started
// says why, so a typo in an uninstall plist can be found. A program a dry
// run only showed has no outcome, so nothing is logged.
void logOutcome(RunContext& run, const ProgramCall& call, const ExitStatus& status,
                std::string_view succeeded, std::string_view failed) {
  run.report.programEnded(call, status);
  if (status.wasSkipped()) return;
  std::string line(status.succeeded() ? succeeded : failed);
  line += call.subject;
  if (!status.started()) line += " (" + status.describe() + ")";
  run.platform.log(line);
}

void runAndLogOutcome(RunContext& run, const ProgramCall& call, std::string_view succeeded,
                      std::string_view failed) {
  logOutcome(run, call, run.platform.runAndWait(call.program, call.arguments), succeeded, failed);
}

// A program the removal does not start (the trust test refused it, or it is
// missing): its step fails with the reason.
void logNotRun(RunContext& run, const ProgramCall& call, std::string_view failed,
               const Status& refusal) {
  run.platform.log(std::string(failed) + call.subject + " (not run: " + refusal.message() + ")");
  run.report.programNotRun(call, refusal);
}

// Settings of the wrong shape are skipped, never fatal: "what" names the
// setting, quoted as in the uninstall plist.
void logSkipped(Platform& platform, const std::string& what, std::string_view problem) {
  platform.log("Skipping " + what + " of the uninstall plist: " + std::string(problem));
}

std::string quoted(std::string_view key) { return "\"" + std::string(key) + "\""; }

// The strings of an array setting, in order; anything else is logged and left out.
std::vector<std::string> stringsOf(Platform& platform, const plist::Value& value,
                                   const std::string& what) {
  std::vector<std::string> strings;
  const plist::Array* array = value.array();
  if (array == nullptr) {
    logSkipped(platform, what, "not an array");
    return strings;
  }
  for (const plist::Value& entry : *array) {
    if (const std::string* text = entry.string()) {
      strings.push_back(*text);
    } else {
      logSkipped(platform, "an entry of " + what, "not a string");
    }
  }
  return strings;
}

void runPreRemoveScript(RunContext& run, const plist::Dictionary& settings) {
  Platform& platform = run.platform;
  const plist::Value* value = settings.find("preRemoveScript");
  if (value == nullptr) return;
  const std::string* script = value->string();
  if (script == nullptr) {
    logSkipped(platform, quoted("preRemoveScript"), "not a string");
    return;
  }
  // Relative to whatever directory root was started in: never run.
  if (!script->starts_with('/')) {
    logSkipped(platform, quoted("preRemoveScript"), "a relative path: '" + *script + "'");
    return;
  }
  // It runs as root: only a script root alone controls. A missing one is
  // reported as the start would report it, but never started: a folder
  // missing on the way may be a user's to create before the start.
  const ProgramCall call{ProgramRole::PreRemoveScript, *script, *script,
                         {"--silent", run.isSilent ? "true" : "false"}};
  if (const Status trusted = platform.trustedByRoot(*script); !trusted) {
    if (trusted.errnum() == ENOENT) {
      const ExitStatus missing = ExitStatus::notStarted(ENOENT);
      platform.log("Pre-remove script FAILED: " + *script + " (" + missing.describe() + ")");
      run.report.programNotRun(call, trusted);
      return;
    }
    logNotRun(run, call, "Pre-remove script FAILED: ", trusted);
    return;
  }
  runAndLogOutcome(run, call, "Pre-remove script succeeded: ", "Pre-remove script FAILED: ");
}

// A system tool run as root acts on what it is handed: only on a path that
// root alone controls, or a user could have it stop another program's job
// or extension. Otherwise the step fails with the reason, and the rest goes on.
void runOnControlledPath(RunContext& run, const ProgramCall& call, std::string_view succeeded,
                         std::string_view failed) {
  if (const Status controlled = run.platform.controlledByRoot(call.subject); !controlled) {
    logNotRun(run, call, failed, controlled);
    return;
  }
  runAndLogOutcome(run, call, succeeded, failed);
}

void unloadServices(RunContext& run, const plist::Dictionary& settings) {
  Platform& platform = run.platform;
  const plist::Value* value = settings.find("services");
  if (value == nullptr) return;
  for (const std::string& service : stringsOf(platform, *value, quoted("services"))) {
    runOnControlledPath(
        run, {ProgramRole::Service, service, platform.locations().launchctl, {"unload", service}},
        "Service Unloaded: ", "Service Unload FAILED: ");
  }
}

// Longest path first, so an extension nested in another one goes first.
void unloadKernelExtensions(RunContext& run, Manifest& manifest) {
  const std::optional<PathList>& directories = manifest.directories();
  if (!directories) return;
  for (const std::string& path : *directories) {
    if (!path.ends_with(".kext")) continue;
    runOnControlledPath(
        run, {ProgramRole::KernelExtension, path, run.platform.locations().kextunload, {path}},
        "Kext Unloaded: ", "Kext Unload FAILED: ");
  }
}

void removeAdditionalFiles(Platform& platform, FileRemoval& removal,
                           const plist::Dictionary& settings) {
  const plist::Value* value = settings.find("additionalfiles");
  if (value == nullptr) return;
  for (const std::string& path : stringsOf(platform, *value, quoted("additionalfiles"))) {
    removal.removeItem(path);
  }
}

void clearPackageRecord(RunContext& run, FileRemoval& removal, const PackageItem& item) {
  Platform& platform = run.platform;
  if (item.kind() == UninstallItem::Kind::Database) {
    if (!item.identifier()) return;
    // Not waited for: forgetting can take a while and decides nothing here.
    const ProgramCall call{ProgramRole::Forget, *item.identifier(), platform.locations().pkgutil,
                           {"--forget", *item.identifier()}};
    run.report.programStarted(call, platform.startDetached(call.program, call.arguments));
  } else if (item.kind() == UninstallItem::Kind::Receipt) {
    const auto* receiptItem = dynamic_cast<const ReceiptItem*>(&item);
    if (receiptItem != nullptr && receiptItem->receipt()) {
      removal.removeItem(receiptItem->receipt()->path());
    }
  }
}

void editPropertyLists(RunContext& run, const plist::Dictionary& settings) {
  Platform& platform = run.platform;
  const plist::Value* value = settings.find("plistremove");
  if (value == nullptr) return;
  const plist::Dictionary* edits = value->dictionary();
  if (edits == nullptr) {
    logSkipped(platform, quoted("plistremove"), "not a dictionary");
    return;
  }
  for (const auto& [file, keyPaths] : *edits) {
    const std::string what = quoted("plistremove") + " for '" + file + "'";
    if (keyPaths.array() == nullptr) {
      logSkipped(platform, what, "not an array");
      continue;
    }
    if (!file.starts_with('/')) {
      logSkipped(platform, what, "a relative path");
      continue;
    }
    // A file that is missing or not a dictionary is left alone, silently, as
    // is a failed write; one reached through a link is worth a word, as
    // someone may have put the link there, and so is one whose values XML
    // cannot hold.
    const std::vector<std::string> keys = stringsOf(platform, keyPaths, what);
    const Result<std::vector<bool>> edited = platform.removePropertyListKeys(file, keys);
    if (edited) {
      for (std::size_t i = 0; i < keys.size(); ++i) {
        const bool removed = i < edited->size() && edited.value()[i];
        run.report.keyRemoved(file, keys[i], removed ? KeyOutcome::Removed : KeyOutcome::Absent,
                              Status::ok());
      }
      continue;
    }
    const Status& status = edited.error();
    if (status.errnum() == ELOOP) platform.log("Not editing '" + file + "': " + status.message());
    if (status.errnum() == EILSEQ) {
      platform.log("Property list left unchanged: " + status.message());
    }
    // A file that is not there is left alone, as it always was; any other
    // file the edit could not make is a failure of each of its keys. A file
    // that holds no dictionary is left alone silently; a write the system
    // refused is worth a line.
    if (status.errnum() == ENOENT) continue;
    if (status.errnum() != ELOOP && status.errnum() != EILSEQ && status.errnum() != EINVAL) {
      platform.log("Could not edit '" + file + "': " + status.message());
    }
    for (const std::string& key : keys) {
      run.report.keyRemoved(file, key, KeyOutcome::Failed, status);
    }
  }
}

}  // namespace

bool uninstallPackage(RunContext& run, const PackageItem& item) {
  Platform& platform = run.platform;
  // The manifest's lists are read lazily: the file list first by the process
  // lookup, the directory list by the extension scan, so the script and the
  // services run before any listing tool.
  ManifestPtr manifest = manifestWithItem(platform, item);
  const plist::Dictionary& settings = item.settings();
  FileRemoval removal(run);
  // The package's uninstall plist goes last, and only with the package.
  removal.deferPath(item.descriptionPath());

  runPreRemoveScript(run, settings);
  unloadServices(run, settings);
  if (manifest) {
    killProcessesFromManifest(run, *manifest);
    unloadKernelExtensions(run, *manifest);
  }
  removeAdditionalFiles(platform, removal, settings);
  removal.removeManifest(manifest.get());
  // A package whose files are not all gone, or not all known, keeps its
  // record and its uninstall plist, so that it is still listed and a later
  // run can finish.
  const bool listsKnown = !manifest || !manifest->listingBroke();
  if (removal.failures() == 0 && listsKnown) clearPackageRecord(run, removal, item);
  editPropertyLists(run, settings);
  if (removal.failures() == 0 && listsKnown) {
    removal.removeDeferred();
    if (removal.failures() == 0) return true;
  }
  const std::string name = item.identifier().value_or(item.description());
  if (!listsKnown) {
    platform.log("Package FAILED: " + name +
                 " (a list of its files could not be read; its record is kept)");
  } else {
    const int failures = removal.failures();
    platform.log("Package FAILED: " + name + " (" + std::to_string(failures) +
                 (failures == 1 ? " path" : " paths") +
                 " could not be removed; its record is kept)");
  }
  return false;
}

}  // namespace qu
