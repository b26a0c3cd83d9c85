#pragma once

namespace qu {

// Puts the process in a known state before anything else runs, whatever the
// caller left behind:
// - descriptors 0, 1 and 2 are open (on /dev/null when they were closed), so
//   no file we open later becomes our standard output or error;
// - SIGPIPE and SIGXFSZ are ignored, so a reader that goes away or a full
//   output file makes a write fail instead of ending a removal half-way;
// - SIGCHLD has its default action, without which the kernel reaps our
//   children itself and no tool's exit status could be read.
// When the caller is not root (root's rights came from a setuid bit or a
// helper that keeps the caller's state), nothing else of theirs reaches what
// runs as root: the file mode mask is 022, the working directory "/", and
// every descriptor above 2 they left open closes when a program starts.
void setUpProcess(bool callerIsRoot);

// Marks every descriptor from `first` up close-on-exec: with one close_range
// call where the kernel takes it (Linux 5.11 on), else, or when told not to
// try, one descriptor at a time.
void markCloseOnExecFrom(int first, bool tryCloseRange = true);

}  // namespace qu
