#include "host/install_record.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace kestrin {
namespace {

using testing::ReadFileOrDie;
using testing::ScopedTempDir;
using testing::WriteFileOrDie;

FileTime At(int year, int month, int day, int hour, int minute, int second = 0) {
  FileTime t = 0;
  EXPECT_TRUE(SystemTimeToFileTime(year, month, day, hour, minute, second, &t));
  return t;
}

TEST(InstallRecordTest, TimeStamps) {
  EXPECT_EQ(At(1601, 1, 1, 0, 0), 0u);
  EXPECT_EQ(At(1970, 1, 1, 0, 0), 116444736000000000u);
  EXPECT_EQ(InstallRecord::FormatTimeStamp(At(2024, 3, 5, 7, 9, 59)), "2024-03-05-07-09");
  EXPECT_EQ(InstallRecord::FormatTimeStamp(At(2024, 3, 5, 7, 9, 59) + 9'999'999), "2024-03-05-07-09");
  EXPECT_EQ(InstallRecord::FormatTimeStamp(At(2024, 3, 5, 7, 9, 59) + 10'000'000), "2024-03-05-07-10");
  EXPECT_EQ(InstallRecord::FormatTimeStamp(0), "1601-01-01-00-00");
  EXPECT_EQ(InstallRecord::FormatTimeStamp(At(2000, 2, 29, 23, 59)), "2000-02-29-23-59");

  FileTime t = 0;
  EXPECT_FALSE(SystemTimeToFileTime(2024, 13, 1, 0, 0, 0, &t));
  EXPECT_FALSE(SystemTimeToFileTime(2023, 2, 29, 0, 0, 0, &t));
  EXPECT_FALSE(SystemTimeToFileTime(1900, 2, 29, 0, 0, 0, &t));
  EXPECT_FALSE(SystemTimeToFileTime(2024, 4, 31, 0, 0, 0, &t));
  EXPECT_FALSE(SystemTimeToFileTime(2024, 1, 1, 24, 0, 0, &t));
  EXPECT_FALSE(SystemTimeToFileTime(2024, 1, 1, 0, 60, 0, &t));
  EXPECT_FALSE(SystemTimeToFileTime(1600, 12, 31, 0, 0, 0, &t));
  EXPECT_FALSE(SystemTimeToFileTime(2024, 1, -1, 0, 0, 0, &t));

  // Now, in UTC, to the minute.
  const time_t before = time(nullptr);
  const std::string now = InstallRecord::NowTimeStamp();
  const time_t after = time(nullptr);
  struct tm tm;
  char text[32];
  gmtime_r(&before, &tm);
  strftime(text, sizeof(text), "%Y-%m-%d-%H-%M", &tm);
  std::string expected_before = text;
  gmtime_r(&after, &tm);
  strftime(text, sizeof(text), "%Y-%m-%d-%H-%M", &tm);
  EXPECT_TRUE(now == expected_before || now == text) << now;
}

struct LatestCase {
  const char* name;
  const char* section;  // lines of the item's section
  const char* latest;
  int oem_id;
};

TEST(InstallRecordTest, NewestEntryByTime) {
  const LatestCase cases[] = {
      {"seconds make it newer", "2024-05-01-10-30=1\n2024-05-01-10-30-01=2\n", "2", 2},
      {"seconds make it newer, other order", "2024-05-01-10-30-01=2\n2024-05-01-10-30=1\n", "2", 2},
      {"four numbers are ignored", "2024-05-01-10=5\n", "", 0},
      {"four numbers beside a valid one", "2030-05-01-10=5\n2020-01-01-00-00=6\n", "6", 6},
      {"digits then semicolon", "2024-05-01-10-30=12;extra\n", "12;extra", 12},
      {"value begins with a letter", "2024-05-01-10-30=x12\n", "x12", 0},
      {"value with blanks and sign", "2024-05-01-10-30=  -3 \n", "-3", -3},
      {"older entry written later loses", "2024-06-01-00-00=7\n2023-01-01-00-00=8\n", "7", 7},
      {"time beats file order", "2023-01-01-00-00=8\n2024-06-01-00-00=7\n", "7", 7},
      {"invalid date ignored", "2024-13-01-00-00=9\n2024-01-01-00-00=3\n", "3", 3},
      {"only an invalid date", "2024-02-30-00-00=9\n", "", 0},
      {"equal times: first in key order", "2024-01-01-10-00-00=4\n2024-01-01-10-00=5\n", "5", 5},
      {"compared as times, not texts", "2024-1-2-3-4=1\n2024-01-01-23-59=2\n", "1", 1},
      {"the very first instant never wins", "1601-01-01-00-00=4\n", "", 0},
      {"no entries", "", "", 0},
      {"junk keys", "abc=1\n2024=2\n=3\n", "", 0},
  };
  for (const LatestCase& c : cases) {
    ScopedTempDir temp;
    WriteFileOrDie(temp.path() / "instlog.ini",
                   std::string("[Other]\n2099-01-01-00-00=99\n[$MODULES\\A.INI]\n") + c.section +
                       "[Later]\n2099-01-01-00-00=98\n");
    const InstallRecord record(temp.Sub("instlog.ini"));
    EXPECT_EQ(record.GetLatestEntry("$MODULES\\A.INI"), c.latest) << c.name;
    EXPECT_EQ(record.GetLatestOemId("$MODULES\\A.INI"), c.oem_id) << c.name;
    // Section names compare ignoring case.
    EXPECT_EQ(record.GetLatestOemId("$modules\\a.ini"), c.oem_id) << c.name;
  }
}

TEST(InstallRecordTest, RecordsRoundTrip) {
  ScopedTempDir temp;
  const InstallRecord record(temp.Sub("instlog.ini"));
  EXPECT_EQ(record.GetLatestOemId("drv.dll"), 0);  // no file yet

  record.RecordInstall("drv.dll", 7, At(2024, 1, 1, 8, 0));
  record.RecordInstall("drv.dll", 9, At(2024, 1, 2, 8, 0));
  record.RecordInstall(std::string(kSamplesRecordPrefix) + "Demo", 4, At(2024, 1, 1, 8, 0));
  EXPECT_EQ(record.GetLatestOemId("drv.dll"), 9);
  EXPECT_EQ(record.GetLatestOemId("$SAMPLES\\Demo"), 4);
  // The same minute again: one key, the later value.
  record.RecordInstall("drv.dll", 11, At(2024, 1, 2, 8, 0, 30));
  EXPECT_EQ(record.GetLatestOemId("drv.dll"), 11);
  EXPECT_EQ(ReadFileOrDie(temp.path() / "instlog.ini"),
            "[drv.dll]\r\n2024-01-01-08-00=7\r\n2024-01-02-08-00=11\r\n"
            "[$SAMPLES\\Demo]\r\n2024-01-01-08-00=4\r\n");
  // Without a time: now.
  record.RecordInstall("now.dll", 3);
  EXPECT_EQ(record.GetLatestOemId("now.dll"), 3);
  EXPECT_NE(ReadFileOrDie(temp.path() / "instlog.ini").find("[now.dll]\r\n" + InstallRecord::NowTimeStamp().substr(0, 13)),
            std::string::npos);
}

TEST(InstallRecordTest, FileInAnotherCaseIsUsed) {
  ScopedTempDir temp;
  WriteFileOrDie(temp.path() / "INSTLOG.INI", "[x.dll]\n2024-01-01-00-00=5\n");
  const InstallRecord record(temp.Sub("instlog.ini"));
  EXPECT_EQ(record.GetLatestOemId("X.DLL"), 5);
  record.RecordInstall("y.dll", 6, At(2024, 1, 1, 0, 0));
  EXPECT_FALSE(std::filesystem::exists(temp.path() / "instlog.ini"));
  EXPECT_EQ(record.GetLatestOemId("y.dll"), 6);
}

TEST(InstallRecordTest, OverwriteRule) {
  ScopedTempDir temp;
  WriteFileOrDie(temp.path() / "instlog.ini",
                 "[$MODULES\\MINE.INI]\n2024-01-01-00-00=7\n"
                 "[$MODULES\\THEIRS.INI]\n2024-01-01-00-00=7\n2024-02-01-00-00=5\n");
  const InstallRecord record(temp.Sub("instlog.ini"));
  struct Case {
    const char* name;
    bool exists;
    int oem_id;
    bool another_vendor;
  };
  const Case cases[] = {
      {"$MODULES\\MINE.INI", true, 7, false},
      {"$MODULES\\MINE.INI", true, 5, true},
      {"$MODULES\\THEIRS.INI", true, 7, true},
      {"$MODULES\\THEIRS.INI", true, 5, false},
      {"$MODULES\\THEIRS.INI", false, 7, false},  // nothing to overwrite
      {"$MODULES\\NEW.INI", true, 7, true},        // no record counts as OEM 0
      {"$MODULES\\NEW.INI", true, 0, false},       // which a bundle of OEM 0 matches
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsInstalledByAnotherVendor(record, c.name, c.exists, c.oem_id), c.another_vendor)
        << c.name << " " << c.exists << " " << c.oem_id;
  }
  // A missing record file: everything that exists is another vendor's.
  const InstallRecord missing(temp.Sub("none/instlog.ini"));
  EXPECT_TRUE(IsInstalledByAnotherVendor(missing, "drv.dll", true, 1));
}

}  // namespace
}  // namespace kestrin
