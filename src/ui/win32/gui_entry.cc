// The interactive mode on Windows: the common controls and a
// single-threaded COM apartment (the folder browser needs it), the main
// dialog shown modally, and the refusal to start in a message box.
#include "ui/gui_entry.h"

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <cstdio>

#include "ui/main_dialog_template.h"
#include "ui/win32/main_dialog.h"

namespace kestrin {

namespace {

bool g_started = false;
bool g_com = false;

}  // namespace

bool StartToolkit(std::string* error) {
  if (g_started) return true;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                        ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  if (!InitCommonControlsEx(&controls)) {
    *error = "the common controls cannot be initialised";
    return false;
  }
  const HRESULT com = OleInitialize(nullptr);
  g_com = com == S_OK || com == S_FALSE;
  g_started = true;
  return true;
}

void StopToolkit() {
  if (!g_started) return;
  if (g_com) OleUninitialize();
  g_com = false;
  g_started = false;
}

CKestrinApp::tDialogHooks DialogHooks() {
  CKestrinApp::tDialogHooks hooks;
  hooks.run_dialog = [](CProgressDlg& context) {
    std::string error;
    if (!StartToolkit(&error)) {
      fprintf(stderr, "kestrin: cannot open the dialog: %s\n", error.c_str());
      return kExitNoWindow;
    }
    INT_PTR shown;
    DWORD why = 0;
    {
      Win32MainDialog dialog(context);
      shown = dialog.RunModal();
      if (shown == -1) why = GetLastError();
    }
    StopToolkit();
    if (shown == -1) {
      fprintf(stderr, "kestrin: cannot open the dialog: template %d cannot be loaded (error %lu)\n",
              KESTRIN_IDD_MAIN, why);
      return kExitNoWindow;
    }
    return kExitOk;
  };
  hooks.show_refusal = [](const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "Korvane Kestrin", MB_OK | MB_ICONERROR);
  };
  return hooks;
}

}  // namespace kestrin
