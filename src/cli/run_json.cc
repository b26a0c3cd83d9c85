#include "cli/run_json.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "extensions/paths.h"
#include "items/item_json.h"

namespace qu {
namespace {

std::string_view reasonName(KeepReason reason) {
  switch (reason) {
    case KeepReason::NotEmpty: return "not empty";
    case KeepReason::Shared: return "shared";
    case KeepReason::SystemDirectory: return "system directory";
    case KeepReason::LinkRefused: return "link refused";
    case KeepReason::Unsafe: return "unsafe path";
    case KeepReason::AnotherFileSystem: return "another file system";
    case KeepReason::TooDeep: return "too deep";
    case KeepReason::AnotherUsers: return "another user's";
  }
  return "kept";
}

std::string_view roleName(ProgramRole role) {
  switch (role) {
    case ProgramRole::PreRemoveScript: return "pre-remove script";
    case ProgramRole::Service: return "service";
    case ProgramRole::KernelExtension: return "kernel extension";
    case ProgramRole::Forget: return "forget";
    case ProgramRole::GallerySetup: return "gallery setup";
  }
  return "program";
}

Json textList(const std::vector<std::string>& texts) {
  Json list = Json::array();
  for (const std::string& text : texts) list.push_back(jsonText(text));
  return list;
}

Json effectRecord(std::string_view name) {
  Json object = Json::object();
  object["effect"] = name;
  return object;
}

Json programRecord(std::string_view name, const ProgramCall& call) {
  Json record = effectRecord(name);
  record["role"] = roleName(call.role);
  record["subject"] = jsonText(call.subject);
  record["program"] = call.program.empty() ? Json(nullptr) : jsonText(call.program);
  record["arguments"] = textList(call.arguments);
  return record;
}

Json applicationRecord(std::string_view name, const LaunchedApplication& application) {
  Json record = effectRecord(name);
  record["name"] = jsonText(application.name);
  record["path"] = jsonText(application.path);
  record["normalised"] = jsonText(normalisedPath(application.path));
  record["pid"] = application.serialLow;
  return record;
}

Json groupRecord(std::string_view name, pid_t group, const std::string& program) {
  Json record = effectRecord(name);
  record["group"] = group;
  record["program"] = jsonText(program);
  return record;
}

Json outcomeOf(std::string_view outcome) {
  Json object = Json::object();
  object["outcome"] = outcome;
  return object;
}

Json failureOf(const std::string& error) {
  Json object = outcomeOf("failed");
  object["error"] = jsonText(error);
  return object;
}

// The reason a process was left alone: ESRCH means it no longer runs the
// program named.
bool noLongerRuns(int error) { return error == ESRCH; }

}  // namespace

Json refusalJson(std::string_view message, int status) {
  Json refusal = jsonObject("refusal");
  if (message.ends_with('\n')) message.remove_suffix(1);
  refusal["message"] = jsonText(message);
  refusal["status"] = status;
  return refusal;
}

Json keptJson(const std::string& path, KeepReason reason, const std::string& detail) {
  Json object = Json::object();
  object["path"] = jsonText(path);
  object["normalised"] = jsonText(normalisedPath(path));
  object["reason"] = reasonName(reason);
  if (reason == KeepReason::Shared) object["package"] = jsonText(detail);
  if (reason == KeepReason::LinkRefused) object["link"] = jsonText(detail);
  if (reason == KeepReason::AnotherUsers) {
    unsigned owner = 0;
    const auto parsed = std::from_chars(detail.data(), detail.data() + detail.size(), owner);
    object["owner"] = parsed.ec == std::errc{} ? Json(owner) : Json(nullptr);
  }
  return object;
}

// --- The records, the same for the plan and the stream.

void JsonEffectReport::programEnded(const ProgramCall& call, const ExitStatus& status) {
  Json outcome;
  switch (status.kind) {
    case ExitStatus::Kind::Exited:
    case ExitStatus::Kind::Signaled:
      outcome = outcomeOf(status.succeeded() ? "succeeded" : "failed");
      // As numbers, for scripts: the exit status, or the signal that ended it.
      outcome["status"] = status.kind == ExitStatus::Kind::Exited ? Json(status.value) : Json(nullptr);
      outcome["signal"] = status.kind == ExitStatus::Kind::Signaled ? Json(status.value) : Json(nullptr);
      break;
    case ExitStatus::Kind::NotStarted:
      outcome = outcomeOf("not started");
      outcome["error"] = jsonText(std::strerror(status.value));
      break;
    case ExitStatus::Kind::Skipped:
      outcome = Json::object();
      break;
  }
  effect(programRecord("run", call), std::move(outcome));
}

void JsonEffectReport::programStarted(const ProgramCall& call, const Status& started) {
  effect(programRecord("run", call),
         started.isOk() ? outcomeOf("started") : [&] {
           Json outcome = outcomeOf("not started");
           outcome["error"] = jsonText(started.message());
           return outcome;
         }());
}

void JsonEffectReport::programNotRun(const ProgramCall& call, const Status& reason) {
  Json record = programRecord("not run", call);
  record["reason"] = jsonText(reason.message());
  effect(std::move(record), Json::object());
}

void JsonEffectReport::quitRequested(const LaunchedApplication& application, int error) {
  if (noLongerRuns(error)) {
    Json record = applicationRecord("not quit", application);
    record["reason"] = "it no longer runs the application";
    effect(std::move(record), Json::object());
    return;
  }
  effect(applicationRecord("quit", application),
         error == 0 ? outcomeOf("sent") : failureOf(std::strerror(error)));
}

void JsonEffectReport::signalSent(pid_t group, const std::string& program, const Status& status) {
  if (noLongerRuns(status.errnum())) {
    Json record = groupRecord("not killed", group, program);
    record["reason"] = "it no longer runs the program";
    effect(std::move(record), Json::object());
    return;
  }
  effect(groupRecord("kill", group, program),
         status.isOk() ? outcomeOf("sent") : failureOf(status.message()));
}

void JsonEffectReport::pathDeleted(const std::string& path, const Removal& removal) {
  Json record = effectRecord("delete");
  record["path"] = jsonText(path);
  record["normalised"] = jsonText(normalisedPath(path));
  Json outcome = removal.outcome == Removal::Outcome::Removed  ? outcomeOf("removed")
                 : removal.outcome == Removal::Outcome::Absent ? outcomeOf("absent")
                                                               : failureOf(std::strerror(removal.errnum));
  effect(std::move(record), std::move(outcome));
}

void JsonEffectReport::pathKept(const std::string& path, KeepReason reason,
                                const std::string& detail) {
  Json record = effectRecord("keep");
  record.update(keptJson(path, reason, detail));
  effect(std::move(record), Json::object());
}

void JsonEffectReport::keyRemoved(const std::string& file, const std::string& key,
                                  KeyOutcome outcome, const Status& status) {
  Json record = effectRecord("remove key");
  record["file"] = jsonText(file);
  record["key"] = jsonText(key);
  effect(std::move(record), outcome == KeyOutcome::Removed  ? outcomeOf("removed")
                            : outcome == KeyOutcome::Absent ? outcomeOf("absent")
                                                            : failureOf(status.message()));
}

// --- The plan of a dry run.

void JsonPlanReport::announce(const ItemList& items) {
  for (const ItemPtr& item : items) {
    Json entry = itemJson(*item);
    entry["effects"] = Json::array();
    items_.push_back(std::move(entry));
  }
}

void JsonPlanReport::itemStarted(const UninstallItem&) { ++current_; }

void JsonPlanReport::effect(Json record, Json) {
  // Effects belong to the item being removed; the run makes none outside one.
  if (current_ == 0 || current_ > items_.size()) return;
  items_[current_ - 1]["effects"].push_back(std::move(record));
}

void JsonPlanReport::runFinished(bool succeeded) {
  Json document = jsonObject("plan");
  document["items"] = std::move(items_);
  document["succeeded"] = succeeded;
  platform_.print(jsonDocumentText(document));
  items_ = Json::array();
}

// --- The stream of a removal.

void JsonLinesReport::write(const Json& line) { platform_.print(jsonLineText(line)); }

void JsonLinesReport::announce(const ItemList& items) {
  Json line = jsonObject("removing");
  Json listed = Json::array();
  for (const ItemPtr& item : items) listed.push_back(itemJson(*item));
  line["items"] = std::move(listed);
  write(line);
}

void JsonLinesReport::itemStarted(const UninstallItem& item) {
  Json line = jsonObject("item");
  line["identifier"] = jsonTextOrNull(item.identifier());
  write(line);
}

void JsonLinesReport::progress(int percent, const std::string& path) {
  Json line = jsonObject("progress");
  line["percent"] = percent;
  line["path"] = jsonText(path);
  line["normalised"] = jsonText(normalisedPath(path));
  write(line);
}

void JsonLinesReport::toolProgress(long long percent, std::string_view text) {
  Json line = jsonObject("progress");
  line["percent"] = percent;
  // What the tool wrote after its percentage, without the line end.
  std::string_view shown = text.substr(0, text.find('\0'));
  if (shown.ends_with('\n')) shown.remove_suffix(1);
  line["text"] = jsonText(shown);
  write(line);
}

void JsonLinesReport::effect(Json record, Json outcome) {
  if (record["effect"] == "keep") {
    Json kept = record;
    kept.erase("effect");
    // "/./Library/Frameworks" and "//Library/Frameworks" are one folder.
    if (keptNormalised_.insert(kept["normalised"].dump()).second) kept_.push_back(std::move(kept));
  }
  Json line = jsonObject("effect");
  line.update(record);
  line.update(outcome);
  write(line);
}

void JsonLinesReport::itemFinished(const UninstallItem& item, bool succeeded) {
  (succeeded ? removed_ : failed_).push_back(jsonTextOrNull(item.identifier()));
  Json line = jsonObject("item finished");
  line["identifier"] = jsonTextOrNull(item.identifier());
  line["succeeded"] = succeeded;
  write(line);
}

void JsonLinesReport::runFinished(bool succeeded) {
  Json line = jsonObject("summary");
  line["succeeded"] = succeeded;
  line["removed"] = std::move(removed_);
  line["failed"] = std::move(failed_);
  line["kept"] = std::move(kept_);
  write(line);
}

}  // namespace qu
