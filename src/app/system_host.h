// The machine's own Host: the file system, INI files, registry, processes,
// libraries and settings of this platform (src/host), the cabinet decoder
// (src/bundle) and the platform's connection server (src/connections).
#ifndef KESTRIN_APP_SYSTEM_HOST_H_
#define KESTRIN_APP_SYSTEM_HOST_H_

#include "host/host.h"

namespace kestrin {

// One per process, made at the first call.
Host& SystemHost();

}  // namespace kestrin

#endif  // KESTRIN_APP_SYSTEM_HOST_H_
