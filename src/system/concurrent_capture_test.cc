#include "system/concurrent_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"

namespace qu {
namespace {

ToolQuery shell(const std::string& script) { return {"/bin/sh", {"-c", script}}; }

TEST(CaptureConcurrently, AnswersInTheOrderAskedWhateverOrderTheyEnd) {
  // 200 KB is more than a pipe holds: that child blocks until it is read,
  // while the others are read too.
  const std::string big(200000, 'x');
  const std::vector<ToolQuery> queries = {
      shell("sleep 0.4; echo slow"),
      shell("echo fast"),
      shell("echo partial; exit 3"),
      {"/nonexistent/tool", {"--files", "a b"}},
      shell("head -c 200000 /dev/zero | tr '\\0' x"),
      shell("kill -9 $$"),
      shell("sleep 0.2; printf 'middle\\nlines\\n'"),
      shell("exit 0"),
  };
  const struct {
    ExitStatus::Kind kind;
    int value;  // exit code, signal, or errno
    std::string output;
  } expected[] = {
      {ExitStatus::Kind::Exited, 0, "slow\n"},
      {ExitStatus::Kind::Exited, 0, "fast\n"},
      {ExitStatus::Kind::Exited, 3, "partial\n"},
      {ExitStatus::Kind::NotStarted, ENOENT, ""},
      {ExitStatus::Kind::Exited, 0, big},
      {ExitStatus::Kind::Signaled, SIGKILL, ""},
      {ExitStatus::Kind::Exited, 0, "middle\nlines\n"},
      {ExitStatus::Kind::Exited, 0, ""},
  };
  for (std::size_t atOnce : {1, 3, 16}) {
    SCOPED_TRACE(atOnce);
    const std::vector<CapturedOutput> answers = captureConcurrently(queries, atOnce, nullptr);
    ASSERT_EQ(answers.size(), std::size(expected));
    for (std::size_t i = 0; i < answers.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(answers[i].status.kind, expected[i].kind);
      EXPECT_EQ(answers[i].status.value, expected[i].value);
      EXPECT_EQ(answers[i].output, expected[i].output);
    }
  }
  EXPECT_TRUE(captureConcurrently({}, 4, nullptr).empty());
}

TEST(CaptureConcurrently, RunsUpToTheLimitAtOnce) {
  // Each query waits (up to 10 s) until all four have started: one after
  // another, each would give up and see fewer.
  testing::TempDir started;
  const std::string dir = "'" + started.path() + "'";
  const std::vector<ToolQuery> queries(
      4, shell("touch " + dir + "/$$; i=0; while [ $(ls " + dir +
               " | wc -l) -lt 4 ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; ls " + dir +
               " | wc -l"));
  const std::vector<CapturedOutput> answers = captureConcurrently(queries, 4, nullptr);
  ASSERT_EQ(answers.size(), 4U);
  for (const CapturedOutput& answer : answers) EXPECT_EQ(answer.output, "4\n");
  EXPECT_GE(concurrentQueryLimit(), 4U);
}

}  // namespace
}  // namespace qu
