// What the interactive mode of the program needs of the window toolkit: the
// main dialog shown modally, and the refusal to start shown in a message
// box. The toolkit is started only when one of them is called, so the
// silent mode never touches it.
#ifndef KESTRIN_UI_GUI_ENTRY_H_
#define KESTRIN_UI_GUI_ENTRY_H_

#include <string>

#include "app/kestrin_app.h"

namespace kestrin {

// The hooks for CKestrinApp.
CKestrinApp::tDialogHooks DialogHooks();

// Starts the toolkit for this process, once. False (and `error` says why)
// when there is no display to open.
bool StartToolkit(std::string* error);
// Stops the toolkit started by StartToolkit.
void StopToolkit();

}  // namespace kestrin

#endif  // KESTRIN_UI_GUI_ENTRY_H_
