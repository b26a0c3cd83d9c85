#include "extensions/file_handle.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace qu {
namespace {

struct Pipe {
  UniqueFd read, write;
  Pipe() {
    int ends[2] = {-1, -1};
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    read.reset(ends[0]);
    write.reset(ends[1]);
  }
  void send(std::string_view bytes) {
    EXPECT_EQ(::write(write.get(), bytes.data(), bytes.size()), std::ssize(bytes));
  }
};

std::vector<std::string> allLines(LineReader& reader) {
  std::vector<std::string> lines;
  while (auto line = reader.readLine()) lines.push_back(*line);
  return lines;
}

TEST(LineReaderTest, SplitsDataIntoLines) {
  const std::string longLine(2500, 'x');
  struct Case {
    const char* story;
    std::string data;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"two lines in one write, the last without newline", "first\nsecond",
       {"first\n", "second"}},
      {"long line in pieces", longLine + "\n",
       {std::string(1023, 'x'), std::string(1023, 'x'), std::string(454, 'x') + "\n"}},
      {"exactly the longest piece, then its newline", std::string(1023, 'y') + "\n",
       {std::string(1023, 'y'), "\n"}},
      {"invalid UTF-8 does not end the data", "ok\n\xFF\xFE broken\nafter\n",
       {"ok\n", "\xFF\xFE broken\n", "after\n"}},
      {"no data", "", {}},
  };
  for (const Case& c : cases) {
    Pipe pipe;
    pipe.send(c.data);
    pipe.write.reset();
    LineReader reader(pipe.read.get());
    EXPECT_EQ(allLines(reader), c.lines) << c.story;
    EXPECT_EQ(reader.readLine(), std::nullopt) << c.story;
  }
}

TEST(LineReaderTest, JoinsBytesThatArriveInSeveralWrites) {
  Pipe pipe;
  std::thread writer([&pipe] {
    for (const char* piece : {"Uninst", "alling: [5", "0%] a\nnext", " line\n", "tail"}) {
      pipe.send(piece);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pipe.write.reset();
  });
  LineReader reader(pipe.read.get());
  const auto lines = allLines(reader);
  writer.join();
  EXPECT_EQ(lines, (std::vector<std::string>{"Uninstalling: [50%] a\n", "next line\n", "tail"}));
}

TEST(ReadStringToEndOfFileTest, NothingWithoutDataAndBytesKept) {
  for (std::string data : {"", "caf\xC3\xA9 \x80\xFF\n"}) {
    Pipe pipe;
    pipe.send(data);
    pipe.write.reset();
    const auto expected = data.empty() ? std::nullopt : std::optional<std::string>(data);
    EXPECT_EQ(readStringToEndOfFile(pipe.read.get()), expected);
  }
}

}  // namespace
}  // namespace qu
