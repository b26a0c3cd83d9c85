#pragma once

#include <string>
#include <vector>

#include "extensions/json.h"
#include "system/dry_run_platform.h"
#include "uninstaller/run_report.h"

namespace qu {

// The plan of `--dry-run --json`: one document, printed when the run ends,
// {"version": 1, "type": "plan", "items": [...], "succeeded": ...}, each item
// in removal order with its "effects" in the order the removal would perform
// them ("run", "quit", "kill", "delete", "keep" with its "reason", "remove
// key"). It collects the effects as the dry-run platform shows them.
class JsonPlanReport final : public RunReport, public ShownEffects {
 public:
  explicit JsonPlanReport(Platform& platform) : platform_(platform) {}

  void announce(const ItemList& items) override;
  void itemStarted(const UninstallItem& item) override;
  void progress(int, const std::string&) override {}
  void toolProgress(long long, std::string_view) override {}
  void programEnded(ProgramRole, const std::string&, const ExitStatus&) override {}
  void programStarted(ProgramRole, const std::string&, const Status&) override {}
  void pathKept(const std::string& path, KeepReason reason, const std::string& detail) override;
  void itemFinished(const UninstallItem&, bool) override {}
  void runFinished(bool succeeded) override;

  void run(const std::string& program, const std::vector<std::string>& arguments) override;
  void quit(const LaunchedApplication& application) override;
  void kill(pid_t group, const std::string& program) override;
  void remove(const std::string& path) override;
  void keep(const std::string& path, KeepReason reason, const std::string& detail) override;
  void removeKey(const std::string& file, const std::string& keyPath) override;

 private:
  void add(Json effect);

  Platform& platform_;
  Json items_ = Json::array();
  std::size_t current_ = 0;  // index in items_ of the item being removed, plus one
};

// A removal with `--json`: instead of the text lines, one JSON object a line
// ("removing", "item", "progress", "program", "kept", "item finished"), and a
// "summary" last with the items removed and failed and every path kept.
class JsonLinesReport final : public RunReport {
 public:
  explicit JsonLinesReport(Platform& platform) : platform_(platform) {}

  void announce(const ItemList& items) override;
  void itemStarted(const UninstallItem& item) override;
  void progress(int percent, const std::string& path) override;
  void toolProgress(long long percent, std::string_view text) override;
  void programEnded(ProgramRole role, const std::string& subject,
                    const ExitStatus& status) override;
  void programStarted(ProgramRole role, const std::string& subject,
                      const Status& started) override;
  void pathKept(const std::string& path, KeepReason reason, const std::string& detail) override;
  void itemFinished(const UninstallItem& item, bool succeeded) override;
  void runFinished(bool succeeded) override;

 private:
  void write(const Json& line);

  Platform& platform_;
  Json removed_ = Json::array();
  Json failed_ = Json::array();
  Json kept_ = Json::array();
};

// The members that say why a path stays: "reason", and "package" for a
// shared path or "link" for a refused link.
Json keptJson(const std::string& path, KeepReason reason, const std::string& detail);

// A refused command line as one JSON line: {"type": "refusal", "message":
// the text without its line end, "status": the exit status}.
Json refusalJson(std::string_view message, int status);

}  // namespace qu
