#include "ctl/exit_codes.h"

namespace kestrin::ctl {

int ExitNumber(CtlExit exit) { return static_cast<int>(exit); }

}  // namespace kestrin::ctl
