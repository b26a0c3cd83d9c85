#pragma once

namespace qu {

// The counters that let one percentage climb across all items of a run. Each
// finished item adds its share, 100 / itemCount in whole percent, so a run
// whose item count does not divide 100 ends below 100.
struct RunProgress {
  explicit RunProgress(int count) : itemCount(count) {}

  // Whole percent added when one item is finished.
  int share() const { return itemCount > 0 ? 100 / itemCount : 0; }

  int itemCount;
  // Whole percent completed by the items already finished.
  int percent = 0;
  // 1-based position of the path being handled within the current package.
  int currentPos = 0;
};

}  // namespace qu
