#include "ctl/planning_host.h"

#include "host/path_resolve.h"

namespace kestrin::ctl {

std::string PathKey(std::string_view path) { return AsciiLower(path); }

bool ConnectionServerObjectsToExisting() { return false; }

}  // namespace kestrin::ctl
