#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include <string_view>

struct _xmlTextReader;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): libxml2's own name

namespace qu {

// A day of the calendar, kept as plain numbers so that no time zone can move
// it between reading and printing.
struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
  // NOLINTNEXTLINE(modernize-use-nullptr): the analyser misreads a defaulted <=>
  friend auto operator<=>(const CalendarDate&, const CalendarDate&) = default;
};

// Reads "yyyy-MM-dd" and nothing else: four-digit year, two-digit month and
// day, a day that exists in that month; no blanks or other text around it.
std::optional<CalendarDate> parseVersionDate(std::string_view text);
// "M/d/yy": 2010-03-05 gives "3/5/10".
std::string formatVersionDate(const CalendarDate& date);
// "yyyy-MM-dd", as read: 2010-03-05 gives "2010-03-05".
std::string formatIsoDate(const CalendarDate& date);

// The version of a gallery collection: the latest date written inside a
// "lom:version" element of its collection manifest, streamed with the libxml2
// text reader.
class GalleryVersionParser {
 public:
  // Reads the whole file through the platform (a regular file, with a
  // bound) and streams its bytes. Nothing when it cannot be read or is not
  // well-formed to its end, even when dates were read before the fault.
  static std::optional<GalleryVersionParser> initWithPath(Platform& platform,
                                                          const std::string& path);
  // As above, for a manifest already read. No DTD is loaded, no entity is
  // expanded and nothing is fetched from the network.
  static std::optional<GalleryVersionParser> initWithData(std::string_view bytes);
  // The manifest's latest version date as "M/d/yy", or nothing.
  static std::optional<std::string> galeryVersionForPath(Platform& platform,
                                                         const std::string& path);
  // The same date as a date, or nothing.
  static std::optional<CalendarDate> versionDateForPath(Platform& platform,
                                                        const std::string& path);

  // The latest date found, or nothing.
  const std::optional<CalendarDate>& version() const { return version_; }

 private:
  GalleryVersionParser() = default;
  void processNode(_xmlTextReader* reader);
  // Moves the version forward; an earlier or equal date changes nothing.
  void offerDate(const CalendarDate& date);

  std::optional<CalendarDate> version_;
  bool inVersion_ = false;
};

}  // namespace qu
