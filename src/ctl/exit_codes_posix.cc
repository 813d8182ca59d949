#include "ctl/exit_codes.h"

namespace kestrin::ctl {

int ExitNumber(CtlExit exit) {
  return exit == CtlExit::kRestartRequired ? 12 : static_cast<int>(exit);
}

}  // namespace kestrin::ctl
