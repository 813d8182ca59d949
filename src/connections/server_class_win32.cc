#include "connections/com_telvor.h"
#include "connections/server_class.h"

namespace kestrin {

std::unique_ptr<ITelvorServerClass> MakeTelvorServerClass(std::function<std::string()>) {
  return std::make_unique<ComTelvorServerClass>();
}

}  // namespace kestrin
