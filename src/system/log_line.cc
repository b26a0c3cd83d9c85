#include "system/log_line.h"

#include <unistd.h>

#include <cstdio>

#include "extensions/text.h"
#include "system/os.h"

namespace qu {

std::string formatLogLine(const timespec& when, pid_t pid, std::string_view message) {
  tm local{};
  ::localtime_r(&when.tv_sec, &local);
  char stamp[32];
  (void)::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::string line = format("%s.%03ld %s[%ld] ", stamp, when.tv_nsec / 1000000L, kProgramName,
                            static_cast<long>(pid));
  line.append(message);
  if (line.back() != '\n') line.push_back('\n');
  return line;
}

void writeLogLine(std::string_view message) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  // Paths and names in a message may hold anything; one message stays one line.
  const std::string text = visibleText(message);
  const std::string line = formatLogLine(now, ::getpid(), text);
  // Nothing sensible is left to do when standard error itself fails.
  (void)std::fwrite(line.data(), 1, line.size(), stderr);
  (void)std::fflush(stderr);
  os::writeSystemLog(kProgramName, text);
}

}  // namespace qu
