#include "system/concurrent_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

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
  const std::vector<ToolQuery> queries(4, shell("sleep 0.5; echo done"));
  const auto start = std::chrono::steady_clock::now();
  const std::vector<CapturedOutput> answers = captureConcurrently(queries, 4, nullptr);
  const auto took = std::chrono::steady_clock::now() - start;
  for (const CapturedOutput& answer : answers) EXPECT_EQ(answer.output, "done\n");
  // One after another they take 2 s.
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_GE(concurrentQueryLimit(), 4U);
}

}  // namespace
}  // namespace qu
