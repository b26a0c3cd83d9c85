#include "cli/run_json.h"

#include <algorithm>

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

// The members every "program" line of the stream starts with.
Json programLine(ProgramRole role, const std::string& subject) {
  Json line = jsonObject("program");
  line["role"] = roleName(role);
  line["subject"] = jsonText(subject);
  return line;
}

Json textList(const std::vector<std::string>& texts) {
  Json list = Json::array();
  for (const std::string& text : texts) list.push_back(jsonText(text));
  return list;
}

Json effect(std::string_view name) {
  Json object = Json::object();
  object["effect"] = name;
  return object;
}

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
  return object;
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

void JsonPlanReport::add(Json shown) {
  // Effects belong to the item being removed; the run shows none outside one.
  if (current_ == 0 || current_ > items_.size()) return;
  items_[current_ - 1]["effects"].push_back(std::move(shown));
}

// Kept paths arrive through keep() from the dry-run platform, like every
// other effect, in their place among them.
void JsonPlanReport::pathKept(const std::string& path, KeepReason reason, const std::string&) {
  // An unsafe path never reaches the platform, so the plan has it from here.
  if (reason == KeepReason::Unsafe) keep(path, reason, "");
}

void JsonPlanReport::runFinished(bool succeeded) {
  Json document = jsonObject("plan");
  document["items"] = std::move(items_);
  document["succeeded"] = succeeded;
  platform_.print(jsonDocumentText(document));
  items_ = Json::array();
}

void JsonPlanReport::run(const std::string& program, const std::vector<std::string>& arguments) {
  Json shown = effect("run");
  shown["program"] = jsonText(program);
  shown["arguments"] = textList(arguments);
  add(std::move(shown));
}

void JsonPlanReport::quit(const LaunchedApplication& application) {
  Json shown = effect("quit");
  shown["name"] = jsonText(application.name);
  shown["path"] = jsonText(application.path);
  shown["pid"] = application.serialLow;
  add(std::move(shown));
}

void JsonPlanReport::kill(pid_t group, const std::string& program) {
  Json shown = effect("kill");
  shown["group"] = group;
  shown["program"] = jsonText(program);
  add(std::move(shown));
}

void JsonPlanReport::remove(const std::string& path) {
  Json shown = effect("delete");
  shown["path"] = jsonText(path);
  shown["normalised"] = jsonText(normalisedPath(path));
  add(std::move(shown));
}

void JsonPlanReport::keep(const std::string& path, KeepReason reason, const std::string& detail) {
  Json shown = effect("keep");
  shown.update(keptJson(path, reason, detail));
  add(std::move(shown));
}

void JsonPlanReport::removeKey(const std::string& file, const std::string& keyPath) {
  Json shown = effect("remove key");
  shown["file"] = jsonText(file);
  shown["key"] = jsonText(keyPath);
  add(std::move(shown));
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

void JsonLinesReport::programEnded(ProgramRole role, const std::string& subject,
                                   const ExitStatus& status) {
  Json line = programLine(role, subject);
  line["outcome"] = status.succeeded() ? "succeeded" : status.started() ? "failed" : "not started";
  line["detail"] = status.describe();
  // As numbers, for scripts: the exit status, or the signal that ended it.
  line["status"] = status.kind == ExitStatus::Kind::Exited ? Json(status.value) : Json(nullptr);
  line["signal"] = status.kind == ExitStatus::Kind::Signaled ? Json(status.value) : Json(nullptr);
  write(line);
}

void JsonLinesReport::programStarted(ProgramRole role, const std::string& subject,
                                     const Status& started) {
  Json line = programLine(role, subject);
  line["outcome"] = started.isOk() ? "started" : "not started";
  line["detail"] = started.isOk() ? "not waited for" : started.message();
  write(line);
}

void JsonLinesReport::pathKept(const std::string& path, KeepReason reason,
                               const std::string& detail) {
  Json kept = keptJson(path, reason, detail);
  // "/./Library/Frameworks" and "//Library/Frameworks" are one folder.
  if (std::none_of(kept_.begin(), kept_.end(),
                   [&](const Json& earlier) { return earlier["normalised"] == kept["normalised"]; })) {
    kept_.push_back(kept);
  }
  Json line = jsonObject("kept");
  line.update(kept);
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
