// One installation at a time, and a run killed after any of its changes:
// the next run rolls it back and installs in full.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <regex>
#include <thread>

#include "app/journaled_run.h"
#include "e2e/korvane_state.h"
#include "e2e/run_kestrin.h"

namespace kestrin::testing {
namespace {

// The sample bundle of the project, built as its users build it.
std::string SampleBundle(const fs::path& dir) {
  const std::string cab = (dir / "FX200.CAB").string();
  const RunResult made = RunProgram({std::string(KESTRIN_SOURCE_DIR) + "/examples/make-bundle", cab});
  EXPECT_EQ(made.exit_code, 0) << made.err;
  return cab;
}

// For every N, a run ended after its Nth change (killed, or by a power loss
// that keeps every change but not the entries not yet flushed) and a second
// run leave the Korvane as one run does; the second says what it rolled back.
class JournalEndTest : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(JournalTest, JournalEndTest, ::testing::Values(false, true));

TEST_P(JournalEndTest, ARunEndedAfterAnyChangeIsRolledBackAndInstalledAgain) {
  ScopedTempDir bundles;
  const std::string cab = SampleBundle(bundles.path());
  TestKorvane once;
  RunSilent(once, {"/f", cab});
  const auto expected = KorvaneState(once);
  // Most of a run's time is the pause between two connections: four at once.
  std::atomic<int> next{1}, changes{0};
  auto work = [&] {
    for (int n = next++; changes == 0 && n < 500; n = next++) {
      TestKorvane korvane;
      std::vector<std::string> env = korvane.Environment();
      env.push_back(std::string(kExitAfterChangesVariable) + "=" + std::to_string(n));
      if (GetParam()) env.push_back(std::string(kPowerLossVariable) + "=1");
      const RunResult killed = RunKestrin({"/s", "/f", cab}, env);
      if (killed.exit_code == 0) {
        changes = n - 1;
        break;
      }
      EXPECT_EQ(killed.exit_code, 137) << killed.err;
      const Lines log = RunSilent(korvane, {cab});  // without /f: what survived without a record stays
      // The temporaries of copies whose entries were lost stay, hidden.
      auto state = KorvaneState(korvane);
      if (GetParam()) std::erase_if(state, [](const auto& e) { return std::regex_search(e.first, std::regex("/\\.[^/]*\\.kestrin-[^/]{6}$")); });
      EXPECT_EQ(state, expected) << "ended after change " << n;
      EXPECT_EQ(std::count(log.begin(), log.end(), "Rolled back the interrupted installation of FX200.CAB"), 1)
          << "ended after change " << n;
    }
  };
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i) workers.emplace_back(work);
  for (std::thread& worker : workers) worker.join();
  EXPECT_GT(changes, 30);  // the sample's modules, libraries, help, samples, registry, tools
}

// Two runs at once, each adding a module: both modules are registered.
// No lock file stays behind in the Korvane's folders.
TEST(JournalTest, ConcurrentRunsLoseNothing) {
  for (int trial = 0; trial < 4; ++trial) {
    TestKorvane korvane;
    std::vector<std::string> cabs;
    for (const char* name : {"A", "B"}) {
      const std::string cab = (korvane.root() / (std::string(name) + ".cab")).string();
      PackWithGcab(cab, {{"hw.ini", HwIni("Desc", "42", "")},
                         {std::string("MODULES/MOD") + name + ".INI", "[MODULE]\n"}});
      cabs.push_back(cab);
    }
    // One of them may say that it waits.
    RunResult first;
    std::thread other([&] { first = RunKestrin({"/s", cabs[0]}, korvane.Environment()); });
    const RunResult second = RunKestrin({"/s", cabs[1]}, korvane.Environment());
    other.join();
    EXPECT_EQ(first.exit_code + second.exit_code, 0);
    const std::string modules = ReadFileOrDie(korvane.ini_dir() / "MODULES" / "MODULES.INI");
    EXPECT_NE(modules.find("MODA=MODA.INI"), std::string::npos) << modules;
    EXPECT_NE(modules.find("MODB=MODB.INI"), std::string::npos) << modules;
    EXPECT_NE(modules.find("Count=2"), std::string::npos) << modules;
    for (const auto& entry : fs::recursive_directory_iterator(korvane.ini_dir()))
      EXPECT_NE(entry.path().extension(), ".lock") << entry.path();
  }
}

// A run that finds the installation locked says so once and waits.
TEST(JournalTest, ARunWaitsForTheLock) {
  TestKorvane korvane;
  FileLock held;
  ASSERT_EQ(held.Take(KorvaneLockPath(korvane.ini_dir().string()), false, nullptr), FileLock::Outcome::kHeld);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    held.Release();
  });
  std::vector<std::string> args = {"/s", Bundle(korvane, "in/abc.cab")};
  const RunResult run = RunKestrin(args, korvane.Environment());
  release.join();
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "kestrin: Another installation into this Korvane is running; waiting for it to end.\n");
  EXPECT_TRUE(fs::exists(korvane.ini_dir() / "MODULES" / "M.INI"));
}

}  // namespace
}  // namespace kestrin::testing
