// The state of a test Korvane, for tests that compare it between runs.
#ifndef KESTRIN_TESTS_E2E_KORVANE_STATE_H_
#define KESTRIN_TESTS_E2E_KORVANE_STATE_H_

#include <map>
#include <regex>
#include <string>

#include "app/test_korvane.h"

namespace kestrin::testing {

using KorvaneStateMap = std::map<std::string, std::string>;

// Everything in the Korvane a run may change, as "mode content" by path,
// the sandbox's own path and the minutes of the installation record's keys
// blanked; the log and the journals left out.
inline KorvaneStateMap KorvaneState(const TestKorvane& korvane) {
  const fs::path root = korvane.root() / "korvane";
  const std::regex minute("[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{2}-[0-9]{2}=");
  KorvaneStateMap state;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (rel == "home" || rel == "Ini/OEMCAB/journal") {
      it.disable_recursion_pending();
      continue;
    }
    if (rel.ends_with("TargetDriverInstall.log")) continue;
    std::string content = std::to_string(static_cast<int>(it->status().permissions())) + " ";
    if (it->is_regular_file()) {
      std::string text = ReadFileOrDie(it->path());
      for (size_t at; (at = text.find(root.string())) != std::string::npos;) text.replace(at, root.string().size(), "ROOT");
      content += std::regex_replace(text, minute, "TIME=");
    }
    state[rel] = content;
  }
  return state;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_E2E_KORVANE_STATE_H_
