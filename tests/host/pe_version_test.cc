// The version resource of PE files built here: found and read as the
// Windows version calls answer, and never read outside a damaged file.
#include "host/pe_version.h"

#include <gtest/gtest.h>

#include "host/dotnet.h"
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

void PrintTo(const tVersionCase& c, std::ostream* os) { *os << c.name; }

class PeVersionTest : public ::testing::TestWithParam<tVersionCase> {};

TEST_P(PeVersionTest, ReadsTheFileVersionOfTheFirstAnsweringTranslation) {
  const tVersionCase& c = GetParam();
  const std::string image = PeImage(c.pe);
  EXPECT_EQ(VersionOf(image), c.expected);
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() / "Lib.DLL", image);
  EXPECT_EQ(ReadPeFileVersion(dir.Sub("lib.dll")), c.expected == "<none>" ? "" : c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PeVersionTest, ::testing::ValuesIn(kVersionCases),
                         [](const auto& info) { return std::string(info.param.name); });

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
  EXPECT_EQ(GetMscoreeVersion(), "");
  ScopedEnv windows(kWindowsDirVariable, dir.Sub("WINDOWS"));
  EXPECT_EQ(GetMscoreeVersion(), "");  // no loader
  std::filesystem::create_directories(dir.path() / "WINDOWS/System32");
  WriteFileOrDie(dir.path() / "WINDOWS/System32/MSCOREE.DLL",
                 PeImage({.tables = {{"040904b0", "4.0.30319.18408"}}}));
  EXPECT_EQ(GetMscoreeVersion(), "4.0.30319");  // found ignoring letter case
}

}  // namespace
}  // namespace kestrin::testing
