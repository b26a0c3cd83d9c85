// The Apple Event Manager, loaded from CoreServices when first needed, so the
// build needs neither the framework nor its headers.
#include "system/macos/core_services.h"

#include <dlfcn.h>

namespace qu {

namespace {

constexpr char kCoreServices[] =
    "/System/Library/Frameworks/CoreServices.framework/CoreServices";

template <typename Function>
Function* symbol(void* library, const char* name) {
  return reinterpret_cast<Function*>(::dlsym(library, name));
}

AppleEventCalls load() {
  // Kept loaded for the life of the process, as a linked framework would be.
  void* library = ::dlopen(kCoreServices, RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) return {};
  AppleEventCalls calls;
  calls.createDesc = symbol<apple::AECreateDescFunction>(library, "AECreateDesc");
  calls.createAppleEvent = symbol<apple::AECreateAppleEventFunction>(library, "AECreateAppleEvent");
  calls.sendMessage = symbol<apple::AESendMessageFunction>(library, "AESendMessage");
  calls.disposeDesc = symbol<apple::AEDisposeDescFunction>(library, "AEDisposeDesc");
  return calls;
}

}  // namespace

const AppleEventCalls& appleEventCalls() {
  static const AppleEventCalls calls = load();
  return calls;
}

}  // namespace qu
