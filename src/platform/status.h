#pragma once

#include <cstring>
#include <string>
#include <utility>

namespace qu {

// Outcome of an operation that has an effect: success, or an errno and a
// message naming what failed.
class Status {
 public:
  static Status ok() { return Status(); }
  static Status error(int errnum, std::string message) {
    return Status(errnum == 0 ? -1 : errnum, std::move(message));
  }
  // An error built from an errno and a short description of the operation:
  // "remove /x: Permission denied".
  static Status fromErrno(int errnum, const std::string& what) {
    return error(errnum, what + ": " + std::strerror(errnum));
  }

  bool isOk() const { return errnum_ == 0; }
  explicit operator bool() const { return isOk(); }
  int errnum() const { return errnum_; }
  const std::string& message() const { return message_; }

 private:
  Status() = default;
  Status(int errnum, std::string message) : errnum_(errnum), message_(std::move(message)) {}
  int errnum_ = 0;
  std::string message_;
};

// How a child process ended, why it never started, or that a dry run only
// showed it.
struct ExitStatus {
  enum class Kind { Exited, Signaled, NotStarted, Skipped };
  Kind kind = Kind::NotStarted;
  int value = 0;  // exit code, signal number, or errno of the failed start

  static ExitStatus exited(int code) { return {Kind::Exited, code}; }
  static ExitStatus signaled(int sig) { return {Kind::Signaled, sig}; }
  static ExitStatus notStarted(int errnum) { return {Kind::NotStarted, errnum}; }
  // A dry run shows the program instead of starting it.
  static ExitStatus skipped() { return {Kind::Skipped, 0}; }

  bool started() const { return kind == Kind::Exited || kind == Kind::Signaled; }
  bool wasSkipped() const { return kind == Kind::Skipped; }
  // Only a normal exit with status 0 counts as success.
  bool succeeded() const { return kind == Kind::Exited && value == 0; }
  // "exit status 1", "killed by signal 9", "not run: dry run",
  // "could not be started: No such file or directory".
  std::string describe() const {
    switch (kind) {
      case Kind::Exited: return "exit status " + std::to_string(value);
      case Kind::Signaled: return "killed by signal " + std::to_string(value);
      case Kind::Skipped: return "not run: dry run";
      case Kind::NotStarted: break;
    }
    return std::string("could not be started: ") + std::strerror(value);
  }

  friend bool operator==(const ExitStatus&, const ExitStatus&) = default;
};

}  // namespace qu
