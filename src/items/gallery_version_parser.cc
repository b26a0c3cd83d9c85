#include "items/gallery_version_parser.h"

#include <climits>
#include <string>

#include "extensions/text.h"
#include "items/xml_handles.h"

namespace qu {
namespace {

// libxml2's node types, as the text reader reports them.
constexpr int kElementStart = 1;
constexpr int kText = 3;
constexpr int kElementEnd = 15;

const xmlChar* const kVersionElement = reinterpret_cast<const xmlChar*>("lom:version");

std::optional<int> digits(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && isLeapYear(year)) return 29;
  return kDays[month - 1];
}

}  // namespace

std::optional<CalendarDate> parseVersionDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  std::optional<int> year = digits(text.substr(0, 4));
  std::optional<int> month = digits(text.substr(5, 2));
  std::optional<int> day = digits(text.substr(8, 2));
  if (!year || !month || !day) return std::nullopt;
  // Year 0 is not a year of the calendar the manifests are written in.
  if (*year < 1 || *month < 1 || *month > 12) return std::nullopt;
  if (*day < 1 || *day > daysInMonth(*year, *month)) return std::nullopt;
  return CalendarDate{*year, *month, *day};
}

std::string formatVersionDate(const CalendarDate& date) {
  return format("%d/%d/%02d", date.month, date.day, date.year % 100);
}

std::string formatIsoDate(const CalendarDate& date) {
  return format("%04d-%02d-%02d", date.year, date.month, date.day);
}

std::optional<GalleryVersionParser> GalleryVersionParser::initWithPath(Platform& platform,
                                                                     const std::string& path) {
  // A missing or broken manifest only costs the item its version; nothing
  // about it is printed. A manifest is a file, named by an absolute path.
  if (path.empty() || path.front() != '/') return std::nullopt;
  std::optional<std::string> bytes = platform.readFile(path);
  if (!bytes) return std::nullopt;
  return initWithData(*bytes);
}

std::optional<GalleryVersionParser> GalleryVersionParser::initWithData(std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  xml::QuietGenericErrors quiet;
  // The reader's defaults load no DTD and expand no entity; no network either.
  xml::Reader reader(xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                        nullptr, XML_PARSE_NONET));
  if (!reader) return std::nullopt;
  xmlTextReaderSetStructuredErrorHandler(reader.get(), xml::ignoreError, nullptr);

  GalleryVersionParser parser;
  int result = 0;
  while ((result = xmlTextReaderRead(reader.get())) == 1) parser.processNode(reader.get());
  if (result != 0) return std::nullopt;
  return parser;
}

std::optional<std::string> GalleryVersionParser::galeryVersionForPath(Platform& platform,
                                                                     const std::string& path) {
  const std::optional<CalendarDate> date = versionDateForPath(platform, path);
  if (!date) return std::nullopt;
  return formatVersionDate(*date);
}

std::optional<CalendarDate> GalleryVersionParser::versionDateForPath(Platform& platform,
                                                                     const std::string& path) {
  std::optional<GalleryVersionParser> parser = initWithPath(platform, path);
  if (!parser) return std::nullopt;
  return parser->version_;
}

void GalleryVersionParser::processNode(_xmlTextReader* reader) {
  const int type = xmlTextReaderNodeType(reader);
  if (type == kElementStart || type == kElementEnd) {
    xml::String name(xmlTextReaderName(reader));
    if (!name || xmlStrcmp(name.get(), kVersionElement) != 0) return;
    // "<lom:version/>" has no end tag to close it, so it must not open a
    // version region that would swallow the text of later elements.
    inVersion_ = type == kElementStart && xmlTextReaderIsEmptyElement(reader) != 1;
    return;
  }
  if (type != kText || !inVersion_) return;
  std::optional<std::string> value = xml::take(xmlTextReaderValue(reader));
  if (!value) return;
  if (std::optional<CalendarDate> date = parseVersionDate(*value)) offerDate(*date);
}

void GalleryVersionParser::offerDate(const CalendarDate& date) {
  if (!version_ || *version_ < date) version_ = date;
}

}  // namespace qu
