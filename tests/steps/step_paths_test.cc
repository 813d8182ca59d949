// Names from a bundle that become paths inside a destination folder.
#include "steps/step_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrin::testing {
namespace {

TEST(NameInsideFolderTest, KeepsNamesInsideAndWithinLengthLimits) {
  const std::string part255(255, 'a');
  const struct {
    std::string name;
    const char* relative;  // nullptr: refused
  } cases[] = {
      {"sub\\lib.dll", "sub/lib.dll"},
      {part255, "="},
      {std::string(256, 'a'), nullptr},                // one part too long
      {part255 + "/" + std::string(3, 'c'), "="},      // 259 characters in all
      {part255 + "/" + std::string(4, 'c'), nullptr},  // 260
      {"..\\evil.dll", nullptr},
      {"/etc/passwd", nullptr},
      {"C:lib.dll", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    std::string relative, reason;
    const bool ok = NameInsideFolder(c.name, &relative, &reason);
    EXPECT_EQ(ok, c.relative != nullptr) << c.name.size() << " " << c.name.substr(0, 20);
    if (ok) {
      EXPECT_EQ(relative, std::string(c.relative) == "=" ? c.name : std::string(c.relative));
    } else {
      EXPECT_FALSE(reason.empty()) << c.name.substr(0, 20);
    }
  }
}

}  // namespace
}  // namespace kestrin::testing
