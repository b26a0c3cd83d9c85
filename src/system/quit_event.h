#pragma once

#include <sys/types.h>

#include "system/apple_declarations.h"

namespace qu {

// The Apple Event Manager's calls that a quit request needs. The macOS
// backend loads them from CoreServices when the process runs; tests pass
// their own.
struct AppleEventCalls {
  apple::AECreateDescFunction* createDesc = nullptr;
  apple::AECreateAppleEventFunction* createAppleEvent = nullptr;
  apple::AESendMessageFunction* sendMessage = nullptr;
  apple::AEDisposeDescFunction* disposeDesc = nullptr;

  bool complete() const {
    return createDesc != nullptr && createAppleEvent != nullptr && sendMessage != nullptr &&
           disposeDesc != nullptr;
  }
};

// Sends the quit event (core class "aevt", id "quit") to the process,
// addressed by its process id, with no reply expected, and does not wait for
// the application to quit. Every descriptor made is disposed of. Answers 0
// when the event went out, else an errno (ENOSYS without the calls).
int sendQuitEvent(const AppleEventCalls& calls, pid_t pid);

// The errno closest to an error of the Apple Event Manager.
int errnoForAppleEventError(long error);

}  // namespace qu
