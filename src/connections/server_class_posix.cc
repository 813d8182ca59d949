#include "connections/file_server.h"
#include "connections/server_class.h"

namespace kestrin {

std::unique_ptr<ITelvorServerClass> MakeTelvorServerClass(
    std::function<std::string()> connection_dir) {
  return std::make_unique<FileTelvorServerClass>(std::move(connection_dir));
}

}  // namespace kestrin
