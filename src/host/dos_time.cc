#include "host/dos_time.h"

#include <algorithm>


namespace kestrin {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool DosDateTimeToTimeT(uint16_t dos_date, uint16_t dos_time, time_t* result) {
  const int year = 1980 + (dos_date >> 9);
  const int month = (dos_date >> 5) & 0x0f;
  const int day = dos_date & 0x1f;
  const int hour = dos_time >> 11;
  const int minute = (dos_time >> 5) & 0x3f;
  const int second = (dos_time & 0x1f) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;  // let the time zone rules of that date decide
  const time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1)) return false;  // no year from 1980 on gives -1
  *result = t;
  return true;
}

void TimeTToDosDateTime(time_t t, uint16_t* dos_date, uint16_t* dos_time) {
  std::tm tm{};
  int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  if (LocalTimeOf(t, &tm)) {
    year = tm.tm_year + 1900;
    month = tm.tm_mon + 1;
    day = tm.tm_mday;
    hour = tm.tm_hour;
    minute = tm.tm_min;
    second = std::min(tm.tm_sec, 59);  // a leap second
  }
  if (year < 1980) {
    year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  } else if (year > 2107) {
    year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
  }
  *dos_date = static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
  *dos_time = static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2);
}

}  // namespace kestrin
