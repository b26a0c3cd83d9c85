#include "system/quit_event.h"

#include <cerrno>
#include <cstdint>

namespace qu {

namespace {

// A descriptor the manager made, disposed of when it goes out of scope.
class OwnedDesc {
 public:
  explicit OwnedDesc(apple::AEDisposeDescFunction* dispose) : dispose_(dispose) {}
  ~OwnedDesc() {
    if (desc_.dataHandle != nullptr) (void)dispose_(&desc_);
  }
  OwnedDesc(const OwnedDesc&) = delete;
  OwnedDesc& operator=(const OwnedDesc&) = delete;

  apple::AEDesc* get() { return &desc_; }

 private:
  apple::AEDisposeDescFunction* dispose_;
  apple::AEDesc desc_{apple::typeNull, nullptr};
};

}  // namespace

int errnoForAppleEventError(long error) {
  switch (error) {
    case 0:
      return 0;
    case apple::procNotFound:
    case apple::connectionInvalid:
      return ESRCH;
    case apple::errAEEventNotPermitted:
      return EPERM;
    case apple::memFullErr:
      return ENOMEM;
    case apple::paramErr:
      return EINVAL;
    case apple::errAETimeout:
      return ETIMEDOUT;
    default:
      return EIO;
  }
}

int sendQuitEvent(const AppleEventCalls& calls, pid_t pid) {
  if (!calls.complete()) return ENOSYS;
  // The kernel's process id names the process itself, so no serial number
  // (which only the window session's process manager hands out) is needed.
  const std::int32_t processId = pid;
  OwnedDesc address(calls.disposeDesc);
  if (const apple::OSErr error = calls.createDesc(apple::typeKernelProcessID, &processId,
                                                  sizeof processId, address.get())) {
    return errnoForAppleEventError(error);
  }
  OwnedDesc event(calls.disposeDesc);
  if (const apple::OSErr error = calls.createAppleEvent(
          apple::kCoreEventClass, apple::kAEQuitApplication, address.get(),
          apple::kAutoGenerateReturnID, apple::kAnyTransactionID, event.get())) {
    return errnoForAppleEventError(error);
  }
  return errnoForAppleEventError(
      calls.sendMessage(event.get(), nullptr, apple::kAENoReply, apple::kAEDefaultTimeout));
}

}  // namespace qu
