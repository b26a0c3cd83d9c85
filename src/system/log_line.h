#pragma once

#include <sys/types.h>
#include <ctime>

#include <string>
#include <string_view>

namespace qu {

inline constexpr const char* kProgramName = "quorvane-uninstall";

// A log line as the console shows it, in local time with milliseconds:
// "2026-12-08 02:11:25.123 quorvane-uninstall[1234] message", newline-ended.
std::string formatLogLine(const timespec& when, pid_t pid, std::string_view message);

// Writes the message to standard error in that shape (flushed at once) and
// to the system log.
void writeLogLine(std::string_view message);

}  // namespace qu
