#include "system/quit_event.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace qu {
namespace {

// A stand-in for the Apple Event Manager that records what it is asked and
// fails where a case says.
struct Manager {
  apple::OSErr createDescError = 0;
  apple::OSErr createEventError = 0;
  apple::OSStatus sendError = 0;
  std::vector<std::string> calls;
  apple::DescType addressType = 0;
  std::int32_t addressedPid = 0;
  apple::AEEventClass eventClass = 0;
  apple::AEEventID eventId = 0;
  apple::AEReturnID returnId = 0;
  apple::AETransactionID transaction = 7;
  apple::AESendMode sendMode = 0;
  long timeout = 0;
  bool replyAsked = true;
};
Manager manager;
int handles[2];

apple::OSErr createDesc(apple::DescType type, const void* data, apple::Size size,
                        apple::AEDesc* result) {
  manager.calls.push_back("createDesc");
  if (manager.createDescError != 0) return manager.createDescError;
  manager.addressType = type;
  if (size == sizeof manager.addressedPid) std::memcpy(&manager.addressedPid, data, 4);
  *result = {type, &handles[0]};
  return 0;
}

apple::OSErr createAppleEvent(apple::AEEventClass eventClass, apple::AEEventID eventId,
                              const apple::AEAddressDesc* target, apple::AEReturnID returnId,
                              apple::AETransactionID transaction, apple::AppleEvent* result) {
  manager.calls.push_back(target->dataHandle == &handles[0] ? "createEvent" : "createEvent?");
  if (manager.createEventError != 0) return manager.createEventError;
  manager.eventClass = eventClass;
  manager.eventId = eventId;
  manager.returnId = returnId;
  manager.transaction = transaction;
  *result = {apple::fourCharCode("aevt"), &handles[1]};
  return 0;
}

apple::OSStatus sendMessage(const apple::AppleEvent* event, apple::AppleEvent* reply,
                            apple::AESendMode mode, long timeout) {
  manager.calls.push_back(event->dataHandle == &handles[1] ? "send" : "send?");
  manager.replyAsked = reply != nullptr;
  manager.sendMode = mode;
  manager.timeout = timeout;
  return manager.sendError;
}

apple::OSErr disposeDesc(apple::AEDesc* desc) {
  manager.calls.push_back(desc->dataHandle == &handles[0] ? "disposeAddress" : "disposeEvent");
  desc->dataHandle = nullptr;
  return 0;
}

const AppleEventCalls kCalls{createDesc, createAppleEvent, sendMessage, disposeDesc};

TEST(SendQuitEventTest, AddressesTheProcessAndDisposesOfWhatItMade) {
  struct Case {
    const char* name;
    apple::OSErr createDescError;
    apple::OSErr createEventError;
    apple::OSStatus sendError;
    int expected;
    std::vector<std::string> calls;
  };
  const std::vector<std::string> all{"createDesc", "createEvent", "send", "disposeEvent",
                                     "disposeAddress"};
  const Case cases[] = {
      {"sent", 0, 0, 0, 0, all},
      {"gone before the send", 0, 0, apple::procNotFound, ESRCH, all},
      {"refused by privacy controls", 0, 0, apple::errAEEventNotPermitted, EPERM, all},
      {"unknown error", 0, 0, -1, EIO, all},
      {"no address", apple::memFullErr, 0, 0, ENOMEM, {"createDesc"}},
      {"no event", 0, apple::paramErr, 0, EINVAL, {"createDesc", "createEvent", "disposeAddress"}},
  };
  for (const Case& c : cases) {
    manager = Manager{};
    manager.createDescError = c.createDescError;
    manager.createEventError = c.createEventError;
    manager.sendError = c.sendError;
    EXPECT_EQ(sendQuitEvent(kCalls, 4242), c.expected) << c.name;
    EXPECT_EQ(manager.calls, c.calls) << c.name;
  }
  manager = Manager{};
  ASSERT_EQ(sendQuitEvent(kCalls, 4242), 0);
  EXPECT_EQ(manager.addressType, apple::fourCharCode("kpid"));
  EXPECT_EQ(manager.addressedPid, 4242);
  EXPECT_EQ(manager.eventClass, apple::fourCharCode("aevt"));
  EXPECT_EQ(manager.eventId, apple::fourCharCode("quit"));
  EXPECT_EQ(manager.returnId, -1);
  EXPECT_EQ(manager.transaction, 0);
  EXPECT_EQ(manager.sendMode, 1);
  EXPECT_EQ(manager.timeout, -1);
  EXPECT_FALSE(manager.replyAsked);
}

TEST(SendQuitEventTest, WithoutTheManagerNothingIsSent) {
  AppleEventCalls partial = kCalls;
  partial.sendMessage = nullptr;
  manager = Manager{};
  EXPECT_EQ(sendQuitEvent(AppleEventCalls{}, 4242), ENOSYS);
  EXPECT_EQ(sendQuitEvent(partial, 4242), ENOSYS);
  EXPECT_TRUE(manager.calls.empty());
}

}  // namespace
}  // namespace qu
