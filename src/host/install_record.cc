#include "host/install_record.h"

#include <time.h>

#include <cstdio>
#include <limits>

#include "host/dos_time.h"
#include "host/number_text.h"

namespace kestrin {
namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11'644'473'600;

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Up to six numbers separated by "-"; the count read.
int ParseKey(std::string_view key, int numbers[6]) {
  size_t pos = 0;
  int count = 0;
  while (count < 6) {
    if (count > 0) {
      if (pos >= key.size() || key[pos] != '-') break;
      ++pos;
    }
    bool digits = false;
    numbers[count] = ReadDecimal(key, &pos, &digits);
    if (!digits) break;
    ++count;
  }
  return count;
}

}  // namespace

bool SystemTimeToFileTime(int year, int month, int day, int hour, int minute, int second,
                          FileTime* result) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return false;
  }
  if (day > (month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1])) return false;
  const int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                          second + kEpochDifference;
  *result = static_cast<FileTime>(seconds) * kTicksPerSecond;
  return true;
}

FileTime FileTimeNow() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<FileTime>(now.tv_sec + kEpochDifference) * kTicksPerSecond +
         static_cast<FileTime>(now.tv_nsec / 100);
}

InstallRecord::InstallRecord(IniFiles& files, const std::string& path) : IniFile(files, path) {}

void InstallRecord::RecordInstall(std::string_view record_name, int oem_id) const {
  RecordInstall(record_name, oem_id, FileTimeNow());
}

void InstallRecord::RecordInstall(std::string_view record_name, int oem_id, FileTime when) const {
  char value[16];
  snprintf(value, sizeof(value), "%d", oem_id);
  WriteString(record_name, FormatTimeStamp(when), value);
}

std::string InstallRecord::GetLatestEntry(std::string_view record_name,
                                          std::string* newest_key) const {
  IniSectionMap entries;
  ReadSectionMap(record_name, entries);
  FileTime newest = 0;
  std::string value;
  for (const auto& [key, entry_value] : entries) {
    int n[6] = {0, 0, 0, 0, 0, 0};
    const int count = ParseKey(key, n);
    if (count < 5) continue;
    FileTime when;
    if (!SystemTimeToFileTime(n[0], n[1], n[2], n[3], n[4], count == 6 ? n[5] : 0, &when)) continue;
    if (when > newest) {
      newest = when;
      value = entry_value;
      if (newest_key != nullptr) *newest_key = key;
    }
  }
  return value;
}

int InstallRecord::GetLatestOemId(std::string_view record_name) const {
  // "%d;": the leading number, whatever follows it.
  return ReadDecimal(GetLatestEntry(record_name));
}

std::string InstallRecord::FormatTimeStamp(FileTime when) {
  const int64_t seconds = static_cast<int64_t>(when / kTicksPerSecond) - kEpochDifference;
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  UtcTimeOf(t, &tm);
  char text[64];
  snprintf(text, sizeof(text), "%04d-%02d-%02d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min);
  return text;
}

}  // namespace kestrin
