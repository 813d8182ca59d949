#include "app/kestrin_app.h"

#include <cstdio>
#include <utility>

#include "app/messages.h"
#include "app/ui_services.h"
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
    if (!SilentMode && hooks_.show_refusal) hooks_.show_refusal(refusal);
    exit_status_ = kExitRefused;
    return false;
  }

  SilentUi silent_ui;
  if (SilentMode) {
    CProgressDlg dlg(bundles, SilentMode, ForceOverwrite, RecoverTemplates, BinDir, silent_ui);
    dlg.AddInfo(msg::kSilentHeader, 1, true);
    dlg.AddInfo(ForceOverwrite ? msg::kModeForce : msg::kModeNoForce, 1, true);
    dlg.AddInfo("", 1, true);
    dlg.RunInstallation();
    exit_status_ = kExitOk;
    return false;
  }

  if (!hooks_.run_dialog) {
    fprintf(stderr,
            "kestrin: this build has no window yet; install silently with "
            "kestrin /s [/f] [/r] [/i=DIR] BUNDLE.cab|DIRECTORY...\n");
    exit_status_ = kExitNoWindow;
    return false;
  }
  // The dialog provides its own user-interface services; the context is
  // built here so that both modes start from the same state.
  CProgressDlg dlg(bundles, SilentMode, ForceOverwrite, RecoverTemplates, BinDir, silent_ui);
  exit_status_ = hooks_.run_dialog(dlg);
  return false;
}

}  // namespace kestrin
