// Text rules: the accepted version forms and their comparison, and the
// mapping of a bundle's file names to paths inside the destination folder.
#include <gtest/gtest.h>

#include <string>

#include "host/safe_path.h"
#include "host/version.h"

namespace kestrin {
namespace {

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

TEST(SafePathTest, RefusesNamesThatLeaveTheFolder) {
  const std::string refused[] = {
      "", ".", ".\\", "\\", "..", "..\\x", "a\\..\\b", "a/../b", "a\\..", "a\\.. ", "a\\...",
      "a\\. .\\b", "C:x", "C:\\x", "c:/x", "a\\b:c", "\\\\server\\share", "\\x", "/etc/passwd",
      "//x", "a\\*.ini", "a?b", "a|b", "a<b", "a\"b", "a\tb", std::string("a\0b", 3)};
  for (const std::string& name : refused) {
    std::string relative = "stale";
    std::string reason;
    EXPECT_FALSE(SafeRelativePath(name, &relative, &reason)) << "\"" << name << "\"";
    EXPECT_TRUE(relative.empty()) << "\"" << name << "\"";
    EXPECT_FALSE(reason.empty()) << "\"" << name << "\"";
  }
  // Accepted names, as Windows would store them.
  const struct {
    const char* name;
    const char* relative;
  } accepted[] = {{"x", "x"}, {"HELP\\index.htm", "HELP/index.htm"}, {"a/./b", "a/b"}, {".\\a", "a"},
                  {"a\\\\b", "a/b"}, {"a\\b\\", "a/b"}, {"file.txt.", "file.txt"},
                  {"dir \\file ", "dir/file"}, {"a.\\b..", "a/b"}, {" lead", " lead"},
                  {".hidden", ".hidden"}, {"..a", "..a"}, {"a..b", "a..b"},
                  {"\xe4nderung.ini", "\xe4nderung.ini"}};
  for (const auto& c : accepted) {
    std::string relative;
    std::string reason;
    EXPECT_TRUE(SafeRelativePath(c.name, &relative, &reason)) << c.name << ": " << reason;
    EXPECT_EQ(relative, c.relative) << c.name;
  }
}

}  // namespace
}  // namespace kestrin
