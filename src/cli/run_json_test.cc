#include "cli/run_json.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>

#include "test_support/recording_platform.h"
#include "test_support/temp_dir.h"

namespace qu {
namespace {

class Item : public UninstallItem {
 public:
  Item() { setIdentifier("com.q.x"); }
  Kind kind() const override { return Kind::Receipt; }
  std::optional<std::string> version() const override { return std::nullopt; }
};

const ProgramCall kScript{ProgramRole::PreRemoveScript, "/S/pre", "/S/pre", {"--silent", "true"}};
const LaunchedApplication kStudio{"/Applications/./Studio.app", "Studio", 0, 88};

// One effect as the stream writes it, and the plan's record of it: the same
// members less the outcome, and decisions without any.
TEST(JsonEffectsTest, TheStreamIsThePlanWithOutcomes) {
  const struct {
    const char* story;
    std::function<void(RunReport&)> report;
    const char* line;  // the stream's line; the plan's record is it less the outcome
  } cases[] = {
      {"a program's exit status is a number",
       [](RunReport& r) { r.programEnded(kScript, ExitStatus::exited(5)); },
       R"({"effect":"run","role":"pre-remove script","subject":"/S/pre","program":"/S/pre","arguments":["--silent","true"],"outcome":"failed","status":5,"signal":null})"},
      {"and the signal that ended one",
       [](RunReport& r) { r.programEnded(kScript, ExitStatus::signaled(9)); },
       R"({"effect":"run","role":"pre-remove script","subject":"/S/pre","program":"/S/pre","arguments":["--silent","true"],"outcome":"failed","status":null,"signal":9})"},
      {"a program that could not start says why",
       [](RunReport& r) { r.programEnded(kScript, ExitStatus::notStarted(ENOENT)); },
       R"({"effect":"run","role":"pre-remove script","subject":"/S/pre","program":"/S/pre","arguments":["--silent","true"],"outcome":"not started","error":"No such file or directory"})"},
      {"a program refused is a decision",
       [](RunReport& r) { r.programNotRun(kScript, Status::error(EPERM, "owned by user 501")); },
       R"({"effect":"not run","role":"pre-remove script","subject":"/S/pre","program":"/S/pre","arguments":["--silent","true"],"reason":"owned by user 501"})"},
      {"a quit request to a process that moved on is none",
       [](RunReport& r) { r.quitRequested(kStudio, ESRCH); },
       R"({"effect":"not quit","name":"Studio","path":"/Applications/./Studio.app","normalised":"/Applications/Studio.app","pid":88,"reason":"it no longer runs the application"})"},
      {"a signal refused by the system failed",
       [](RunReport& r) { r.signalSent(77, "/L/d", Status::error(EPERM, "signal group 77")); },
       R"({"effect":"kill","group":77,"program":"/L/d","outcome":"failed","error":"signal group 77"})"},
      {"nor is a signal to a group that no longer runs the program",
       [](RunReport& r) { r.signalSent(77, "/L/d", Status::error(ESRCH, "not /L/d")); },
       R"({"effect":"not killed","group":77,"program":"/L/d","reason":"it no longer runs the program"})"},
      {"a deletion the system refused",
       [](RunReport& r) { r.pathDeleted("//L/f", Removal::failed(EROFS)); },
       R"({"effect":"delete","path":"//L/f","normalised":"/L/f","outcome":"failed","error":"Read-only file system"})"},
      {"a tree left with another user's folder names the owner",
       [](RunReport& r) { r.pathKept("/L/t", KeepReason::AnotherUsers, "501"); },
       R"({"effect":"keep","path":"/L/t","normalised":"/L/t","reason":"another user's","owner":501})"},
      {"a key that was not there",
       [](RunReport& r) { r.keyRemoved("/P.plist", "a:b", KeyOutcome::Absent, Status::ok()); },
       R"({"effect":"remove key","file":"/P.plist","key":"a:b","outcome":"absent"})"},
  };
  for (const auto& c : cases) {
    testing::TempDir tmp;
    testing::RecordingPlatform platform(testing::locationsUnder(tmp.path()));
    JsonLinesReport stream(platform);
    c.report(stream);
    Json expected = Json::parse(c.line);
    Json line = jsonObject("effect");
    line.update(expected);
    EXPECT_EQ(platform.output, jsonLineText(line)) << c.story;

    // The plan: the item's one effect, without its outcome.
    testing::RecordingPlatform planPlatform(testing::locationsUnder(tmp.path()));
    JsonPlanReport plan(planPlatform);
    const ItemList items{std::make_shared<Item>()};
    plan.announce(items);
    plan.itemStarted(*items.front());
    c.report(plan);
    plan.runFinished(true);
    for (const char* member : {"outcome", "status", "signal", "error"}) expected.erase(member);
    EXPECT_EQ(Json::parse(planPlatform.output)["items"][0]["effects"], Json::array({expected}))
        << c.story;
  }
}

}  // namespace
}  // namespace qu
