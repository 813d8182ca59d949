#include "app/install_steps.h"

#include "steps/steps.h"

namespace kestrin {

namespace {

// Steps without the recovery flag.
template <int (*kStep)(StepContext&)>
int Run(StepContext& context, bool) {
  return kStep(context);
}

int RunTemplates(StepContext& context, bool recover) { return InstallTemplates(context, recover); }

int RunPostCommandsStep(StepContext& context, bool) { return RunPostCommands(context) ? 1 : 0; }

// One row per step, in the order of the table in install_steps.h. A row
// stays commented out until its step exists: a step without a row is not
// run and nothing is reported for it. Keep a blank line between rows.
const std::vector<tInstallStep>& StepTable() {
  static const std::vector<tInstallStep> table = {
      {"hardware definitions", 25, Run<InstallHardwareDefinitions>, 0,
       " *** Hardware installation finished ***", {}, 1},

      {"driver libraries", 30, Run<InstallDriverLibraries>, 0,
       " *** Driver installation finished ***", {}, 1},

      {"help pages", 40, Run<InstallHelpPages>, 0, " *** Help libraries successfully copied ***",
       {{1, "ERROR copying help libraries", true}}, 1},

      {"print forms", 45, Run<InstallPrintForms>, 0, " *** Print forms successfully copied ***",
       {{1, "ERROR copying print forms", true}}, kNoSummaryResult},

      {"samples", 50, Run<InstallSamples>, 0, " *** Samples added successfully ***", {}, 1},

      {"libraries", 65, Run<InstallLibraries>, 0, " *** Lib-files added successfully ***",
       {{1, "ERROR - No library exists in LIB folder of *.cab-file.", true},
        {3, "NOT ALL of the existing libs where copied.", true},
        {4, "NONE of the existing libs where copied.", true}},
       1},

      {"templates", 70, RunTemplates, 0, " *** Templates copied successfully ***", {}, 1},

      {"connections", 75, Run<InstallConnections>, 0, " *** Connections installed ***",
       {{1, "ERROR while setting connections.", false}}, 1},

      {"OPC pane", 79, Run<EnableOpcPane>, 0, " *** OPC Pane enabled ***", {}, 1},

      {"registry settings", 82, Run<SetRegistrySettings>, 0,
       " *** Registry entries set successfully ***", {}, kNoSummaryResult},

      {"custom tools", 85, Run<InstallCustomTools>, 0, " *** Custom Tools added ***", {},
       kNoSummaryResult},

      {"TCP/IP timeout", 90, Run<SetTcpTimeout>, 0, " *** TCPIP Timeout set successfully ***",
       {}, kNoSummaryResult},

      {"visible file extensions", 93, Run<AddVisibleExtensions>, 0,
       " *** Visible file extensions added successfully ***", {}, 1},

      {"post commands", 97, RunPostCommandsStep, 1,
       " *** Execution of post commands finished ***", {}, 0},
  };
  return table;
}

}  // namespace

std::span<const tInstallStep> InstallationSteps() { return StepTable(); }

}  // namespace kestrin
