#pragma once

#include <string>
#include <string_view>

#include "extensions/atomic_file.h"
#include "platform/status.h"

namespace qu {

// Text for a descriptor that other programs write to as well (our standard
// output, which a child such as the forget request shares), written in whole
// lines so that no line of ours is ever cut by theirs.
//
// Complete lines collect until they fill one atomic pipe write (PIPE_BUF
// bytes), then go out in writes of whole lines of at most that size; only a
// single longer line takes a write of its own. A terminal gets each line as
// it ends. Once a write fails (the reader has gone: EPIPE, since SIGPIPE is
// ignored; the file has reached its size limit: EFBIG), the output is lost:
// whatever follows is dropped, and nothing else changes.
class LineOutput {
 public:
  enum class Pace { EveryLine, Blocks };

  // `write` defaults to write(2); tests replace it to make writes fail.
  LineOutput(int fd, Pace pace, WriteCall write = {});

  // Adds the text and writes whatever is due. An error only from the call
  // whose write failed, so the loss is reported once.
  Status print(std::string_view text);
  // Writes everything held, an unfinished line included.
  Status flush();
  // Before a program that shares the descriptor starts: flush(), then also
  // counts the output as lost when no one reads it any more (a pipe whose
  // reader has gone), so the program need not write into it.
  Status flushBeforeChild();

  bool lost() const { return lost_; }

 private:
  Status drain(bool everything);
  Status lose(int errnum);

  int fd_;
  Pace pace_;
  WriteCall write_;
  std::string pending_;
  bool lost_ = false;
};

}  // namespace qu
