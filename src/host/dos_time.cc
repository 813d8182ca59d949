#include "host/dos_time.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "host/path_resolve.h"

namespace kestrin {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

void Fail(FsError* error, const std::string& path, int err) {
  if (error == nullptr || !error->text.empty()) return;
  error->path = path;
  error->text = "cannot set the time of " + path + ": " + std::strerror(err);
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

bool TimeTToDosDateTime(time_t t, uint16_t* dos_date, uint16_t* dos_time) {
  struct tm tm;
  if (localtime_r(&t, &tm) == nullptr) return false;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  *dos_date = static_cast<uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  // A leap second (60) is kept within the 5-bit field.
  const int half_seconds = (tm.tm_sec > 59 ? 59 : tm.tm_sec) / 2;
  *dos_time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | half_seconds);
  return true;
}

bool SetModificationTime(const std::string& path, time_t t, FsError* error) {
  const std::string target = ResolvePath(path);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  if (utimensat(AT_FDCWD, target.c_str(), times, 0) != 0) {
    Fail(error, target, errno);
    return false;
  }
  return true;
}

bool SetDosFileTime(const std::string& path, uint16_t dos_date, uint16_t dos_time,
                    FsError* error) {
  time_t t;
  if (!DosDateTimeToTimeT(dos_date, dos_time, &t)) {
    Fail(error, path, EINVAL);
    return false;
  }
  return SetModificationTime(path, t, error);
}

}  // namespace kestrin
