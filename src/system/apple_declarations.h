#pragma once

#include <cstddef>
#include <cstdint>

// The few Apple types, constants and functions the macOS backend uses,
// declared here once so that the build needs no framework headers. Sizes and
// offsets are those of macOS's 64-bit ABIs (arm64 and x86_64), where long and
// pointers are 8 bytes. Built with QU_APPLE_SDK, the macOS build compares every
// one of them with the SDK's own declarations (macos/apple_sdk_check.cc).
// Plain declarations only: they compile anywhere, so the code around them is
// tested on any system, and only the macOS backend calls the functions.
namespace qu::apple {

// --- MacTypes.
using OSErr = std::int16_t;          // SInt16
using OSStatus = std::int32_t;       // SInt32
using FourCharCode = std::uint32_t;  // UInt32
using Size = long;

constexpr FourCharCode fourCharCode(const char (&code)[5]) {
  return static_cast<FourCharCode>(static_cast<unsigned char>(code[0])) << 24 |
         static_cast<FourCharCode>(static_cast<unsigned char>(code[1])) << 16 |
         static_cast<FourCharCode>(static_cast<unsigned char>(code[2])) << 8 |
         static_cast<FourCharCode>(static_cast<unsigned char>(code[3]));
}

// --- The Apple Event Manager (CoreServices, AE.framework).
using DescType = FourCharCode;
using AEEventClass = FourCharCode;
using AEEventID = FourCharCode;
using AEReturnID = std::int16_t;       // SInt16
using AETransactionID = std::int32_t;  // SInt32
using AESendMode = std::int32_t;       // SInt32

// The Apple Event Manager's structures are packed to 2 bytes: 12 bytes, the
// type at offset 0, the opaque data handle at offset 4.
#pragma pack(push, 2)
struct AEDesc {
  DescType descriptorType;
  void* dataHandle;
};
#pragma pack(pop)
static_assert(sizeof(void*) != 8 || (sizeof(AEDesc) == 12 && offsetof(AEDesc, dataHandle) == 4));
using AEAddressDesc = AEDesc;
using AppleEvent = AEDesc;

constexpr DescType typeNull = fourCharCode("null");
// The address of a process by its id (a pid_t, 4 bytes of data).
constexpr DescType typeKernelProcessID = fourCharCode("kpid");
constexpr AEEventClass kCoreEventClass = fourCharCode("aevt");
constexpr AEEventID kAEQuitApplication = fourCharCode("quit");
constexpr AEReturnID kAutoGenerateReturnID = -1;
constexpr AETransactionID kAnyTransactionID = 0;
constexpr AESendMode kAENoReply = 0x00000001;
constexpr long kAEDefaultTimeout = -1;

// Errors the send may answer.
constexpr int paramErr = -50;
constexpr int memFullErr = -108;
constexpr int procNotFound = -600;
constexpr int connectionInvalid = -609;
constexpr int errAETimeout = -1712;
constexpr int errAEEventNotPermitted = -1743;

using AECreateDescFunction = OSErr(DescType typeCode, const void* dataPtr, Size dataSize,
                                   AEDesc* result);
using AECreateAppleEventFunction = OSErr(AEEventClass theAEEventClass, AEEventID theAEEventID,
                                         const AEAddressDesc* target, AEReturnID returnID,
                                         AETransactionID transactionID, AppleEvent* result);
using AESendMessageFunction = OSStatus(const AppleEvent* event, AppleEvent* reply,
                                       AESendMode sendMode, long timeOutInTicks);
using AEDisposeDescFunction = OSErr(AEDesc* theAEDesc);

// --- libproc (libSystem).
// PROC_PIDLISTFDS: the flavour of proc_pidinfo() that lists descriptors.
constexpr int kProcPidListFds = 1;
// PROC_PIDPATHINFO_MAXSIZE, four times MAXPATHLEN.
constexpr std::uint32_t kProcPidPathInfoMaxSize = 4096;

// 8 bytes: the descriptor at offset 0, its kind at offset 4.
struct proc_fdinfo {
  std::int32_t proc_fd;
  std::uint32_t proc_fdtype;
};
static_assert(sizeof(proc_fdinfo) == 8 && offsetof(proc_fdinfo, proc_fdtype) == 4);

using ProcListAllPidsFunction = int(void* buffer, int buffersize);
using ProcPidPathFunction = int(int pid, void* buffer, std::uint32_t buffersize);
using ProcPidInfoFunction = int(int pid, int flavor, std::uint64_t arg, void* buffer,
                                int buffersize);

extern "C" {
int proc_listallpids(void* buffer, int buffersize);
int proc_pidpath(int pid, void* buffer, std::uint32_t buffersize);
int proc_pidinfo(int pid, int flavor, std::uint64_t arg, void* buffer, int buffersize);
}

}  // namespace qu::apple
