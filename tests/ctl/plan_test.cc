// kestrinctl plan: for generated sequences of bundles (shared module files
// and sample folders, other vendors, files nobody recorded, --force or not,
// refused bundles), the plan leaves the Korvane as it was, and installing
// the same sequence then changes exactly what the plan said, to the byte.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <regex>

#include "app/test_korvane.h"
#include "ctl/bundle_run.h"
#include "ctl/ctl_command.h"
#include "ctl/planning_host.h"
#include "ctl/run_ctl.h"
#include "app/system_host.h"
#include "support/json_read.h"

namespace kestrin::testing {
namespace {

using State = std::map<std::string, std::string>;  // relative path -> content ("/" ends a folder)

// The Korvane's files and folders; with `all`, its log, registry store and
// the empty sidecar files the locked writes leave (".lock") too.
// The minute of the installation record's keys is masked: a plan and the
// run after it may fall into different minutes.
State Snapshot(const TestKorvane& korvane, bool all) {
  static const std::regex minute(R"(\d{4}-\d\d-\d\d-\d\d-\d\d=)");
  const fs::path root = korvane.root() / "korvane";
  State state;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(entry.path(), root).string();
    // The run's journal is no change a plan lists.
    if (!all && rel.starts_with("Ini/OEMCAB/journal")) continue;
    if (entry.is_directory()) {
      state[rel + "/"] = "";
    } else if (all || (entry.path() != korvane.log() && entry.path() != korvane.registry() &&
                       entry.path().extension() != ".lock")) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      state[rel] = std::regex_replace(content, minute, "T=");
    }
  }
  return state;
}

// `before` with the plan's changes applied.
State Planned(const TestKorvane& korvane, State state, ctl::PlanningHost& plan) {
  static const std::regex minute(R"(\d{4}-\d\d-\d\d-\d\d-\d\d=)");
  const fs::path root = korvane.root() / "korvane";
  auto rel = [&](const std::string& path) { return fs::relative(path, root).string(); };
  for (const auto& [path, content] : plan.FinalFiles()) {
    if (content) state[rel(path)] = std::regex_replace(*content, minute, "T=");
    else state.erase(rel(path));
  }
  for (const ctl::tPlannedChange& c : plan.Changes()) {
    if (c.kind != "folder") continue;
    if (c.action == "create") state[rel(c.target) + "/"] = "";
    else state.erase(rel(c.target) + "/");
  }
  return state;
}

std::string Pick(std::mt19937& rng, std::initializer_list<const char*> choices) {
  return *(choices.begin() + rng() % choices.size());
}

TEST(PlanTest, PlanEqualsWhatTheInstallationChanges) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    TestKorvane korvane;
    korvane.ApplyEnvironment();
    if (rng() % 2) WriteFileOrDie(fs::path(korvane.ini_dir()) / "MODULES/A.INI", "[MODULE]\n;nobody's\n");
    ctl::tRunRequest request;
    request.force = rng() % 2;
    const int bundles = 1 + static_cast<int>(rng() % 3);
    for (int b = 0; b < bundles; ++b) {
      const std::string oem = Pick(rng, {"42", "43", "0"});
      std::string extra = rng() % 6 == 0 ? "MINIMUM_VERSION=9\n" : "";
      cab::testing::NamedContents files;
      for (const char* module : {"A.INI", "B.INI"})
        if (rng() % 2) files.push_back({std::string("MODULES/") + module, "[MODULE]\n;" + std::to_string(rng() % 3) + "\n"});
      for (const char* sample : {"S1", "S2"})
        if (rng() % 2) files.push_back({std::string("SAMPLES/") + sample + "/x.pro", std::to_string(rng() % 3)});
      if (rng() % 2)
        extra += "[REGISTRY_SETTING]\nCOUNT=1\nPATH1=Plan\\K" + std::to_string(rng() % 2) +
                 "\nVALUE1=v" + std::to_string(rng() % 3) + "\n";
      files.push_back({"hw.ini", HwIni("b" + std::to_string(b), oem, "", extra)});
      request.operands.push_back((korvane.root() / ("in/b" + std::to_string(b) + ".cab")).string());
      PackWithGcab(request.operands.back(), files);
    }

    const State before = Snapshot(korvane, true);
    ctl::PlanningHost plan(SystemHost());
    ctl::CtlOutput quiet{tmpfile(), tmpfile()};
    std::vector<ctl::tBundleResult> planned_results;
    const ctl::CtlExit planned_exit = ctl::RunBundles(plan.host(), request, &planned_results, quiet,
                                                   [&](const std::string& b, const char* p) { plan.SetPhase(b, p); });
    fclose(quiet.out);
    fclose(quiet.err);
    ASSERT_EQ(Snapshot(korvane, true), before) << "the plan changed something";

    std::vector<std::string> args = {"install"};
    if (request.force) args.push_back("--force");
    args.insert(args.end(), request.operands.begin(), request.operands.end());
    ctl::CtlOutput io{tmpfile(), tmpfile()};
    EXPECT_EQ(ctl::RunKestrinctl(args, io), ctl::ExitNumber(planned_exit));
    fclose(io.out);
    fclose(io.err);

    State expected = Planned(korvane, before, plan);
    for (const fs::path& ignored : {korvane.log(), korvane.registry()})
      expected.erase(fs::relative(ignored, korvane.root() / "korvane").string());
    EXPECT_EQ(Snapshot(korvane, false), expected);
    std::map<std::string, std::string> registry;  // the last value planned for each key
    for (const ctl::tPlannedChange& c : plan.Changes())
      if (c.kind == "registry") registry[c.target] = c.detail;
    for (const auto& [key, text] : registry)
      EXPECT_EQ(SystemHost().registry.ReadValue(key, "").text, text) << key;
    const bool registry_planned = !registry.empty();
    EXPECT_EQ(Snapshot(korvane, true).at("registry.reg") != before.at("registry.reg"),
              registry_planned);
  }
}

// The plan as a document: results and changes read back by a JSON parser.
TEST(PlanTest, JsonDocument) {
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  const std::string bundle = Bundle(korvane, "in/abc.cab", "", "REQUIRE_RESTART=1\n");
  const ctl::Captured run = ctl::RunCtl({"plan", "--json", bundle});
  EXPECT_EQ(run.status, 12);
  const std::string& text = run.out;
  auto doc = ReadJson(text);
  EXPECT_EQ(doc["command"], "plan");
  EXPECT_EQ(doc["bundles.0.restart_required"], "true");
  std::set<std::string> changes;
  for (int i = 0; doc.count("changes." + std::to_string(i) + ".kind"); ++i) {
    const std::string at = "changes." + std::to_string(i) + ".";
    changes.insert(doc[at + "kind"] + " " + doc[at + "action"] + " " +
                   fs::relative(doc[at + "target"], korvane.root() / "korvane").string() + " " +
                   (doc[at + "bundle"] == bundle ? "<bundle> " : doc[at + "bundle"]) + doc[at + "phase"]);
  }
  EXPECT_TRUE(changes.count("file create Ini/MODULES/M.INI <bundle> hardware definitions")) << text;
  EXPECT_TRUE(changes.count("file create Ini/OEMCAB/abc.cab ")) << text;
  EXPECT_FALSE(fs::exists(korvane.log()));
}

// After an installation the plan of the same bundle finds it up to date
// (the connections step fails then as it would: the connection exists),
// until one thing the bundle installed differs.
TEST(PlanTest, AnInstalledBundleIsUpToDateUntilSomethingDiffers) {
  const std::string extra =
      "[CONNECTIONS]\nCOUNT=1\nCONNECTION1=Hall\n[Hall]\nDRIVERNAME=Eth\nDRIVERID=56-1234\nTIMEOUT=3000\n"
      "VALUES=V\n[V]\nIpAddress=10.0.0.2\n[REGISTRY_SETTING]\nCOUNT=1\nPATH1=Up\\K\nVALUE1=v\n"
      "[VISIBLE_EXTENSIONS]\nEXT=.up\n";
  const struct {
    const char* name;
    std::function<void(const TestKorvane&)> disturb;
    bool up_to_date;
  } cases[] = {
      {"installed in an earlier minute",
       [](const TestKorvane& k) {
         const fs::path record = fs::path(k.ini_dir()) / "instlog.ini";
         WriteFileOrDie(record, std::regex_replace(ReadFileOrDie(record), std::regex(R"(\d{4}-)"), "2020-"));
       },
       true},
      {"module file changed",
       [](const TestKorvane& k) { WriteFileOrDie(fs::path(k.ini_dir()) / "MODULES/M.INI", "[MODULE]\n;x\n"); },
       false},
      {"registry value changed",
       [](const TestKorvane&) {
         std::vector<tRegistryWrite> writes = {{SystemHost().machine.SettingsSubKey() + "Up\\K", "w", false, {}}};
         ASSERT_TRUE(SystemHost().registry.SetDefaultValues(writes, nullptr));
       },
       false},
      {"connection changed",
       [](const TestKorvane& k) {
         const fs::path con = fs::path(k.root()) / "korvane/Data/telvor.con";
         std::string text = ReadFileOrDie(con);
         text.replace(text.find("10.0.0.2"), 8, "10.0.0.3");
         WriteFileOrDie(con, text);
       },
       false},
      {"module owned by another vendor",
       [](const TestKorvane& k) {
         WriteFileOrDie(fs::path(k.ini_dir()) / "instlog.ini", "[$MODULES\\M.INI]\n2030-01-01-00-00=43\n");
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestKorvane korvane;
    korvane.ApplyEnvironment();
    const std::string bundle = Bundle(korvane, "in/up.cab", "", extra);
    const ctl::Captured install = ctl::RunCtl({"install", bundle});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    c.disturb(korvane);
    const ctl::Captured plan = ctl::RunCtl({"plan", "--json", bundle});
    auto doc = ReadJson(plan.out);
    EXPECT_EQ(doc["bundles.0.up_to_date"], c.up_to_date ? "true" : "false") << plan.out;
    if (c.up_to_date) {
      EXPECT_EQ(doc["bundles.0.failed_steps.0"], "connections") << plan.out;
    }
  }
}

}  // namespace
}  // namespace kestrin::testing
