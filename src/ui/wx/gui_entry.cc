#include "ui/gui_entry.h"

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>

#include <cstdio>
#include <cstdlib>

#include "ui/wx/main_dialog.h"
#include "ui/wx/message_box.h"

namespace kestrin {

namespace {

bool g_started = false;

// The line that tells a user without a display what to do instead.
std::string NoDisplayText(const std::string& why) {
  return "kestrin: cannot open the dialog: " + why +
         "; install without a window with kestrin /s [/f] [/r] [/i=DIR] BUNDLE.cab|DIRECTORY...";
}

}  // namespace

bool StartToolkit(std::string* error) {
  if (g_started) return true;
  const char* display = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0')) {
    *error = "no display (DISPLAY is not set)";
    return false;
  }
  // The toolkit's own complaints would add lines of their own; the caller
  // reports the failure in one.
  wxLog::EnableLogging(false);
  wxApp::SetInstance(new wxApp);
  // Only the program name: the toolkit must not read Kestrin's switches.
  static char name[] = "kestrin";
  static char* argv[] = {name, nullptr};
  int argc = 1;
  const bool started = wxEntryStart(argc, argv);
  wxLog::EnableLogging(true);
  if (!started) {
    *error = std::string("the display \"") + (display ? display : wayland) +
             "\" cannot be opened";
    return false;
  }
  g_started = true;
  return true;
}

void StopToolkit() {
  if (!g_started) return;
  wxEntryCleanup();
  g_started = false;
}

CKestrinApp::tDialogHooks DialogHooks() {
  CKestrinApp::tDialogHooks hooks;
  hooks.run_dialog = [](CProgressDlg& context) {
    std::string error;
    if (!StartToolkit(&error)) {
      fprintf(stderr, "%s\n", NoDisplayText(error).c_str());
      return kExitNoWindow;
    }
    {
      MainDialog dialog(context);
      dialog.ShowModal();
    }
    StopToolkit();
    return kExitOk;
  };
  hooks.show_refusal = [](const std::string& text) {
    std::string error;
    if (!StartToolkit(&error)) return;  // the line on standard error says it all
    ShowMessageBox(nullptr, text, "Korvane Kestrin", BoxKind::kError);
    StopToolkit();
  };
  return hooks;
}

}  // namespace kestrin
