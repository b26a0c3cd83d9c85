#include "uninstaller/run_report.h"

#include <charconv>

#include "extensions/text.h"

namespace qu {

void TextReport::announce(const ItemList& items) {
  std::string announcement = "Removing:\n";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) announcement += '\n';
    announcement += visibleText(items[i]->description());
  }
  announcement += '\n';
  platform_.print(announcement);
}

void TextReport::progress(int percent, const std::string& path) {
  // "Uninstalling:\t[%d%%] %s\n", put together by hand as it is printed once
  // per path. Like "%s", the name ends at a NUL.
  char digits[16];
  const std::string_view shownPercent(
      digits, std::to_chars(digits, digits + sizeof digits, percent).ptr);
  const std::string_view shownName(path.c_str());
  std::string line;
  line.reserve(24 + shownName.size());
  line.append("Uninstalling:\t[").append(shownPercent).append("%] ").append(shownName).append("\n");
  platform_.printProgress(line);
}

void TextReport::toolProgress(long long percent, std::string_view text) {
  // The text stops at a NUL byte, as printf's would: the newline test goes
  // by what is printed, so the line is never left open.
  const std::string shownText(text.substr(0, text.find('\0')));
  std::string line = format("Uninstalling: [%lld%%]%s", percent, shownText.c_str());
  if (!line.ends_with('\n')) line += '\n';
  platform_.printProgress(line);
}

}  // namespace qu
