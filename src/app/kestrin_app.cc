#include "app/kestrin_app.h"

#include <cstdio>
#include <utility>

#include "app/journaled_run.h"
#include "app/messages.h"
#include "app/system_host.h"
#include "app/ui_services.h"
#include "connections/telvor_client.h"
#include "host/product_env.h"

namespace kestrin {

CKestrinApp::CKestrinApp(std::string command_line, tDialogHooks hooks)
    : command_line_(std::move(command_line)), hooks_(std::move(hooks)) {}

int CKestrinApp::ParseCommandLine(StringList* bundles) {
  tCommandLineSwitches switches{SilentMode, ForceOverwrite, RecoverTemplates, BinDir};
  int count = kestrin::ParseCommandLine(command_line_, &switches, bundles);
  SilentMode = switches.SilentMode;
  ForceOverwrite = switches.ForceOverwrite;
  RecoverTemplates = switches.RecoverTemplates;
  BinDir = switches.BinDir;
  return count;
}

bool CKestrinApp::InitInstance() {
  // The common controls and the framework's settings key have no meaning
  // here: Kestrin keeps no settings of its own.
  StringList bundles;
  ParseCommandLine(&bundles);

  // Never write anything into an environment that names no Korvane: on
  // this platform the fallbacks would scatter files over "/" and the
  // working directory.
  std::string refusal = CheckStartConditions();
  if (!refusal.empty()) {
    fprintf(stderr, "%s\n", refusal.c_str());
    if (!SilentMode) hooks_.show_refusal(refusal);
    exit_status_ = kExitRefused;
    return false;
  }

  // Every change of a run goes through the journal, under the lock of the
  // Korvane installation.
  JournalHost journal(SystemHost(), [] {
    const std::string dir = ConnectionFileDir(SystemHost());
    return dir.empty() ? dir : dir + kConnectionFileName;
  });
  JournaledRun guard(journal);
  SilentUi silent_ui;
  if (SilentMode) {
    CProgressDlg dlg(journal.host(), bundles, SilentMode, ForceOverwrite, RecoverTemplates, BinDir,
                     silent_ui);
    dlg.SetRunGuard(&guard);
    dlg.AddInfo(msg::kSilentHeader, 1, true);
    dlg.AddInfo(ForceOverwrite ? msg::kModeForce : msg::kModeNoForce, 1, true);
    dlg.AddInfo("", 1, true);
    dlg.RunInstallation();
    exit_status_ = kExitOk;
    return false;
  }

  // The dialog provides its own user-interface services; the context is
  // built here so that both modes start from the same state.
  CProgressDlg dlg(journal.host(), bundles, SilentMode, ForceOverwrite, RecoverTemplates, BinDir,
                   silent_ui);
  dlg.SetRunGuard(&guard);
  exit_status_ = hooks_.run_dialog(dlg);
  return false;
}

}  // namespace kestrin
