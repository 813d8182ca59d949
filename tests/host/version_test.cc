#include "host/version.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrin {
namespace {

struct ValidityCase {
  const char* text;
  int expected;
};

TEST(VersionTest, AcceptsExactlyTheSixForms) {
  const ValidityCase cases[] = {
      {"*", 1},       {"5", 1},        {"5.*", 1},        {"5.1", 1},      {"5.1.*", 1},
      {"5.1.2", 1},   {"05.001", 1},   {"123456789012345678901234567890", 1},
      {"", -1},       {"5.", -1},      {".5", -1},        {"5..1", -1},    {"5.1.2.3", -1},
      {"5*", -1},     {"*5", -1},      {"*.1", -1},       {"5.*.1", -1},   {"5.1.2.*", -1},
      {"**", -1},     {"*.", -1},      {"5.1.", -1},      {"a5", -1},      {"5a", -1},
      {" 5", -1},     {"5 ", -1},      {"+5", -1},        {"-5", -1},      {"5.-1", -1},
      {".", -1},      {"5.1.2.", -1},  {"\xd9\xa5", -1},  // a non-ASCII digit
  };
  for (const ValidityCase& c : cases) {
    EXPECT_EQ(IsValidVersion(c.text), c.expected) << "\"" << c.text << "\"";
  }
  EXPECT_EQ(IsValidVersion(std::string("5\0", 2)), -1);
}

struct CompareCase {
  const char* installed;
  const char* required;
  int expected;
};

TEST(VersionTest, ComparesFieldsAsNumbers) {
  const CompareCase cases[] = {
      // No minimum: no objection, whatever is installed.
      {"6.1", "", 0},
      {"", "", 0},
      {"garbage", "", 0},
      // A malformed minimum always fails.
      {"99", "5.", -1},
      {"99", ".5", -1},
      {"99", "5..1", -1},
      {"99", "5.1.2.3", -1},
      {"99", "5*", -1},
      {"99", "*.1", -1},
      {"99", "5.*.1", -1},
      {"99", "a5", -1},
      {"99", " 5", -1},
      {"99", "5 ", -1},
      {"99", "-5", -1},
      {"", "x", -1},
      // The first unequal pair decides.
      {"6.1", "6.2", -1},
      {"6.2", "6.1.9", 0},
      {"6.10", "6.9", 0},
      {"6.9", "6.10", -1},
      {"6.1", "6.1", 0},
      {"06.01", "6.1", 0},
      {"5.9", "6.*", -1},
      {"6.0", "6.*", 0},
      {"6", "6.*", 0},
      {"5", "*", 0},
      {"", "*", 0},
      // Whichever text runs out first, the result is 0.
      {"6", "6.1", 0},
      {"6.1.0.1234", "6.1", 0},
      {"6.1.0.1234", "6.1.1", -1},
      {"6.1.1.0", "6.1.1", 0},
      // Installed fields read like atol.
      {"6a.1", "6.1", 0},
      {"6a.0", "6.1", -1},
      {"x.9", "1", -1},
      {" 7", "6", 0},
      {"-7", "6", -1},
      {"+7", "6", 0},
      {"6..1", "6.1", 0},
      {"6..0", "6.1", -1},
      {".6", "6", 0},
      {".5", "6", -1},
      {"", "1", 0},
      {"...", "1", 0},
      // Values beyond 32 bits stop at the largest one.
      {"99999999999", "2147483647", 0},
      {"2147483646", "99999999999", -1},
      {"3", "0000000000000000000004", -1},
  };
  for (const CompareCase& c : cases) {
    EXPECT_EQ(CompareVersion(c.installed, c.required), c.expected)
        << "installed \"" << c.installed << "\" required \"" << c.required << "\"";
  }
}

}  // namespace
}  // namespace kestrin
