#include "host/dos_time.h"

namespace kestrin {

bool LocalTimeOf(time_t t, std::tm* local) { return localtime_s(local, &t) == 0; }

bool UtcTimeOf(time_t t, std::tm* utc) { return gmtime_s(utc, &t) == 0; }

}  // namespace kestrin
