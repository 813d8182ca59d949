#include "ctl/planning_host.h"

namespace kestrin::ctl {

std::string PathKey(std::string_view path) { return std::string(path); }

bool ConnectionServerObjectsToExisting() { return true; }

}  // namespace kestrin::ctl
