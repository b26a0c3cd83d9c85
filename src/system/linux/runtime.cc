// The rest of the process on Linux.
#include <getopt.h>
#include <syslog.h>

#include "system/os.h"

namespace qu::os {

// No administrators' group here: root's own takes its place.
gid_t administratorsGroup() { return 0; }

// glibc starts afresh, initialising itself again, when optind is 0.
void restartOptionParsing() { optind = 0; }

void writeSystemLog(const char* programName, const std::string& text) {
  // Opened each time: cheap, and immune to anyone else's closelog().
  ::openlog(programName, LOG_PID, LOG_USER);
  ::syslog(LOG_USER | LOG_NOTICE, "%s", text.c_str());
}

}  // namespace qu::os
