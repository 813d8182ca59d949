// Where the program's lines go when it has no standard streams of its own.
#ifndef KESTRIN_KESTRIN_CONSOLE_H_
#define KESTRIN_KESTRIN_CONSOLE_H_

namespace kestrin {

// On Windows kestrin.exe is a GUI program, so that starting it from Explorer
// opens the dialog and no console window beside it. Started from a console,
// it then has no standard output and error unless the caller redirected
// them: the two are connected to the console of the process that started
// it, so that --help, --version and the refusal lines reach the script or
// the user who typed the command. Streams that are there are kept. On other
// systems the streams are always there and nothing is done.
void ConnectParentConsole();

}  // namespace kestrin

#endif  // KESTRIN_KESTRIN_CONSOLE_H_
