#include "extensions/plist_io.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "extensions/recurse.h"
#include "test_support/temp_dir.h"

extern char** environ;

namespace qu::plist {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using qu::testing::TempDir;

constexpr double k1999June1 = -50076000;        // 1999-06-01T10:00:00Z
constexpr double k2024February29 = 730902896;   // 2024-02-29T12:34:56Z

std::vector<std::string> keysOf(const Value& value) {
  std::vector<std::string> keys;
  for (const auto& [key, item] : *value.dictionary()) keys.push_back(key);
  return keys;
}

std::vector<std::string> directoryEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

std::string allBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

// One of every type, in a key order that is not sorted.
Value everyType() {
  Dictionary nested;
  nested.set("z", "last letter first");
  nested.set("a", Array{Value::integer(1), Array{}, Dictionary{}});
  Dictionary root;
  root.set("nested", nested);
  root.set("empty string", "");
  root.set("unicode", "Grüße, 日本語 \xF0\x9F\x98\x80 & <tags>");
  root.set("int64 min", Value::integer(INT64_MIN));
  root.set("minus one", Value::integer(-1));
  root.set("zero", Value::integer(0));
  root.set("int64 max", Value::integer(INT64_MAX));
  root.set("uint64 max", Integer::fromUnsigned(UINT64_MAX));
  root.set("just above int64 max",
           Integer::fromUnsigned(static_cast<std::uint64_t>(INT64_MAX) + 1));
  root.set("tenth", 0.1);
  root.set("minus two and a half", -2.5);
  root.set("yes", true);
  root.set("no", false);
  root.set("before reference date", Date{k1999June1});
  root.set("after reference date", Date{k2024February29});
  root.set("bytes", Data{allBytes()});
  root.set("empty data", Data{});
  return root;
}

void expectSameIncludingOrder(const Value& actual, const Value& expected) {
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(keysOf(actual), keysOf(expected));
  EXPECT_EQ(keysOf(*actual.dictionary()->find("nested")),
            keysOf(*expected.dictionary()->find("nested")));
}

std::optional<std::string> findOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path ? path : "");
  for (std::string directory; std::getline(directories, directory, ':');) {
    std::string candidate = directory + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

// Converts an XML property-list file to binary with the converter the
// library ships; false when it fails.
bool convertToBinary(const std::string& tool, const std::string& in, const std::string& out) {
  std::vector<std::string> arguments = {tool, "-i", in, "-o", out, "-f", "bin"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ParseTest, ReadsHandWrittenXmlWithEveryTypeInFileOrder) {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>visible</key><true/>
  <key>pkgid</key><string>com.quorvix.pkg.core</string>
  <key>Remote</key><false/>
  <key>size</key><integer>-42</integer>
  <key>huge</key><integer>18446744073709551615</integer>
  <key>ratio</key><real>0.5</real>
  <key>installed</key><date>2024-02-29T12:34:56Z</date>
  <key>blob</key><data>AAEC/w==</data>
  <key>paths</key><array><string>/a</string><dict/></array>
</dict>
</plist>
)";
  std::optional<Value> parsed = parse(xml);

  ASSERT_TRUE(parsed);
  ASSERT_NE(parsed->dictionary(), nullptr);
  EXPECT_THAT(keysOf(*parsed), ElementsAre("visible", "pkgid", "Remote", "size", "huge", "ratio",
                                           "installed", "blob", "paths"));
  const Dictionary& d = *parsed->dictionary();
  EXPECT_EQ(*d.find("visible"), Value(true));
  EXPECT_EQ(*d.find("pkgid"), Value("com.quorvix.pkg.core"));
  EXPECT_EQ(*d.find("Remote"), Value(false));
  EXPECT_EQ(*d.find("size"), Value::integer(-42));
  EXPECT_EQ(*d.find("huge"), Value(Integer::fromUnsigned(UINT64_MAX)));
  EXPECT_EQ(*d.find("ratio"), Value(0.5));
  EXPECT_EQ(*d.find("installed"), Value(Date{k2024February29}));
  EXPECT_EQ(*d.find("blob"), Value(Data{std::string("\x00\x01\x02\xff", 4)}));
  EXPECT_EQ(*d.find("paths"), Value(Array{"/a", Dictionary{}}));
}

TEST(ParseTest, ReadsAHundredThousandKeysInFileOrderAndKeepsTheLastOfTwins) {
  std::string xml = "<plist version=\"1.0\"><dict>";
  for (int i = 99999; i >= 0; --i) {
    xml += "<key>k" + std::to_string(i) + "</key><integer>" + std::to_string(i) + "</integer>";
  }
  xml += "<key>k5</key><string>again</string></dict></plist>";

  std::optional<Value> parsed = parse(xml);

  ASSERT_TRUE(parsed);
  const Dictionary& dictionary = *parsed->dictionary();
  ASSERT_EQ(dictionary.size(), 100000u);
  EXPECT_EQ(dictionary.entries().front().first, "k99999");
  EXPECT_EQ(dictionary.entries().back().first, "k0");
  EXPECT_EQ(dictionary.entries()[99994].first, "k5");
  EXPECT_EQ(*dictionary.find("k5"), Value("again"));
  EXPECT_EQ(*dictionary.find("k77"), Value::integer(77));
}

TEST(ParseTest, RejectsWhatIsNoPropertyList) {
  const std::string notPlists[] = {
      "",
      "garbage",
      "bplist00",
      std::string("\0\0\0", 3),
  };
  for (const std::string& bytes : notPlists) {
    SCOPED_TRACE(bytes);
    EXPECT_FALSE(parse(bytes));
  }
}

// A binary property list holding one date.
std::string binaryDate(double sinceReferenceDate) {
  std::string bytes("bplist00\x33", 9);
  const auto bits = std::bit_cast<std::uint64_t>(sinceReferenceDate);
  for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(bits >> shift));
  bytes += '\x08';                                                // the offset table
  bytes += std::string(6, '\0') + "\x01\x01";                     // offset and reference sizes
  bytes += std::string(7, '\0') + '\x01' + std::string(8, '\0');  // one object, the top one
  bytes += std::string(7, '\0') + '\x11';                         // the offset table's place
  return bytes;
}

TEST(ParseTest, RefusesListsTheLibraryCannotSurvive) {
  // Well-formed, but every level costs a stack frame in the library and here.
  std::string deep = "<plist version=\"1.0\">";
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  for (int i = 0; i < 100000; ++i) deep += "</array>";
  EXPECT_FALSE(parse(deep + "</plist>"));
}

TEST(DateTest, DatesFarFromTheReferenceDateAreKeptToTheSecond) {
  const struct {
    double stored;
    const char* written;
  } cases[] = {
      {63113904000, "<date>4001-01-01T00:00:00Z</date>"},  // the "distant future" programs store
      {-3155760000, "<date>1901-01-01T00:00:00Z</date>"},
      {730902896.25, "<date>2024-02-29T12:34:56Z</date>"},
  };
  for (const auto& c : cases) {
    std::optional<Value> parsed = parse(binaryDate(c.stored));
    ASSERT_TRUE(parsed) << c.written;
    EXPECT_EQ(*parsed, Value(Date{c.stored})) << c.written;

    const std::string xml = toXml(*parsed);
    EXPECT_THAT(xml, HasSubstr(c.written));
    EXPECT_EQ(parse(xml), Value(Date{std::trunc(c.stored)})) << c.written;
  }
}

TEST(WriteFileAtomicallyTest, RefusesWhatTheXmlFormWouldCutShort) {
  Dictionary keyWithNul;
  keyWithNul.set(std::string("a\0b", 3), true);
  Dictionary farDate;
  farDate.set("when", Date{1e12});  // beyond the year 9999
  Dictionary keyWithNonCharacter;
  keyWithNonCharacter.set("not a character \xEF\xBF\xBF", true);  // U+FFFF
  const struct {
    const char* story;
    Value value;
  } cases[] = {
      {"a string holding NUL", Array{"fine", std::string("cut\0here", 8)}},
      {"a key holding NUL", keyWithNul},
      {"a date XML cannot write", farDate},
      {"a control character", Array{"tab\tline\ncarriage\r fine", "escape \x1B[0m"}},
      {"U+FFFE", "\xEF\xBF\xBE"},
      {"a key holding U+FFFF", keyWithNonCharacter},
      {"a surrogate", "\xED\xA0\x80"},
      {"bytes that are not UTF-8", "Latin-1 \xE9t\xE9"},
      {"a sequence that starts with a continuation byte", "c\x91\x92" "ane"},
      // Overlong forms spell a character in more bytes than it needs.
      {"an overlong three-byte '('", "unicode \xE0\x80\xA8 value"},
      {"an overlong two-byte '<'", "\xC0\xBC"},
      {"an overlong four-byte 'A'", "\xF0\x80\x81\x81"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
      {"a five-byte form", "\xF8\x88\x80\x80\x80"},
      {"a truncated sequence at the end", "caf\xC3"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string original = toXml(everyType());
    const std::string path = dir.writeFile("prefs.plist", original);

    Status status = writeFileAtomically(path, c.value);

    EXPECT_EQ(status.errnum(), EILSEQ) << c.story;
    EXPECT_EQ(qu::testing::readWholeFile(path), original) << c.story;
    EXPECT_THAT(directoryEntries(dir.path()), ElementsAre("prefs.plist")) << c.story;
  }
}

TEST(FitsXmlTest, TakesEveryWellFormedCharacterXmlAllows) {
  // The ends of each UTF-8 length, and the characters either side of the
  // surrogates and the two non-characters.
  for (const char* text : {"\t\n\r ~", "\xC2\x80\xDF\xBF", "\xE0\xA0\x80\xED\x9F\xBF",
                           "\xEE\x80\x80\xEF\xBF\xBD", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"}) {
    EXPECT_TRUE(fitsXml(Value(std::string(text)))) << text;
  }
}

TEST(ToXmlTest, WritesWideIntegersWithTheirSign) {
  std::string xml = toXml(everyType());

  EXPECT_THAT(xml, HasSubstr("<integer>18446744073709551615</integer>"));
  EXPECT_THAT(xml, HasSubstr("<integer>9223372036854775808</integer>"));
  EXPECT_THAT(xml, HasSubstr("<integer>-9223372036854775808</integer>"));
  EXPECT_THAT(xml, HasSubstr("<integer>-1</integer>"));
}

TEST(RoundTripTest, XmlKeepsEveryValueTypeAndKeyOrder) {
  std::optional<Value> back = parse(toXml(everyType()));

  ASSERT_TRUE(back);
  expectSameIncludingOrder(*back, everyType());
}

TEST(RoundTripTest, BinaryFormIsDetectedAndReadLikeXml) {
  std::optional<std::string> tool = findOnPath("plistutil");
  if (!tool) GTEST_SKIP() << "plistutil is not on PATH; binary property lists cannot be made";
  TempDir dir;
  std::string xml = dir.writeFile("in.plist", toXml(everyType()));
  std::string binary = dir.at("out.plist");
  ASSERT_TRUE(convertToBinary(*tool, xml, binary));
  ASSERT_EQ(qu::testing::readWholeFile(binary).rfind("bplist00", 0), 0u);

  std::optional<Value> parsed = readFile(binary);

  ASSERT_TRUE(parsed);
  expectSameIncludingOrder(*parsed, everyType());
}

TEST(ReadFileTest, MissingOrUnparsableFilesReadAsNothing) {
  TempDir dir;
  dir.writeFile("text", "just some words\n");
  dir.makeDirectory("folder");

  EXPECT_FALSE(readFile(dir.at("missing.plist")));
  EXPECT_FALSE(readFile(dir.at("text")));
  EXPECT_FALSE(readFile(dir.at("folder")));
}

TEST(WriteFileAtomicallyTest, KeepsPermissionsAndOwnerAndLeavesNoTemporaryFile) {
  // As root any owner can be given; otherwise the file stays the caller's.
  const bool root = ::geteuid() == 0;
  const uid_t owner = root ? 4321 : ::geteuid();
  const gid_t group = root ? 5432 : ::getegid();
  for (unsigned mode : {0600u, 0640u, 0444u}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    std::string path = dir.writeFile("prefs.plist", toXml(Dictionary{}), mode);
    ASSERT_EQ(::chown(path.c_str(), owner, group), 0);

    Status status = writeFileAtomically(path, everyType());

    ASSERT_TRUE(status.isOk()) << status.message();
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
    EXPECT_EQ(info.st_uid, owner);
    EXPECT_EQ(info.st_gid, group);
    EXPECT_THAT(directoryEntries(dir.path()), ElementsAre("prefs.plist"));
    EXPECT_EQ(readFile(path), everyType());
  }
}

TEST(WriteFileAtomicallyTest, CreatesAMissingFileReadableByAll) {
  TempDir dir;
  std::string path = dir.at("new.plist");

  ASSERT_TRUE(writeFileAtomically(path, Value(Array{"x"})).isOk());

  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(readFile(path), Value(Array{"x"}));
}

TEST(WriteFileAtomicallyTest, ReadModifyWriteChangesOnlyTheRemovedKeys) {
  TempDir dir;
  std::string path = dir.writeFile("prefs.plist", toXml(everyType()));
  std::optional<Value> contents = readFile(path);
  ASSERT_TRUE(contents);

  removeObjectsForRecursiveKeys(*contents->dictionary(), {"nested:z", "yes", "not there"});
  ASSERT_TRUE(writeFileAtomically(path, *contents).isOk());

  Value expected = everyType();
  expected.dictionary()->find("nested")->dictionary()->erase("z");
  expected.dictionary()->erase("yes");
  std::optional<Value> rewritten = readFile(path);
  ASSERT_TRUE(rewritten);
  expectSameIncludingOrder(*rewritten, expected);
}

}  // namespace
}  // namespace qu::plist
