#pragma once

#include "manifests/manifest.h"
#include "platform/platform.h"

namespace qu {

// Stops the package's running programs: each launched application that runs
// one of them is asked to quit (one program per application is then spared
// the signal), every other program's process group gets SIGKILL. The
// protected uninstaller application is never touched, nor are process groups
// 0, 1 and our own. Nothing is waited for.
void killProcessesFromManifest(Platform& platform, Manifest& manifest);

// The same over a process table already at hand.
void killProcesses(Platform& platform, const ProcessTable& processes);

}  // namespace qu
