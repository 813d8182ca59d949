// The mapping of a bundle's file names to paths inside the destination folder.
#include "host/safe_path.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrin {
namespace {

TEST(SafePathTest, RefusesNamesThatLeaveTheFolder) {
  const std::string refused[] = {
      "", ".", ".\\", "\\", "..", "..\\x", "a\\..\\b", "a/../b", "a\\..", "a\\.. ", "a\\...",
      "a\\. .\\b", "C:x", "C:\\x", "c:/x", "a\\b:c", "\\\\server\\share", "\\x", "/etc/passwd",
      "//x", "a\\*.ini", "a?b", "a|b", "a<b", "a\"b", "a\tb", std::string("a\0b", 3)};
  for (const std::string& name : refused) {
    std::string relative = "stale", reason;
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
    std::string relative, reason;
    EXPECT_TRUE(SafeRelativePath(c.name, &relative, &reason)) << c.name << ": " << reason;
    EXPECT_EQ(relative, c.relative) << c.name;
  }
}

}  // namespace
}  // namespace kestrin
