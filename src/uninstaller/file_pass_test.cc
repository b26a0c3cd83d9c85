#include "uninstaller/file_pass.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace qu {
namespace {

TEST(UnlinkOrder, GroupsPathsOfOneLengthByDirectoryAndNeverPassesALongerOne) {
  const PathList paths = {"/x/a/long-1", "/x/b/long-1", "/x/a/long-2", "/x/b/long-2",
                          "/x/link/f",   "/x/a/s1",     "/x/link",     "/x/b/s1",
                          "/x/a/s2",     "relative",    "/top/12"};
  const struct {
    std::size_t begin, end;
    std::vector<std::uint32_t> order;
  } cases[] = {
      // "/x/link" lies in "/x", with the short files, yet after "/x/link/f".
      {0, 9, {0, 2, 1, 3, 4, 5, 8, 6, 7}},
      {1, 6, {1, 3, 2, 4, 5}},
      // No directory for a relative path: "" as for "/top/12"'s neighbour.
      {8, 11, {8, 9, 10}},
      {5, 11, {5, 8, 6, 7, 9, 10}},
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
