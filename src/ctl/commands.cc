// The commands kestrinctl knows, in the order --help lists them. A new
// command defines its CtlCommand in a file of its own and is added here.
#include "ctl/ctl_command.h"

namespace kestrin::ctl {

extern const CtlCommand kPlanCommand;
extern const CtlCommand kInstallCommand;
extern const CtlCommand kListCommand;
extern const CtlCommand kVerifyCommand;
extern const CtlCommand kHistoryCommand;
extern const CtlCommand kRollbackCommand;
extern const CtlCommand kUninstallCommand;

const std::vector<const CtlCommand*>& CtlCommands() {
  static const std::vector<const CtlCommand*> commands = {
      &kPlanCommand,    &kInstallCommand,  &kListCommand,      &kVerifyCommand,
      &kHistoryCommand, &kRollbackCommand, &kUninstallCommand,
  };
  return commands;
}

}  // namespace kestrin::ctl
