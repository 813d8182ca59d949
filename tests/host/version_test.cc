// Versions: the accepted version forms and their comparison, and the version
// resource of PE files built here, found and read as the Windows version
// calls answer and never read outside a damaged file.
#include "host/pe_version.h"

#include <gtest/gtest.h>

#include "host/dotnet.h"
#include "host/version.h"
#include "support/pe_image.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin::testing {
namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string VersionOf(const std::string& image) {
  const auto resource = FindVersionResource(Bytes(image));
  return resource ? VersionResourceFileVersion(*resource) : "<none>";
}

struct tVersionCase {
  const char* name;
  tPeImage pe;
  std::string expected;  // "<none>": no version resource found
};

const tVersionCase kVersionCases[] = {
    {"Present", {}, "2.0.50727.42"},
    {"Pe32Plus", {.pe32_plus = true}, "2.0.50727.42"},
    {"TableKeyInCapitals", {.tables = {{"040904B0", "4.0.30319.1"}}}, "4.0.30319.1"},
    {"TableKeyWithCapitalA", {.translations = {{0x040A, 0x04B0}}, .tables = {{"040A04B0", "5.1"}}}, "5.1"},
    {"FirstAnsweringPairWins",
     {.translations = {{0x0407, 0x04E4}, {0x0409, 0x04B0}, {0x040C, 0x04B0}},
      .tables = {{"040c04b0", "3.0"}, {"040904b0", "1.1.4322.573"}}},
     "1.1.4322.573"},
    {"TableWithoutFileVersion",
     {.translations = {{0x0409, 0x04B0}, {0x0409, 0x04E4}},
      .tables = {{"040904b0", ""}, {"040904e4", "9.8.7"}}},
     "9.8.7"},
    {"NoAnsweringPair", {.tables = {{"040704e4", "1.0"}}}, ""},
    {"NoTranslation", {.translations = {}}, ""},
    {"NoVersionResource", {.resource_type = 3}, "<none>"},
};

TEST(PeVersionTest, ReadsTheFileVersionOfTheFirstAnsweringTranslation) {
  ScopedTempDir dir;
  for (const tVersionCase& c : kVersionCases) {
    SCOPED_TRACE(c.name);
    const std::string image = PeImage(c.pe);
    EXPECT_EQ(VersionOf(image), c.expected);
    WriteFileOrDie(dir.path() / "Lib.DLL", image);
    EXPECT_EQ(ReadPeFileVersion(dir.Sub("lib.dll")), c.expected == "<none>" ? "" : c.expected);
  }
}

// Version texts are UTF-16 in the file and UTF-8 here; a lone surrogate reads as U+FFFD.
TEST(PeVersionTest, TextsAreConvertedToUtf8) {
  const struct {
    std::vector<uint16_t> units;
    const char* utf8;
  } cases[] = {{{'1', 0xE9}, "1\xc3\xa9"},
               {{0x20AC, 0x7FF}, "\xe2\x82\xac\xdf\xbf"},
               {{0xD83D, 0xDE00}, "\xf0\x9f\x98\x80"},
               {{0xDBFF, 0xDFFF, 0xFFFF}, "\xf4\x8f\xbf\xbf\xef\xbf\xbf"},
               {{0xD83D, '1', 0xDE00}, "\xef\xbf\xbd" "1\xef\xbf\xbd"}};
  for (const auto& c : cases) {
    const std::string placeholder(c.units.size(), '#');
    std::string image = PeImage({.tables = {{"040904b0", placeholder}}});
    const size_t at = image.find(pe_detail::Utf16z(placeholder));
    ASSERT_NE(at, std::string::npos);
    for (size_t i = 0; i < c.units.size(); ++i) pe_detail::Put16(&image, at + 2 * i, c.units[i]);
    EXPECT_EQ(VersionOf(image), c.utf8) << c.units.size();
  }
}

TEST(PeVersionDamageTest, ACutImageOrNoImageHasNoVersion) {
  const std::string image = PeImage({});
  for (size_t size : {size_t{0}, size_t{64}, size_t{0x200}, image.size() - 1}) {
    // A copy of exactly that size, so the sanitizers see its end.
    const std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<long>(size));
    const auto resource = FindVersionResource(cut);
    EXPECT_FALSE(resource && !VersionResourceFileVersion(*resource).empty()) << size;
  }
  EXPECT_EQ(ReadPeFileVersion("/nonexistent/mscoree.dll"), "");
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() / "text.dll", "MZ but nothing else");
  EXPECT_EQ(ReadPeFileVersion(dir.Sub("text.dll")), "");
  EXPECT_EQ(ReadPeFileVersion(dir.path().string()), "");  // a folder
}

TEST(MscoreeVersionTest, CutsTheLoaderVersionAfterItsThirdField) {
  const struct {
    const char* text;
    const char* cut;
  } cuts[] = {{"2.0.50727.42", "2.0.50727"}, {"4.0.30319", "4.0.30319"}, {"1.2", "1.2"},
              {"", ""},                      {"1.2.3.4.5", "1.2.3"},      {"...", ".."},
              {"4.0.30319.", "4.0.30319"}};
  for (const auto& c : cuts) EXPECT_EQ(CutAtThirdDot(c.text), c.cut) << c.text;

  ScopedTempDir dir;
  ScopedEnv unset(kWindowsDirVariable, std::nullopt);
  EXPECT_EQ(SystemLibraries().DotNetLoaderVersion(), "");
  ScopedEnv windows(kWindowsDirVariable, dir.Sub("WINDOWS"));
  EXPECT_EQ(SystemLibraries().DotNetLoaderVersion(), "");  // no loader
  std::filesystem::create_directories(dir.path() / "WINDOWS/System32");
  WriteFileOrDie(dir.path() / "WINDOWS/System32/MSCOREE.DLL",
                 PeImage({.tables = {{"040904b0", "4.0.30319.18408"}}}));
  EXPECT_EQ(SystemLibraries().DotNetLoaderVersion(), "4.0.30319");  // found ignoring letter case
}

TEST(VersionTest, ComparesFieldsAsNumbers) {
  const struct {
    const char* installed;
    std::string required;
    int expected;
  } cases[] = {
      // No minimum: no objection. A malformed minimum always fails.
      {"6.1", "", 0}, {"garbage", "", 0}, {"99", "5.", -1}, {"99", "5.1.2.3", -1}, {"99", "5.*.1", -1},
      {"99", " 5", -1}, {"", "x", -1}, {"99", "5*", -1}, {"99", "*.1", -1}, {"99", "5.1.2.*", -1},
      {"99", "+5", -1}, {"99", "5.-1", -1}, {"99", "\xd9\xa5", -1}, {"99", std::string("5\0", 2), -1},
      {"9", "123456789012345678901234567890", -1}, {"9", "05.001", 0},
      // The first unequal pair decides; numbers, not texts.
      {"6.1", "6.2", -1}, {"6.2", "6.1.9", 0}, {"6.10", "6.9", 0}, {"6.9", "6.10", -1},
      {"06.01", "6.1", 0}, {"5.9", "6.*", -1}, {"6", "6.*", 0}, {"", "*", 0},
      // Whichever text runs out first, the result is 0.
      {"6", "6.1", 0}, {"6.1.0.1234", "6.1", 0}, {"6.1.0.1234", "6.1.1", -1},
      // Installed fields read like atol; empty fields are skipped.
      {"6a.1", "6.1", 0}, {"6a.0", "6.1", -1}, {"x.9", "1", -1}, {" 7", "6", 0}, {"-7", "6", -1},
      {"+7", "6", 0}, {"6..1", "6.1", 0}, {"6..0", "6.1", -1}, {".5", "6", -1}, {"...", "1", 0},
      // Values beyond 32 bits stop at the largest one.
      {"99999999999", "2147483647", 0}, {"2147483646", "99999999999", -1},
      {"3", "0000000000000000000004", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareVersion(c.installed, c.required), c.expected)
        << "installed \"" << c.installed << "\" required \"" << c.required << "\"";
  }
}

}  // namespace
}  // namespace kestrin::testing
