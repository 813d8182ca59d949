// Random sequences of generated bundles (overlapping modules, samples,
// registry values and custom tools; two vendors, with and without /f),
// undone again with kestrinctl: each undo must give back the Korvane of the
// matching earlier moment.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "e2e/korvane_state.h"
#include "e2e/run_kestrin.h"

namespace kestrin::testing {
namespace {

constexpr int kSequences = 6;
constexpr int kBundles = 4;

// "B<index>.CAB" (appended piece by piece: g++ 12 warns wrongly about the sum).
std::string BundleFile(int index) {
  std::string name("B");
  name.append(std::to_string(index)).append(".CAB");
  return name;
}

struct tGenerated {
  std::string cab;
  bool force;
};

// Bundle `index` of sequence `rng`: 1 or 2 of three modules, maybe one of
// two samples, one of two registry values, maybe a custom tool.
tGenerated Generate(std::mt19937& rng, const TestKorvane& korvane, int index) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string oem = pick(2) == 0 ? "42" : "77";
  const std::string tag = std::to_string(index) + "-" + std::to_string(rng() % 1000);
  std::string extra = "[REGISTRY_SETTING]\nCOUNT=1\nPATH1=Model\\V";
  extra.append(std::to_string(pick(2))).append("\nVALUE1=").append(tag).append("\n");
  if (pick(2) == 0) extra += "[CUST-TOOLS]\nFILE1=/opt/tool" + std::to_string(pick(2)) + "\nTitle1=Tool " + tag + "\n";
  cab::testing::NamedContents files = {{"hw.ini", HwIni("Model " + tag, oem, "", extra)}};
  const int first = pick(3);
  for (int m = 0; m <= pick(2); ++m) {
    files.push_back({"MODULES/M" + std::to_string((first + m) % 3) + ".INI", "[MODULE]\nby=" + tag + "\n"});
  }
  if (pick(2) == 0) files.push_back({"SAMPLES/S" + std::to_string(pick(2)) + "/demo.kvp", tag});
  const std::string cab = (korvane.root() / BundleFile(index)).string();
  PackWithGcab(cab, files);
  return {cab, pick(2) == 0};
}

// Every module definition file in the Korvane is listed in MODULES.INI (a
// numbered key up to "Count" naming a key that names the file), and every
// listed file is there.
void ExpectModulesRegistered(const KorvaneStateMap& state, const std::string& when) {
  const std::string folder = "Ini/MODULES/", registry = state.count(folder + "MODULES.INI") ? state.at(folder + "MODULES.INI") : "";
  std::smatch count, file;
  std::regex_search(registry, count, std::regex("\nCount=([0-9]+)"));
  std::set<std::string> listed, present;
  const std::regex numbered("\nModule([0-9]+)=([^\r\n]+)");
  for (std::sregex_iterator m(registry.begin(), registry.end(), numbered), end; m != end; ++m) {
    if (std::stoi((*m)[1]) <= std::stoi("0" + count[1].str()) &&
        std::regex_search(registry, file, std::regex("\n" + (*m)[2].str() + "=([^\r\n]+)")))
      listed.insert(file[1]);
  }
  for (const auto& [path, content] : state) {
    const std::string name = path.substr(std::min(path.size(), folder.size()));
    if (path.starts_with(folder) && name.ends_with(".INI") && name.find('/') == std::string::npos && name != "MODULES.INI")
      present.insert(name);
  }
  EXPECT_EQ(listed, present) << when << "\n" << registry;
}

RunResult Ctl(const TestKorvane& korvane, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"env"};
  for (const std::string& assignment : korvane.Environment()) argv.push_back(assignment);
  argv.push_back(KESTRINCTL_PROGRAM);
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv);
}

// Installs a generated sequence; the state before each bundle, and after all.
std::vector<KorvaneStateMap> InstallSequence(unsigned seed, const TestKorvane& korvane) {
  std::mt19937 rng(seed);
  std::vector<KorvaneStateMap> states{KorvaneState(korvane)};
  for (int i = 1; i <= kBundles; ++i) {
    const tGenerated bundle = Generate(rng, korvane, i);
    std::vector<std::string> args;
    if (bundle.force) args.push_back("/f");
    args.push_back(bundle.cab);
    RunSilent(korvane, args);
    states.push_back(KorvaneState(korvane));
  }
  return states;
}

// Rolling back the last run, then uninstalling the others newest first,
// gives back the state before each.
TEST(ModelTest, ReverseUndoReturnsEachEarlierState) {
  for (unsigned seed = 1; seed <= kSequences; ++seed) {
    TestKorvane korvane;
    const std::vector<KorvaneStateMap> before = InstallSequence(seed, korvane);
    RunResult undo = Ctl(korvane, {"rollback"});
    ASSERT_EQ(undo.exit_code, 0) << undo.err;
    EXPECT_EQ(KorvaneState(korvane), before[kBundles - 1]) << "seed " << seed << ", rollback";
    for (int i = kBundles - 1; i >= 1; --i) {
      undo = Ctl(korvane, {"uninstall", BundleFile(i)});
      ASSERT_EQ(undo.exit_code, 0) << undo.err;
      EXPECT_EQ(KorvaneState(korvane), before[i - 1]) << "seed " << seed << ", uninstall " << i;
    }
  }
}

// Uninstalling one from the middle: each file no later run touched returns
// to its state before that bundle; files later runs changed stay as they are.
TEST(ModelTest, MiddleUninstallLeavesWhatLaterRunsChanged) {
  const std::set<std::string> shared = {"Ini/instlog.ini", "Ini/MODULES/MODULES.INI",
                                        "Ini/System/CUSTTOOL.INI", "registry.reg"};
  for (unsigned seed = 1; seed <= kSequences; ++seed) {
    TestKorvane korvane;
    const std::vector<KorvaneStateMap> states = InstallSequence(seed, korvane);
    const int middle = 2;
    const RunResult undo = Ctl(korvane, {"uninstall", BundleFile(middle)});
    ASSERT_EQ(undo.exit_code, 0) << undo.err;
    const KorvaneStateMap after = KorvaneState(korvane), &last = states[kBundles];
    ExpectModulesRegistered(after, "seed " + std::to_string(seed) + ", uninstall " + std::to_string(middle));
    const KorvaneStateMap &own = states[middle], &earlier = states[middle - 1];
    std::set<std::string> paths;
    for (const auto* state : {&after, &last, &earlier}) {
      for (const auto& [path, content] : *state) paths.insert(path);
    }
    for (const std::string& path : paths) {
      auto at = [&](const KorvaneStateMap& state) {
        const auto it = state.find(path);
        return it == state.end() ? std::string("(none)") : it->second;
      };
      // The stores many runs share are checked by the reverse test; a
      // folder stays while a later run's file lies in it.
      if (shared.count(path) != 0 || fs::is_directory(korvane.root() / "korvane" / path)) continue;
      // File contents name their bundle: a later write shows.
      EXPECT_EQ(at(after), at(own) == at(last) ? at(earlier) : at(last)) << "seed " << seed << ": " << path;
    }
  }
}

// A help page that a later bundle took over stays registered when the
// bundle that registered it is uninstalled.
TEST(ModelTest, UninstallLeavesTheHelpNodeOfAPageALaterRunTookOver) {
  TestKorvane korvane;
  for (const std::string name : {"A", "B"}) {
    const std::string cab = (korvane.root() / (name + ".CAB")).string();
    PackWithGcab(cab, {{"hw.ini", HwIni("Desc", "42", "")}, {"HELP/HELP.INI", "[Helpnodes]\np.htm=Page\n"}, {"HELP/p.htm", name}});
    RunSilent(korvane, {"/f", cab});
  }
  const std::string registry = KorvaneState(korvane).at("registry.reg");
  ASSERT_NE(registry.find("p.htm"), std::string::npos) << registry;
  const RunResult undo = Ctl(korvane, {"uninstall", "A.CAB"});
  ASSERT_EQ(undo.exit_code, 0) << undo.err;
  EXPECT_EQ(KorvaneState(korvane).at("registry.reg"), registry);
}

}  // namespace
}  // namespace kestrin::testing
