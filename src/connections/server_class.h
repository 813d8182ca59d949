// The Telvor server class of the platform Kestrin is built for: on Windows
// the COM server class (server_class_win32.cc), elsewhere the file-backed
// server (server_class_posix.cc).
#ifndef KESTRIN_CONNECTIONS_SERVER_CLASS_H_
#define KESTRIN_CONNECTIONS_SERVER_CLASS_H_

#include <functional>
#include <memory>
#include <string>

#include "host/telvor.h"

namespace kestrin {

// `connection_dir` names the folder of the connection file when the server
// needs it (the file-backed one does; COM finds its own).
std::unique_ptr<ITelvorServerClass> MakeTelvorServerClass(
    std::function<std::string()> connection_dir);

}  // namespace kestrin

#endif  // KESTRIN_CONNECTIONS_SERVER_CLASS_H_
