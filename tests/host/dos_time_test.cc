#include "host/dos_time.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "support/temp_dir.h"

namespace kestrin {
namespace {

uint16_t Date(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
uint16_t Time(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

// Runs the body with TZ set, restoring the old value afterwards.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) {
      old_ = old;
      had_ = true;
    }
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

TEST(DosTimeTest, LocalTimeWithTheOffsetOfThatDate) {
  TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  struct Case {
    uint16_t date, time;
    time_t expected;  // UTC seconds
  };
  const Case cases[] = {
      {Date(1980, 1, 1), Time(0, 0, 0), 315529200},        // 1979-12-31 23:00 UTC
      {Date(2024, 1, 15), Time(12, 30, 58), 1705318258},   // winter: UTC+1
      {Date(2024, 7, 15), Time(12, 30, 58), 1721039458},   // summer: UTC+2
      {Date(2024, 2, 29), Time(23, 59, 58), 1709247598},   // leap day
      {Date(2107, 12, 31), Time(23, 59, 58), 4354815598},  // the last DOS date
  };
  for (const Case& c : cases) {
    time_t t = 0;
    ASSERT_TRUE(DosDateTimeToTimeT(c.date, c.time, &t)) << c.date << " " << c.time;
    EXPECT_EQ(t, c.expected) << c.date << " " << c.time;
    uint16_t date = 0, time = 0;
    ASSERT_TRUE(TimeTToDosDateTime(t, &date, &time));
    EXPECT_EQ(date, c.date);
    EXPECT_EQ(time, c.time);
  }
}

TEST(DosTimeTest, RefusesFieldsOutOfRange) {
  const uint16_t bad[][2] = {
      {Date(2024, 0, 1), Time(0, 0, 0)},   {Date(2024, 13, 1), Time(0, 0, 0)},
      {Date(2024, 1, 0), Time(0, 0, 0)},   {Date(2023, 2, 29), Time(0, 0, 0)},
      {Date(2024, 4, 31), Time(0, 0, 0)},  {Date(2024, 1, 1), Time(24, 0, 0)},
      {Date(2024, 1, 1), Time(0, 60, 0)},  {Date(2024, 1, 1), static_cast<uint16_t>(30)},
  };
  for (const auto& b : bad) {
    time_t t = 0;
    EXPECT_FALSE(DosDateTimeToTimeT(b[0], b[1], &t)) << b[0] << " " << b[1];
  }
  uint16_t date = 0, time = 0;
  EXPECT_FALSE(TimeTToDosDateTime(0, &date, &time));  // 1970
}

TEST(DosTimeTest, StampsAFile) {
  testing::ScopedTempDir temp;
  testing::WriteFileOrDie(temp.path() / "a.txt", "x");
  FsError error;
  ASSERT_TRUE(SetDosFileTime(temp.Sub("A.TXT"), Date(2001, 9, 8), Time(7, 6, 4), &error)) << error.text;
  struct stat st;
  ASSERT_EQ(stat(temp.Sub("a.txt").c_str(), &st), 0);
  struct tm tm;
  localtime_r(&st.st_mtime, &tm);
  EXPECT_EQ(tm.tm_year, 101);
  EXPECT_EQ(tm.tm_mon, 8);
  EXPECT_EQ(tm.tm_mday, 8);
  EXPECT_EQ(tm.tm_hour, 7);
  EXPECT_EQ(tm.tm_min, 6);
  EXPECT_EQ(tm.tm_sec, 4);
  EXPECT_FALSE(SetDosFileTime(temp.Sub("missing"), Date(2001, 9, 8), 0, &error));
  error = {};
  EXPECT_FALSE(SetDosFileTime(temp.Sub("a.txt"), Date(2001, 13, 8), 0, &error));
  EXPECT_FALSE(error.text.empty());
}

}  // namespace
}  // namespace kestrin
