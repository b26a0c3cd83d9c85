#pragma once

#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// The few calls in which one operating system differs from another. Each is
// implemented, without logic of its own, once in system/linux/ and once in
// system/macos/; the build takes the folder of the target system. What they
// answer is judged by shared code that the tests run anywhere.
namespace qu::os {

// --- Identity.
// The group whose members administer the machine: a directory it may write
// to is as trustworthy as one only root may write to ("admin", 80, on macOS;
// the Linux stand-in has none, so root's own group takes its place).
gid_t administratorsGroup();

// --- Descriptors.
// Flags that open a directory for the path walk: naming it is enough where
// the system allows that (then a dry run walks where it may only search).
int walkDirectoryFlags();
// The most descriptors one process may have open, whatever its own limit
// says; RLIM_INFINITY when only the limit counts.
rlim_t descriptorCeiling();
// A pipe whose two ends close when a program starts; 0 or an errno.
int openPipe(int ends[2]);
// Every open descriptor above standard error, so a caller's leftovers can be
// marked close-on-exec; nothing when they cannot be listed.
std::optional<std::vector<int>> openDescriptors();
// Marks every descriptor from `first` on close-on-exec in one call where the
// system has one; false when it has none or it failed (then each is marked).
bool markCloseOnExecFrom(int first);
// Makes a written file's contents durable, as far as the storage allows;
// 0 or an errno.
int flushToStorage(int fd);
// Adds to a child's start what keeps our other descriptors from it, beside
// their close-on-exec marks; `flags` collects posix_spawn's flags. 0 or an
// errno.
int keepDescriptorsFromChild(posix_spawn_file_actions_t* actions, short& flags);

// --- Processes.
// Every process id the system reports running.
std::vector<pid_t> processIds();
// The executable a process runs, as the kernel knows it (not as any text
// says); nothing when the process is gone or closed to us.
std::optional<std::string> executableOf(pid_t pid);
// Asks the application that runs as the process to quit, without waiting;
// 0 when the request went out, else an errno.
int requestQuit(pid_t pid);

// --- The rest of the process.
// Makes the next getopt_long() call start from the first argument.
void restartOptionParsing();
// One line in the system's own log. The name must live as long as the
// process (the log keeps it).
void writeSystemLog(const char* programName, const std::string& text);

}  // namespace qu::os
