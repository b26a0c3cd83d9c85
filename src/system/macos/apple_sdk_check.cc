// Built only with QU_APPLE_SDK: compares every Apple type, constant and
// function type that apple_declarations.h declares by hand with the SDK's
// own, so a wrong size, offset, value or parameter fails the build.
#include <AE/AEDataModel.h>
#include <AE/AEMach.h>
#include <AE/AppleEvents.h>
#include <libproc.h>
#include <sys/proc_info.h>

#include <cstddef>
#include <type_traits>

#include "system/apple_declarations.h"

namespace qu::apple {
namespace {

// Our declaration of a type, spelled with the SDK's types.
template <typename T>
struct Sdk {
  using type = T;
};
template <>
struct Sdk<AEDesc> {
  using type = ::AEDesc;
};
template <>
struct Sdk<proc_fdinfo> {
  using type = ::proc_fdinfo;
};
template <typename T>
struct Sdk<T*> {
  using type = typename Sdk<T>::type*;
};
template <typename T>
struct Sdk<const T> {
  using type = const typename Sdk<T>::type;
};
template <typename Result, typename... Parameters>
struct Sdk<Result(Parameters...)> {
  using type = typename Sdk<Result>::type(typename Sdk<Parameters>::type...);
};
template <typename T>
using SdkType = typename Sdk<T>::type;

template <typename Ours, typename Theirs>
constexpr bool kSame = std::is_same_v<SdkType<Ours>, Theirs>;

// MacTypes and the Apple Event Manager's scalar types.
static_assert(kSame<OSErr, ::OSErr> && kSame<OSStatus, ::OSStatus>);
static_assert(kSame<FourCharCode, ::FourCharCode> && kSame<Size, ::Size>);
static_assert(kSame<DescType, ::DescType> && kSame<AEEventClass, ::AEEventClass> &&
              kSame<AEEventID, ::AEEventID>);
static_assert(kSame<AEReturnID, ::AEReturnID> && kSame<AETransactionID, ::AETransactionID> &&
              kSame<AESendMode, ::AESendMode>);

// The descriptor's layout.
static_assert(sizeof(AEDesc) == sizeof(::AEDesc) && alignof(AEDesc) == alignof(::AEDesc));
static_assert(offsetof(AEDesc, descriptorType) == offsetof(::AEDesc, descriptorType));
static_assert(offsetof(AEDesc, dataHandle) == offsetof(::AEDesc, dataHandle));
static_assert(sizeof(AEDesc::descriptorType) == sizeof(::AEDesc::descriptorType));
static_assert(sizeof(AEDesc::dataHandle) == sizeof(::AEDesc::dataHandle));
static_assert(std::is_same_v<::AEAddressDesc, ::AEDesc> && std::is_same_v<::AppleEvent, ::AEDesc>);

// Constants.
static_assert(typeNull == ::typeNull);
static_assert(typeKernelProcessID == ::typeKernelProcessID);
static_assert(kCoreEventClass == ::kCoreEventClass);
static_assert(kAEQuitApplication == ::kAEQuitApplication);
static_assert(kAutoGenerateReturnID == ::kAutoGenerateReturnID);
static_assert(kAnyTransactionID == ::kAnyTransactionID);
static_assert(kAENoReply == ::kAENoReply);
static_assert(kAEDefaultTimeout == ::kAEDefaultTimeout);
static_assert(paramErr == ::paramErr && memFullErr == ::memFullErr);
static_assert(procNotFound == ::procNotFound && connectionInvalid == ::connectionInvalid);
static_assert(errAETimeout == ::errAETimeout && errAEEventNotPermitted == ::errAEEventNotPermitted);

// The calls loaded at run time.
static_assert(kSame<AECreateDescFunction, std::remove_pointer_t<decltype(&::AECreateDesc)>>);
static_assert(
    kSame<AECreateAppleEventFunction, std::remove_pointer_t<decltype(&::AECreateAppleEvent)>>);
static_assert(kSame<AESendMessageFunction, std::remove_pointer_t<decltype(&::AESendMessage)>>);
static_assert(kSame<AEDisposeDescFunction, std::remove_pointer_t<decltype(&::AEDisposeDesc)>>);

// libproc.
static_assert(kProcPidListFds == PROC_PIDLISTFDS);
static_assert(kProcPidPathInfoMaxSize == PROC_PIDPATHINFO_MAXSIZE);
static_assert(sizeof(proc_fdinfo) == sizeof(::proc_fdinfo));
static_assert(offsetof(proc_fdinfo, proc_fd) == offsetof(::proc_fdinfo, proc_fd));
static_assert(offsetof(proc_fdinfo, proc_fdtype) == offsetof(::proc_fdinfo, proc_fdtype));
static_assert(kSame<ProcListAllPidsFunction, std::remove_pointer_t<decltype(&::proc_listallpids)>>);
static_assert(kSame<ProcPidPathFunction, std::remove_pointer_t<decltype(&::proc_pidpath)>>);
static_assert(kSame<ProcPidInfoFunction, std::remove_pointer_t<decltype(&::proc_pidinfo)>>);
// Our extern "C" declarations and the SDK's name one function each.
static_assert(&qu::apple::proc_pidpath == &::proc_pidpath);

}  // namespace
}  // namespace qu::apple
