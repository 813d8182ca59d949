// CKestrinApp: the program's start-up. It parses the command line, builds the
// installation context and either runs the silent installation at once or
// hands the context to the dialog.
#ifndef KESTRIN_APP_KESTRIN_APP_H_
#define KESTRIN_APP_KESTRIN_APP_H_

#include <functional>
#include <string>

#include "app/command_line.h"
#include "app/progress_dlg.h"

namespace kestrin {

// Exit statuses of the program. The outcome of an installation is reported
// in the log, never in the exit status.
inline constexpr int kExitOk = 0;
// Interactive mode was asked for, but no window can be shown.
inline constexpr int kExitNoWindow = 1;
// Refused to start (unusable Korvane environment or command line).
inline constexpr int kExitRefused = 2;

class CKestrinApp {
 public:
  // What the interactive mode needs from a window toolkit, given by the
  // program's main; a program built without one says so through them.
  struct tDialogHooks {
    // Shows the main dialog modally on the context (installing its
    // user-interface services with SetUi); returns the exit status.
    std::function<int(CProgressDlg&)> run_dialog;
    // Shows the refuse-to-start text in a message box.
    std::function<void(const std::string&)> show_refusal;
  };

  // `command_line` is the raw command line after the program name.
  CKestrinApp(std::string command_line, tDialogHooks hooks);

  // Reads the raw command line into the switches below and appends the
  // bundle arguments to `bundles`; returns their number.
  int ParseCommandLine(StringList* bundles);

  // The whole run of the program: parse, check the Korvane environment,
  // build the context, then the silent installation or the dialog. Always
  // false (the program ends after it); see exit_status().
  bool InitInstance();
  int exit_status() const { return exit_status_; }

  bool SilentMode = false;
  bool ForceOverwrite = false;
  bool RecoverTemplates = false;
  std::string BinDir;

 private:
  std::string command_line_;
  tDialogHooks hooks_;
  int exit_status_ = kExitOk;
};

}  // namespace kestrin

#endif  // KESTRIN_APP_KESTRIN_APP_H_
