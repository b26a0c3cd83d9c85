#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "extensions/json.h"
#include "system/dry_run_platform.h"
#include "uninstaller/run_report.h"

namespace qu {

// The effects of a run as JSON records, one for each call of the report's
// effect calls, built the same way for the plan and the stream: {"effect":
// "run" | "not run" | "quit" | "not quit" | "kill" | "not killed" | "delete"
// | "keep" | "remove key", ...}. A record of something done has an outcome
// apart ("outcome" with "status", "signal" or "error"), which the stream adds
// and the plan leaves out; a record of something the run decided not to do
// ("not run", "not quit", "not killed", "keep") says why in "reason" and has
// no outcome.
class JsonEffectReport : public RunReport {
 public:
  void programEnded(const ProgramCall& call, const ExitStatus& status) override;
  void programStarted(const ProgramCall& call, const Status& started) override;
  void programNotRun(const ProgramCall& call, const Status& reason) override;
  void quitRequested(const LaunchedApplication& application, int error) override;
  void signalSent(pid_t group, const std::string& program, const Status& status) override;
  void pathDeleted(const std::string& path, const Removal& removal) override;
  void pathKept(const std::string& path, KeepReason reason, const std::string& detail) override;
  void keyRemoved(const std::string& file, const std::string& key, KeyOutcome outcome,
                  const Status& status) override;

 protected:
  // One effect: its record, and what became of it (an empty object for a
  // decision).
  virtual void effect(Json record, Json outcome) = 0;
};

// The plan of `--dry-run --json`: one document, printed when the run ends,
// {"version": 1, "type": "plan", "items": [...], "succeeded": ...}, each item
// in removal order with its "effects" in the order the removal would make
// them, without outcomes.
class JsonPlanReport final : public JsonEffectReport {
 public:
  explicit JsonPlanReport(Platform& platform) : platform_(platform) {}

  void announce(const ItemList& items) override;
  void itemStarted(const UninstallItem& item) override;
  void progress(int, const std::string&) override {}
  void toolProgress(long long, std::string_view) override {}
  void itemFinished(const UninstallItem&, bool) override {}
  void runFinished(bool succeeded) override;

 private:
  void effect(Json record, Json outcome) override;

  Platform& platform_;
  Json items_ = Json::array();
  std::size_t current_ = 0;  // index in items_ of the item being removed, plus one
};

// A removal with `--json`: instead of the text lines, one JSON object a line
// ("removing", "item", "progress", "effect", "item finished"), and a
// "summary" last with the items removed and failed and every path kept. Its
// "effect" lines are the plan's records with their outcomes, in the same
// order; "progress" lines say how far the run has come.
class JsonLinesReport final : public JsonEffectReport {
 public:
  explicit JsonLinesReport(Platform& platform) : platform_(platform) {}

  void announce(const ItemList& items) override;
  void itemStarted(const UninstallItem& item) override;
  void progress(int percent, const std::string& path) override;
  void toolProgress(long long percent, std::string_view text) override;
  void itemFinished(const UninstallItem& item, bool succeeded) override;
  void runFinished(bool succeeded) override;

 private:
  void effect(Json record, Json outcome) override;
  void write(const Json& line);

  Platform& platform_;
  Json removed_ = Json::array();
  Json failed_ = Json::array();
  Json kept_ = Json::array();
  // The kept paths' normalised forms as written: a package sharing many
  // paths keeps each once without a search through all the others.
  std::unordered_set<std::string> keptNormalised_;
};

// The members that say why a path stays: "reason", and "package" for a
// shared path, "link" for a refused link or "owner" for another user's folder.
Json keptJson(const std::string& path, KeepReason reason, const std::string& detail);

// A refused command line as one JSON line: {"type": "refusal", "message":
// the text without its line end, "status": the exit status}.
Json refusalJson(std::string_view message, int status);

// Effects a dry run shows nowhere: with `--json`, the plan comes from the
// report instead.
class UnshownEffects final : public ShownEffects {
 public:
  void run(const std::string&, const std::vector<std::string>&) override {}
  void quit(const LaunchedApplication&) override {}
  void kill(pid_t, const std::string&) override {}
  void remove(const std::string&) override {}
  void keep(const std::string&, KeepReason, const std::string&) override {}
  void removeKey(const std::string&, const std::string&) override {}
};

}  // namespace qu
