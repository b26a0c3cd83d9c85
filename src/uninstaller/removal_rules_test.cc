#include "uninstaller/removal_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace qu {
namespace {

using Verdict = RemovalRules::Verdict;

TEST(RemovalRules, KeepsUnsafePathsSystemDirectoriesAndWhatOthersList) {
  RemovalRules rules;
  rules.addShared("//Library/Frameworks/Shared.framework/./Versions/A/Shared", "com.q.other");
  rules.addShared("/./Library/Frameworks/Shared.framework/", "com.q.other");
  rules.addShared("relative/ignored", "com.q.other");
  // Below one tree, three packages: the first path in folded order names its owner.
  rules.addShared("/Library/Quorvane/Data/zeta", "com.q.z");
  rules.addShared("/Library/Quorvane/Data/Beta/file", "com.q.b");
  rules.addShared("/Library/Quorvane/Data/ALPHA", "com.q.a");
  rules.addShared("/Library/Quorvane/Data-old/x", "com.q.sibling");

  const struct {
    std::string path;
    RemovalScope scope;
    Verdict verdict;
    const char* owner = "com.q.other";
  } cases[] = {
      {"", RemovalScope::Tree, Verdict::Unsafe},
      {"relative/x", RemovalScope::Tree, Verdict::Unsafe},
      {"/a/../b", RemovalScope::Tree, Verdict::Unsafe},
      {std::string("/Applications\0/x", 16), RemovalScope::Tree, Verdict::Unsafe},
      {"/", RemovalScope::Tree, Verdict::SystemDirectory},
      {"/./", RemovalScope::EmptyDirectory, Verdict::SystemDirectory},
      {"//", RemovalScope::EmptyDirectory, Verdict::SystemDirectory},
      {"/Applications", RemovalScope::EmptyDirectory, Verdict::SystemDirectory},
      {"/./Applications/", RemovalScope::EmptyDirectory, Verdict::SystemDirectory},
      {"/QuorvaneData", RemovalScope::Tree, Verdict::SystemDirectory},  // an entry of "/"
      {"/Library/Frameworks", RemovalScope::EmptyDirectory, Verdict::SystemDirectory},
      {"/library/LAUNCHDAEMONS/.", RemovalScope::EmptyDirectory, Verdict::SystemDirectory},
      {"/Library/Application Support", RemovalScope::Tree, Verdict::SystemDirectory},
      {"/usr/local/share/man", RemovalScope::EmptyDirectory, Verdict::SystemDirectory},
      {"/var/db", RemovalScope::EmptyDirectory, Verdict::SystemDirectory},  // "/private/var/db"
      {"/Users/Shared", RemovalScope::Tree, Verdict::SystemDirectory},
      {"/Users/alice", RemovalScope::Tree, Verdict::SystemDirectory},  // a home folder
      {"/Library/Application Support/Quorvane", RemovalScope::Tree, Verdict::Remove},
      {"/Applications/..X.app", RemovalScope::Tree, Verdict::Remove},
      // A home's standard folders hold every program's data.
      {"/Users/alice/Library", RemovalScope::Tree, Verdict::SystemDirectory},
      {"/Users/alice/Library/Application Support/", RemovalScope::Tree, Verdict::SystemDirectory},
      {"/Users/Shared/Library/Preferences", RemovalScope::Tree, Verdict::SystemDirectory},
      {"/users/bob/library/SAVED APPLICATION STATE", RemovalScope::EmptyDirectory,
       Verdict::SystemDirectory},
      {"/Users/alice/Library/Group Containers", RemovalScope::Tree, Verdict::SystemDirectory},
      {"/Users/alice/Documents", RemovalScope::Tree, Verdict::SystemDirectory},
      {"/Users/alice/Library/Application Support/Quorvane", RemovalScope::Tree, Verdict::Remove},
      {"/Users/alice/Library/Preferences/com.quorvane.studio.plist", RemovalScope::NonDirectory,
       Verdict::Remove},
      {"/Users/alice/Projects/Library", RemovalScope::Tree, Verdict::Remove},
      {"/Library/Frameworks/Shared.framework/Versions/A/Shared", RemovalScope::NonDirectory,
       Verdict::Shared},
      {"/library/frameworks/shared.framework", RemovalScope::EmptyDirectory, Verdict::Shared},
      {"/Library/Frameworks/Shared.framework/Versions", RemovalScope::EmptyDirectory,
       Verdict::Remove},
      // A tree removal would take what the other package lists below it.
      {"/Library/Frameworks/Shared.framework/Versions", RemovalScope::Tree, Verdict::Shared},
      {"/Library/Frameworks/Shared.frameworkX", RemovalScope::Tree, Verdict::Remove},
      {"/library/quorvane/data", RemovalScope::Tree, Verdict::Shared, "com.q.a"},
      {"/Library/Quorvane/Data/Beta", RemovalScope::Tree, Verdict::Shared, "com.q.b"},
      {"/Library/Quorvane/Data/Beta", RemovalScope::EmptyDirectory, Verdict::Remove},
      {"/Library/Quorvane/Data/Bet", RemovalScope::Tree, Verdict::Remove},
      {"/Library/Quorvane/Data-old", RemovalScope::Tree, Verdict::Shared, "com.q.sibling"},
      {"/Library/Quorvane/Data/zeta/", RemovalScope::Tree, Verdict::Shared, "com.q.z"},
      {"/Library/Quorvane/Data/zeta/deeper", RemovalScope::Tree, Verdict::Remove},
      {"/Library/Quorvane", RemovalScope::Tree, Verdict::Shared, "com.q.sibling"},
  };
  for (const auto& c : cases) {
    const RemovalRules::Judgement judgement = rules.judge(c.path, c.scope);
    EXPECT_EQ(judgement.verdict, c.verdict) << "'" << c.path << "'";
    EXPECT_EQ(judgement.owner, c.verdict == Verdict::Shared ? c.owner : "") << c.path;
  }

  // A path added after a tree was judged counts for the next tree.
  rules.addShared("/Library/Quorvane/Data/Bet/late", "com.q.late");
  EXPECT_EQ(rules.judge("/Library/Quorvane/Data/Bet", RemovalScope::Tree).owner, "com.q.late");
}

}  // namespace
}  // namespace qu
