// Helpers of the dialog tests.
#ifndef KESTRIN_TESTS_UI_UI_TEST_H_
#define KESTRIN_TESTS_UI_UI_TEST_H_

#include <wx/app.h>
#include <wx/evtloop.h>

#include <chrono>
#include <functional>
#include <thread>

namespace kestrin::testing {

bool HaveDisplay();

// Runs pending events until `done` holds, for at most `seconds` (generous:
// the machine may be loaded). Returns whether it held.
inline bool PumpUntil(const std::function<bool()>& done, double seconds = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    wxTheApp->ProcessPendingEvents();
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_ALL);
    else wxYield();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

inline void Pump() {
  for (int i = 0; i < 20; ++i) {
    wxTheApp->ProcessPendingEvents();
    wxYield();
  }
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_UI_UI_TEST_H_
