#include "uninstaller/termination.h"

#include <cerrno>
#include <csignal>
#include <string>

#include "extensions/case_folding.h"

namespace qu {
namespace {

// Serial numbers 0 and 1 with a zero high part stand for "no process" and
// the system process; a quit request must never go there.
bool canReceiveQuit(const LaunchedApplication& application) {
  return application.serialHigh != 0 || application.serialLow > 1;
}

bool mayBeSignalled(Platform& platform, pid_t group) {
  // killpg(0) and killpg(1) would reach our own group and init's; a negative
  // id is not a group at all.
  return group > 1 && group != platform.ownProcessGroup();
}

}  // namespace

void killProcessesFromManifest(RunContext& run, Manifest& manifest) {
  killProcesses(run.platform, run.report, manifest.getProcesses());
}

void killProcesses(Platform& platform, RunReport& report, const ProcessTable& processes) {
  if (processes.empty()) return;
  const std::string& protectedApp = platform.locations().protectedUninstallerApp;
  ProcessTable toKill = processes;

  for (const LaunchedApplication& application : platform.launchedApplications()) {
    // Without a bundle path the marker would match every bundle's programs.
    if (application.path.empty()) continue;
    const std::string marker = application.path + "/Contents/MacOS";
    if (containsIgnoringCase(marker, protectedApp)) continue;

    for (const auto& entry : processes) {
      const std::string& program = entry.first;
      if (!containsIgnoringCase(program, marker)) continue;

      // A dry run shows the request instead of claiming it.
      if (!platform.onlyShowsEffects()) platform.log("Killing: " + application.name);
      if (canReceiveQuit(application)) {
        const int error = platform.sendQuitEvent(application);
        report.quitRequested(application, error);
        if (error != 0) platform.log("Could not kill " + marker);
      } else {
        platform.log("Could not kill " + marker);
      }
      // Asked to quit, or at least tried: the application's own program is
      // spared the signal either way.
      toKill.erase(program);
      break;
    }
  }

  for (const auto& [program, group] : toKill) {
    if (containsIgnoringCase(program, protectedApp)) continue;
    if (!mayBeSignalled(platform, group)) continue;
    const Status sent = platform.signalProcessGroup(group, SIGKILL, program);
    report.signalSent(group, program, sent);
    // A group that no longer runs the program was left alone on purpose.
    if (!sent && sent.errnum() != ESRCH) {
      platform.log("Could not kill process group " + std::to_string(group) + ": " + sent.message());
    }
  }
}

}  // namespace qu
