// The rest of the process on macOS.
#include <getopt.h>
#include <syslog.h>
#include <unistd.h>

#include "system/os.h"

namespace qu::os {

// "admin".
gid_t administratorsGroup() { return 80; }

// The BSD parser starts afresh when optreset is set.
void restartOptionParsing() {
  optreset = 1;
  optind = 1;
}

// syslog(3) lines go to the unified log.
void writeSystemLog(const char* programName, const std::string& text) {
  ::openlog(programName, LOG_PID, LOG_USER);
  ::syslog(LOG_USER | LOG_NOTICE, "%s", text.c_str());
}

}  // namespace qu::os
