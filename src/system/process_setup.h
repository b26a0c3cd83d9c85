#pragma once

#include <optional>
#include <vector>

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

// Marks the caller's descriptors (every one above standard error)
// close-on-exec: through `markFrom` where it can, else each one `listOpen`
// names. A descriptor that cannot be listed stays as it is.
void markInheritedDescriptors(bool (*markFrom)(int first),
                              std::optional<std::vector<int>> (*listOpen)());
void markCloseOnExec(const std::vector<int>& descriptors);

// Gives a process started with root's rights by someone else (a setuid
// start) the limits a login gives root, so the programs it runs as root do
// not die at their first write or descriptor: file size, memory,
// processes and descriptors unlimited where root may raise them, else at
// least up to the hard limit.
void raiseCallersLimits();

}  // namespace qu
