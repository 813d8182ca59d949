#include "host/dos_time.h"

namespace kestrin {

bool LocalTimeOf(time_t t, std::tm* local) { return localtime_r(&t, local) != nullptr; }

bool UtcTimeOf(time_t t, std::tm* utc) { return gmtime_r(&t, utc) != nullptr; }

}  // namespace kestrin
