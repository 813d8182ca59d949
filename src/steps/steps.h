// The installation steps, in the order a run executes them. Each reads its
// input below the context's BundleTempDir, reports its own detail lines
// and answers a result; the run (app/install_steps.cc) reports what a
// result means.
#ifndef KESTRIN_STEPS_STEPS_H_
#define KESTRIN_STEPS_STEPS_H_

#include "steps/step_context.h"

namespace kestrin {

// What a step answers. The numbers are those the run's table of messages
// (and the log's readers) know; a step's own comment says which it gives.
enum class StepResult {
  kDone = 0,
  kFailed = 1,        // for the libraries: the LIB folder holds no library
  kNothingToDo = 2,   // the bundle brings nothing for this step
  kDeclined = 3,      // help pages, print forms: the existing OEM folder is kept
  kNotAllCopied = 3,  // libraries: some were not copied
  kNoneCopied = 4,    // libraries: none was copied
};

// Files: hardware definitions, driver libraries, help pages (kDeclined),
// print forms (kDeclined), samples, libraries (every result) and templates.
StepResult InstallHardwareDefinitions(StepContext& context);
StepResult InstallDriverLibraries(StepContext& context);
StepResult InstallHelpPages(StepContext& context);
StepResult InstallPrintForms(StepContext& context);
StepResult InstallSamples(StepContext& context);
StepResult InstallLibraries(StepContext& context);
StepResult InstallTemplates(StepContext& context, bool recover);

// Online connections on the connection server.
StepResult InstallConnections(StepContext& context);

// Settings and programs.
StepResult EnableOpcPane(StepContext& context);
StepResult SetRegistrySettings(StepContext& context);
StepResult InstallCustomTools(StepContext& context);
StepResult SetTcpTimeout(StepContext& context);
StepResult AddVisibleExtensions(StepContext& context);
// True when every post command started.
bool RunPostCommands(StepContext& context);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_STEPS_H_
