#include "system/applications.h"

#include <gtest/gtest.h>

namespace qu {
namespace {

TEST(ApplicationForExecutableTest, FindsTheInnermostBundle) {
  struct Case {
    const char* executable;
    const char* path;  // null: not an application
    const char* name;
  };
  const Case cases[] = {
      {"/Applications/X.app/Contents/MacOS/X", "/Applications/X.app", "X"},
      {"/Applications/My App.app/Contents/MacOS/bin/tool", "/Applications/My App.app", "My App"},
      {"/A.app/Contents/Helpers/B.app/Contents/MacOS/B", "/A.app/Contents/Helpers/B.app", "B"},
      {"/A.app/Contents/MacOS/.app/Contents/MacOS/x", "/A.app", "A"},
      {"/A.app/Contents/Resources/tool", nullptr, nullptr},
      {"/opt/X.app/Contents/MacOS", nullptr, nullptr},
      {"/usr/bin/sleep", nullptr, nullptr},
      {"relative.app/Contents/MacOS/x", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    const auto application = applicationForExecutable(c.executable, 77);
    if (c.path == nullptr) {
      EXPECT_EQ(application, std::nullopt) << c.executable;
      continue;
    }
    ASSERT_TRUE(application.has_value()) << c.executable;
    EXPECT_EQ(application->path, c.path);
    EXPECT_EQ(application->name, c.name);
    EXPECT_EQ(application->serialHigh, 0u);
    EXPECT_EQ(application->serialLow, 77u);
  }
}

}  // namespace
}  // namespace qu
