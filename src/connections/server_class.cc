#include "connections/server_class.h"

#ifdef _WIN32
#include "connections/win32/com_telvor.h"
#else
#include "connections/file_server.h"
#endif

namespace kestrin {

std::unique_ptr<ITelvorServerClass> MakeTelvorServerClass() {
#ifdef _WIN32
  return std::make_unique<ComTelvorServerClass>();
#else
  return std::make_unique<FileTelvorServerClass>();
#endif
}

}  // namespace kestrin
