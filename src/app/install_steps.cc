#include "app/install_steps.h"

#include "steps/steps.h"

namespace kestrin {

namespace {

// Steps without the recovery flag.
template <StepResult (*kStep)(StepContext&)>
int Run(StepContext& context, bool) {
  return static_cast<int>(kStep(context));
}

int RunTemplates(StepContext& context, bool recover) {
  return static_cast<int>(InstallTemplates(context, recover));
}

int RunPostCommandsStep(StepContext& context, bool) { return RunPostCommands(context) ? 1 : 0; }

constexpr int R(StepResult result) { return static_cast<int>(result); }
constexpr int kDone = R(StepResult::kDone);
constexpr int kFailed = R(StepResult::kFailed);

// One row per step, in the order of the table in install_steps.h. Keep a
// blank line between rows.
const std::vector<tInstallStep>& StepTable() {
  static const std::vector<tInstallStep> table = {
      {"hardware definitions",
       25,
       Run<InstallHardwareDefinitions>,
       kDone,
       " *** Hardware installation finished ***",
       {},
       kFailed},

      {"driver libraries",
       30,
       Run<InstallDriverLibraries>,
       kDone,
       " *** Driver installation finished ***",
       {},
       kFailed},

      {"help pages",
       40,
       Run<InstallHelpPages>,
       kDone,
       " *** Help libraries successfully copied ***",
       {{kFailed, "ERROR copying help libraries", true}},
       kFailed},

      {"print forms",
       45,
       Run<InstallPrintForms>,
       kDone,
       " *** Print forms successfully copied ***",
       {{kFailed, "ERROR copying print forms", true}},
       kNoSummaryResult},

      {"samples",
       50,
       Run<InstallSamples>,
       kDone,
       " *** Samples added successfully ***",
       {},
       kFailed},

      {"libraries",
       65,
       Run<InstallLibraries>,
       kDone,
       " *** Lib-files added successfully ***",
       {{kFailed, "ERROR - No library exists in LIB folder of *.cab-file.", true},
        {R(StepResult::kNotAllCopied), "NOT ALL of the existing libs where copied.", true},
        {R(StepResult::kNoneCopied), "NONE of the existing libs where copied.", true}},
       kFailed},

      {"templates", 70, RunTemplates, kDone, " *** Templates copied successfully ***", {}, kFailed},

      {"connections",
       75,
       Run<InstallConnections>,
       kDone,
       " *** Connections installed ***",
       {{kFailed, "ERROR while setting connections.", false}},
       kFailed},

      {"OPC pane", 79, Run<EnableOpcPane>, kDone, " *** OPC Pane enabled ***", {}, kFailed},

      {"registry settings",
       82,
       Run<SetRegistrySettings>,
       kDone,
       " *** Registry entries set successfully ***",
       {},
       kNoSummaryResult},

      {"custom tools",
       85,
       Run<InstallCustomTools>,
       kDone,
       " *** Custom Tools added ***",
       {},
       kNoSummaryResult},

      {"TCP/IP timeout",
       90,
       Run<SetTcpTimeout>,
       kDone,
       " *** TCPIP Timeout set successfully ***",
       {},
       kNoSummaryResult},

      {"visible file extensions",
       93,
       Run<AddVisibleExtensions>,
       kDone,
       " *** Visible file extensions added successfully ***",
       {},
       kFailed},

      {"post commands",
       97,
       RunPostCommandsStep,
       1,
       " *** Execution of post commands finished ***",
       {},
       0},
  };
  return table;
}

}  // namespace

std::span<const tInstallStep> InstallationSteps() { return StepTable(); }

}  // namespace kestrin
