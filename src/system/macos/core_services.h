#pragma once

#include "system/quit_event.h"

namespace qu {

// The Apple Event Manager's calls, loaded from CoreServices on first use;
// incomplete when the framework or a call cannot be loaded. macOS only.
const AppleEventCalls& appleEventCalls();

}  // namespace qu
