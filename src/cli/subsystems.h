#pragma once

#include "cli/run.h"
#include "manifests/receipt_cache.h"
#include "platform/platform.h"

namespace qu {

// The real loaders, listing and engine over the given platform.
Subsystems productionSubsystems(Platform& platform, ReceiptCache& receipts);

}  // namespace qu
