// The installation run with bundles whose names hold "*" or "?": the archive
// copy and the removal of the temporary folder touch that one bundle only,
// never the bundles or temporary folders its name would match as a pattern.
#include <gtest/gtest.h>

#include <set>

#include "app/progress_dlg.h"
#include "app/scripted_ui.h"
#include "app/test_korvane.h"

namespace kestrin {
namespace {

using namespace kestrin::testing;  // NOLINT

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) names.insert(entry.path().filename());
  return names;
}

TEST(HostileRunTest, WildcardBundleNamesAreTakenLiterally) {
  struct Case {
    const char* bundle;     // installed
    const char* neighbour;  // a bundle beside it that its name matches as a pattern
    const char* other_temp;  // another bundle's temporary folder it matches
  };
  const std::vector<Case> cases = {
      {"w*.cab", "wx.cab", "WZ.CAB"},
      {"w?.cab", "wz.cab", "WX.CAB"},
      {"[*].cab", "[a].cab", "[B].CAB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bundle);
    TestKorvane korvane;
    korvane.ApplyEnvironment();
    const std::string bundle = Bundle(korvane, std::string("bundles/") + c.bundle);
    Bundle(korvane, std::string("bundles/") + c.neighbour);
    fs::create_directories(korvane.temp_root() / c.other_temp);
    WriteFileOrDie(korvane.temp_root() / c.other_temp / "hw.ini", "[OEMDriverDisk]\n");

    ScriptedUi ui;
    ui.SetSelection({bundle});
    CProgressDlg dlg(StringList{}, false, false, false, "", ui);
    dlg.SetStepTable({});
    dlg.RunInstallation();

    EXPECT_EQ(Names(korvane.oemcab()), (std::set<std::string>{c.bundle, "TargetDriverInstall.log"}));
    EXPECT_TRUE(fs::exists(korvane.temp_root() / c.other_temp / "hw.ini"));
    EXPECT_FALSE(fs::exists(korvane.temp_root() / c.bundle));
    const Lines log = LogTexts(korvane.log());
    EXPECT_EQ(Lines(log.end() - 3, log.end()), kCompletionLines);
  }
}

}  // namespace
}  // namespace kestrin
