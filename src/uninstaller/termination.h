#pragma once

#include "manifests/manifest.h"
#include "platform/platform.h"
#include "uninstaller/run_report.h"

namespace qu {

// Stops the package's running programs: each launched application that runs
// one of them is asked to quit (one program per application is then spared
// the signal), every other program's process group gets SIGKILL. The
// protected uninstaller application is never touched, nor are process groups
// 0, 1 and our own. Nothing is waited for. Each request and signal goes
// into the report with what became of it.
void killProcessesFromManifest(RunContext& run, Manifest& manifest);

// The same over a process table already at hand.
void killProcesses(Platform& platform, RunReport& report, const ProcessTable& processes);

}  // namespace qu
