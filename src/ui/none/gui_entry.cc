// A program built without a window toolkit (KESTRIN_GUI=OFF): it installs
// silently and says so when the dialog is asked for.
#include "ui/gui_entry.h"

#include <cstdio>

namespace kestrin {

bool StartToolkit(std::string* error) {
  *error = "this program was built without a window toolkit";
  return false;
}

void StopToolkit() {}

CKestrinApp::tDialogHooks DialogHooks() {
  CKestrinApp::tDialogHooks hooks;
  hooks.run_dialog = [](CProgressDlg&) {
    fprintf(stderr,
            "kestrin: this program was built without the dialog; install silently with "
            "kestrin /s [/f] [/r] [/i=DIR] BUNDLE.cab|DIRECTORY...\n");
    return kExitNoWindow;
  };
  hooks.show_refusal = [](const std::string&) {};  // the line on standard error says it all
  return hooks;
}

}  // namespace kestrin
