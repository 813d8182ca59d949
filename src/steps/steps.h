// The installation steps, in the order a run executes them. Each reads its
// input below the context's BundleTempDir, reports its own detail lines
// and answers a result code; the run (app/install_steps.cc) reports what a
// result means.
#ifndef KESTRIN_STEPS_STEPS_H_
#define KESTRIN_STEPS_STEPS_H_

#include "steps/step_context.h"

namespace kestrin {

// Files: hardware definitions, driver libraries, help pages, print forms,
// samples, libraries and templates.
int InstallHardwareDefinitions(StepContext& context);
int InstallDriverLibraries(StepContext& context);
int InstallHelpPages(StepContext& context);
int InstallPrintForms(StepContext& context);
int InstallSamples(StepContext& context);
int InstallLibraries(StepContext& context);
int InstallTemplates(StepContext& context, bool recover);

// Online connections on the connection server.
int InstallConnections(StepContext& context);

// Settings and programs.
int EnableOpcPane(StepContext& context);
int SetRegistrySettings(StepContext& context);
int InstallCustomTools(StepContext& context);
int SetTcpTimeout(StepContext& context);
int AddVisibleExtensions(StepContext& context);
bool RunPostCommands(StepContext& context);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_STEPS_H_
