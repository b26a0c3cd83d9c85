// Processes on macOS, through libproc; an application is asked to quit with
// the quit event.
#include "system/apple_declarations.h"
#include "system/macos/core_services.h"
#include "system/os.h"
#include "system/proc_queries.h"
#include "system/quit_event.h"

namespace qu::os {

std::vector<pid_t> processIds() {
  return listProcessIds(apple::proc_listallpids).value_or(std::vector<pid_t>());
}

std::optional<std::string> executableOf(pid_t pid) {
  return processExecutable(apple::proc_pidpath, pid);
}

int requestQuit(pid_t pid) { return sendQuitEvent(appleEventCalls(), pid); }

}  // namespace qu::os
