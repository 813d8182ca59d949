// kestrinctl: plans, installs, lists, verifies, rolls back and uninstalls
// OEM driver bundles of a Korvane installation, for deployment tools and
// the people who run them. `kestrin`'s own command line stays as it is.
//
//   kestrinctl COMMAND [ARGUMENTS]   (kestrinctl --help lists the commands)
#include <string>
#include <vector>

#include "ctl/ctl_command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return kestrin::ctl::RunKestrinctl(args, kestrin::ctl::CtlOutput{});
}
