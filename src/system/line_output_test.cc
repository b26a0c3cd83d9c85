#include "system/line_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace qu {
namespace {

std::string line(char letter, std::size_t length) {
  return std::string(length - 1, letter) + "\n";
}

// Records each write(2), taking at most `accept` bytes of each, and fails the
// write numbered `failAt` (from 1) with `error`.
struct RecordedWrites {
  std::vector<std::string> writes;
  std::size_t accept = SIZE_MAX;
  int failAt = 0;
  int error = EPIPE;
  int interruptions = 0;  // EINTR answers before each accepted write

  WriteCall call() {
    return [this](int, const void* data, std::size_t size) -> ssize_t {
      if (failAt != 0 && static_cast<int>(writes.size()) + 1 == failAt) {
        errno = error;
        return -1;
      }
      if (pendingInterruptions-- > 0) {
        errno = EINTR;
        return -1;
      }
      pendingInterruptions = interruptions;
      const std::size_t taken = std::min(size, accept);
      writes.emplace_back(static_cast<const char*>(data), taken);
      return static_cast<ssize_t>(taken);
    };
  }
  std::string joined() const {
    std::string all;
    for (const std::string& write : writes) all += write;
    return all;
  }

 private:
  int pendingInterruptions = 0;
};

TEST(LineOutputTest, WritesWholeLinesInAtomicPieces) {
  const std::string progress = line('p', 100);  // a progress line
  const std::string longLine = line('L', PIPE_BUF + 500);
  const struct {
    const char* story;
    LineOutput::Pace pace;
    std::vector<std::string> prints;
    std::vector<std::size_t> sizes;  // of the writes before the final flush
  } cases[] = {
      {"lines wait until they fill an atomic write", LineOutput::Pace::Blocks,
       {progress, progress, "a line in two ", "pieces\n"}, {}},
      {"a full block goes out as whole lines", LineOutput::Pace::Blocks,
       std::vector<std::string>(41, progress), {4000}},
      {"a line printed in pieces is never cut", LineOutput::Pace::Blocks,
       {std::string(4090, 'x'), "yz", "\n", progress}, {4093}},
      {"a line longer than an atomic write goes whole, once ended", LineOutput::Pace::Blocks,
       {progress, longLine.substr(0, 3000), longLine.substr(3000), progress},
       {100, PIPE_BUF + 500}},
      {"a terminal gets each line as it ends", LineOutput::Pace::EveryLine,
       {progress, "half ", "a line\nand the start of the next"}, {100, 12}},
  };
  for (const auto& c : cases) {
    RecordedWrites recorded;
    LineOutput output(1, c.pace, recorded.call());
    std::string printed;
    for (const std::string& text : c.prints) {
      EXPECT_TRUE(output.print(text).isOk()) << c.story;
      printed += text;
    }
    std::vector<std::size_t> sizes;
    for (const std::string& write : recorded.writes) {
      sizes.push_back(write.size());
      EXPECT_EQ(write.back(), '\n') << c.story;
    }
    EXPECT_EQ(sizes, c.sizes) << c.story;

    EXPECT_TRUE(output.flush().isOk()) << c.story;
    EXPECT_EQ(recorded.joined(), printed) << c.story;
  }
}

TEST(LineOutputTest, ShortAndInterruptedWritesAreResumed) {
  RecordedWrites recorded;
  recorded.accept = 7;
  recorded.interruptions = 1;
  LineOutput output(1, LineOutput::Pace::EveryLine, recorded.call());

  EXPECT_TRUE(output.print("Removing:\nQuorvane Studio\n").isOk());

  EXPECT_EQ(recorded.joined(), "Removing:\nQuorvane Studio\n");
  EXPECT_FALSE(output.lost());
}

TEST(LineOutputTest, AFailedWriteLosesTheOutputOnceAndDropsTheRest) {
  for (int error : {EPIPE, EFBIG, EIO}) {
    RecordedWrites recorded;
    recorded.failAt = 2;
    recorded.error = error;
    LineOutput output(1, LineOutput::Pace::EveryLine, recorded.call());

    EXPECT_TRUE(output.print("first\n").isOk());
    const Status failed = output.print("second\n");
    EXPECT_EQ(failed.errnum(), error);
    EXPECT_TRUE(output.lost());
    EXPECT_TRUE(output.print("third\n").isOk()) << "the loss is reported once";
    EXPECT_TRUE(output.flush().isOk());
    EXPECT_TRUE(output.flushBeforeChild().isOk());

    EXPECT_EQ(recorded.writes, std::vector<std::string>{"first\n"});
  }
}

TEST(LineOutputTest, APipeWithoutReaderIsLostBeforeAChildWritesToIt) {
  // SIGPIPE as the uninstaller has it, so the test's own writes fail instead.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  LineOutput output(writeEnd.get(), LineOutput::Pace::Blocks);

  EXPECT_TRUE(output.print("held\n").isOk());
  EXPECT_TRUE(output.flushBeforeChild().isOk());
  EXPECT_FALSE(output.lost());
  char buffer[16];
  EXPECT_EQ(::read(readEnd.get(), buffer, sizeof buffer), 5);

  readEnd.reset();
  EXPECT_EQ(output.flushBeforeChild().errnum(), EPIPE) << "nothing held, yet no one reads";
  EXPECT_TRUE(output.lost());
  std::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace qu
