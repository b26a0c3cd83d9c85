#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/run.h"
#include "cli/subsystems.h"
#include "manifests/receipt_cache.h"
#include "system/process_setup.h"
#include "system/real_platform.h"

// The tool always works on the real system at its fixed locations; nothing
// on the command line or in the environment moves them.
int main(int argc, char** argv) {
  qu::setUpProcess(::getuid() == 0);
  std::unique_ptr<qu::Platform> platform = qu::makeRealPlatform();
  qu::ReceiptCache receipts(*platform);
  const std::vector<std::string> arguments(argv, argv + argc);
  return qu::runUninstaller(*platform, qu::productionSubsystems(*platform, receipts), arguments);
}
