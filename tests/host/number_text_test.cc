// Numbers in texts: atoi's reading (with scanf's "were there digits") and
// the numbers "%d" writes after a key's stem.
#include "host/number_text.h"

#include <gtest/gtest.h>

#include <climits>

namespace kestrin {
namespace {

TEST(NumberTextTest, ReadsAsTheCLibraryAndFindsNumberedKeys) {
  const struct {
    const char* text;
    int value;
    size_t end;  // where the number ends; 0: no digits
  } reads[] = {{"42", 42, 2},          {" \t-7x", -7, 4},         {"+0x1F", 0, 2},
               {"abc", 0, 0},          {"-", 0, 0},               {"", 0, 0},
               {"2147483648", INT_MAX, 10}, {"-99999999999", INT_MIN, 12}, {"007;8", 7, 3}};
  for (const auto& r : reads) {
    size_t pos = 0;
    bool digits = true;
    EXPECT_EQ(ReadDecimal(r.text, &pos, &digits), r.value) << r.text;
    EXPECT_EQ(pos, r.end) << r.text;
    EXPECT_EQ(digits, r.end > 0) << r.text;
  }
  const struct {
    const char* name;
    int number;  // 0: none
  } keys[] = {{"Module1", 1},  {"MODULE12", 12},          {"module2147483647", INT_MAX},
              {"Module0", 0},  {"Module01", 0},           {"Module", 0},
              {"Module+1", 0}, {"Module2147483648", 0},   {"Modul1", 0},
              {"Module1x", 0}, {"Module12345678901", 0}};
  for (const auto& k : keys) {
    EXPECT_EQ(NumberAfterStem(k.name, "Module").value_or(0), k.number) << k.name;
  }
}

}  // namespace
}  // namespace kestrin
