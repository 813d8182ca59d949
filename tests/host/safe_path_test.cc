#include "host/safe_path.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrin {
namespace {

struct SafePathCase {
  std::string name;
  bool accepted;
  const char* relative;  // when accepted
};

TEST(SafePathTest, RefusesNamesThatLeaveTheFolder) {
  const SafePathCase cases[] = {
      {"", false, ""},
      {".", false, ""},
      {".\\", false, ""},
      {"\\", false, ""},
      {"..", false, ""},
      {"..\\x", false, ""},
      {"a\\..\\b", false, ""},
      {"a/../b", false, ""},
      {"a\\..", false, ""},
      {"a\\.. ", false, ""},   // Windows would strip the blank: ".."
      {"a\\...", false, ""},   // only dots
      {"a\\. .\\b", false, ""},
      {"C:x", false, ""},
      {"C:\\x", false, ""},
      {"c:/x", false, ""},
      {"a\\b:c", false, ""},   // stream name
      {"\\\\server\\share", false, ""},
      {"\\x", false, ""},
      {"/etc/passwd", false, ""},
      {"//x", false, ""},
      {"a\\*.ini", false, ""},
      {"a?b", false, ""},
      {"a|b", false, ""},
      {"a<b", false, ""},
      {"a\"b", false, ""},
      {"a\tb", false, ""},
      {std::string("a\0b", 3), false, ""},
      // Accepted, as Windows would store them.
      {"x", true, "x"},
      {"HELP\\index.htm", true, "HELP/index.htm"},
      {"a/./b", true, "a/b"},
      {".\\a", true, "a"},
      {"a\\\\b", true, "a/b"},
      {"a\\b\\", true, "a/b"},
      {"a/b/", true, "a/b"},
      {"file.txt.", true, "file.txt"},
      {"dir \\file ", true, "dir/file"},
      {"a.\\b..", true, "a/b"},
      {" lead", true, " lead"},
      {".hidden", true, ".hidden"},
      {"..a", true, "..a"},
      {"a..b", true, "a..b"},
      {"\xe4nderung.ini", true, "\xe4nderung.ini"},
  };
  for (const SafePathCase& c : cases) {
    std::string relative = "stale";
    std::string reason;
    const bool accepted = SafeRelativePath(c.name, &relative, &reason);
    EXPECT_EQ(accepted, c.accepted) << "\"" << c.name << "\" " << reason;
    if (c.accepted) {
      EXPECT_EQ(relative, c.relative) << "\"" << c.name << "\"";
    } else {
      EXPECT_TRUE(relative.empty()) << "\"" << c.name << "\"";
      EXPECT_FALSE(reason.empty()) << "\"" << c.name << "\"";
    }
  }
}

}  // namespace
}  // namespace kestrin
