// Starts the window toolkit when a display is there; the tests that need it
// skip themselves otherwise (see HaveDisplay).
#include <gtest/gtest.h>

#include "ui/gui_entry.h"
#include "ui_test.h"

namespace kestrin::testing {
namespace {
bool g_have_display = false;
}
bool HaveDisplay() { return g_have_display; }
}  // namespace kestrin::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string error;
  kestrin::testing::g_have_display = kestrin::StartToolkit(&error);
  const int result = RUN_ALL_TESTS();
  kestrin::StopToolkit();
  return result;
}
