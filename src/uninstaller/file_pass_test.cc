#include "uninstaller/file_pass.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace qu {
namespace {

TEST(UnlinkOrder, GroupsByDirectoryInOrderOfFirstMentionAndKeepsEachGroupsOrder) {
  const PathList paths = {"/x/a/1", "/x/b/1", "/x/a/2", "/x/a/b/1", "/x/b/2",
                          "/x/a/3", "/top",   "/x/b",   "relative", "/x/a/b/2"};
  const struct {
    std::size_t begin, end;
    std::vector<std::uint32_t> order;
  } cases[] = {
      // "/x/a/b" is a directory of its own; "/x/b" lies in "/x", "/top" and
      // "relative" in "".
      {0, 10, {0, 2, 5, 1, 4, 3, 9, 6, 8, 7}},
      {1, 6, {1, 4, 2, 5, 3}},
      {6, 10, {6, 8, 7, 9}},
      {3, 3, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unlinkOrder(paths, c.begin, c.end), c.order) << c.begin << ".." << c.end;
  }
}

TEST(FateTable, GivesBackEveryFateAsSet) {
  using Kind = PathFate::Kind;
  using Verdict = RemovalRules::Verdict;
  const std::vector<PathFate> fates = {
      {Kind::Handed, {}, Removal::of(Removal::Outcome::Removed)},
      {Kind::Held, {}, {}},
      {Kind::Handed, {}, Removal::of(Removal::Outcome::Absent)},
      {Kind::Judged, {Verdict::Shared, "com.q.other"}, {}},
      {Kind::Handed, {}, Removal::failed(EACCES)},
      {Kind::Handed, {}, Removal::linkRefused("/x/link")},
      {Kind::Handed, {}, Removal::of(Removal::Outcome::Directory)},
      {Kind::Judged, {Verdict::SystemDirectory, ""}, {}},
      {Kind::Handed, {}, {Removal::Outcome::Failed, EPERM, {}, {{"/x/theirs", 501}}}},
  };
  FateTable table(fates.size());
  for (std::size_t i = fates.size(); i-- > 0;) table.set(i, fates[i]);
  for (std::size_t i = 0; i < fates.size(); ++i) {
    SCOPED_TRACE(i);
    const PathFate back = table.get(i);
    EXPECT_EQ(back.kind, fates[i].kind);
    EXPECT_EQ(table.held(i), fates[i].kind == Kind::Held);
    EXPECT_EQ(back.judgement.verdict, fates[i].judgement.verdict);
    EXPECT_EQ(back.judgement.owner, fates[i].judgement.owner);
    if (fates[i].kind != Kind::Handed) continue;
    EXPECT_EQ(back.removal.outcome, fates[i].removal.outcome);
    EXPECT_EQ(back.removal.errnum, fates[i].removal.errnum);
    EXPECT_EQ(back.removal.link, fates[i].removal.link);
    ASSERT_EQ(back.removal.leftToOwners.size(), fates[i].removal.leftToOwners.size());
  }
}

}  // namespace
}  // namespace qu
