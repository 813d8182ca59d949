// MS-DOS dates and times, as cabinets store them, and local time.
#ifndef KESTRIN_HOST_DOS_TIME_H_
#define KESTRIN_HOST_DOS_TIME_H_

#include <cstdint>
#include <ctime>

namespace kestrin {

// The local time and the UTC time of t (localtime_r and gmtime_r,
// localtime_s and gmtime_s on Windows: each platform's back end); false when
// the C library cannot give it.
bool LocalTimeOf(time_t t, std::tm* local);
bool UtcTimeOf(time_t t, std::tm* utc);

// An MS-DOS date (bits 15-9 year since 1980, 8-5 month, 4-0 day) and time
// (bits 15-11 hour, 10-5 minute, 4-0 seconds / 2), read as local time, as a
// time_t. The offset from UTC is the one in force on that date (daylight
// saving time included). False for a field out of range (month 0 or 13,
// day 0 or past the month's end, hour 24, minute 60, seconds 60 or more).
bool DosDateTimeToTimeT(uint16_t dos_date, uint16_t dos_time, time_t* result);

// The other way: t as local time in MS-DOS form, seconds rounded down to
// even. Times before 1980 become 1980-01-01 00:00:00, times after 2107 the
// last second of 2107 (the range the format has).
void TimeTToDosDateTime(time_t t, uint16_t* dos_date, uint16_t* dos_time);

}  // namespace kestrin

#endif  // KESTRIN_HOST_DOS_TIME_H_
