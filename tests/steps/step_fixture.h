// One fixture for the step tests: a sandbox Korvane (scripts/make-sandbox)
// pointed at through the environment, a bundle folder laid out file by file
// as preparation would have unpacked it, and a StepContext that records the
// report and answers questions from a script.
#ifndef KESTRIN_TESTS_STEPS_STEP_FIXTURE_H_
#define KESTRIN_TESTS_STEPS_STEP_FIXTURE_H_

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/cases.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "steps/step_context.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin::testing {

namespace fs = std::filesystem;

struct tReported {
  std::string text;
  bool log;
  bool operator==(const tReported&) const = default;
};

class TestStepContext : public StepContext {
 public:
  void AddInfo(const std::string& text, int level, bool log) override {
    if (level >= 2) return;
    reported.push_back({text, log});
  }
  bool AskYesNo(const std::string& text) override {
    EXPECT_FALSE(SilentMode) << "asked in silent mode: " << text;
    questions.push_back(text);
    if (answers.empty()) {
      ADD_FAILURE() << "unscripted question: " << text;
      return false;
    }
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const tReported& line : reported) lines.push_back(line.text);
    return lines;
  }

  std::vector<tReported> reported;
  std::vector<std::string> questions;
  std::deque<bool> answers;  // for the coming questions, in order
};

// An item installed before, met interactively: who recorded it, the
// answers, whether the bundle's copy lands. The hardware, driver and sample
// tests check the question and that all of the item follows the decision;
// silent mode with and without /f: StepsRunTest.
struct tOverwriteCase {
  const char* name;
  int recorded_oem;
  std::vector<bool> answers;
  bool overwritten;
};

inline const tOverwriteCase kOverwriteCases[] = {
    {"SameOemNoQuestion", 42, {}, true},
    {"OtherOemYes", 7, {true}, true},
    {"OtherOemNo", 7, {false}, false},
};

// The default value of a key below the Korvane settings key in the registry
// store; nothing when the key or its value is missing.
inline std::optional<std::string> Setting(const std::string& key) {
  std::string text;
  if (CRegistryKey(RegistryRoot::kLocalMachine, VqmGetRegistrySubKey() + key).Read(&text) !=
      RegistryReadStatus::kOk) {
    return std::nullopt;
  }
  return text;
}
inline void SetSetting(const std::string& key, const std::string& value) {
  const std::string path = VqmGetRegistrySubKey() + key;
  ASSERT_TRUE(CRegistryKey(RegistryRoot::kLocalMachine, path).SetString(value));
}

class StepTest : public ::testing::Test {
 protected:
  // Lays out the sandbox and a context as preparation leaves it for a
  // bundle of OEM 42: directories set, an installation record, silent mode
  // off, nothing forced.
  void SetUp() override {
    sandbox_ = MakeSandbox(dir_.path() / "korvane");
    env_ = std::make_unique<ScopedSandboxEnv>(sandbox_);
    bundle_ = dir_.path() / "bundle";
    fs::create_directories(bundle_);
    ctx_.ProductDir = sandbox_.product_dir;
    ctx_.ProductIniDir = sandbox_.ini_dir;
    ctx_.ProgramDataDir = sandbox_.data_dir;
    ctx_.BundleTempDir = bundle_.string();
    ctx_.BinDir = sandbox_.product_dir;
    ctx_.OemId = 42;
    ctx_.InstallationRecord = std::make_unique<InstallRecord>(sandbox_.ini_dir + "instlog.ini");
  }

  void BundleFile(const std::string& relative, const std::string& content = "") {
    fs::create_directories((bundle_ / relative).parent_path());
    WriteFileOrDie(bundle_ / relative, content);
  }
  void KorvaneFile(const std::string& relative, const std::string& content = "") {
    fs::create_directories((fs::path(sandbox_.dir) / relative).parent_path());
    WriteFileOrDie(fs::path(sandbox_.dir) / relative, content);
  }
  // Silent mode, /f and the answers to the coming questions.
  void Mode(bool silent, bool force, const std::vector<bool>& answers = {}) {
    ctx_.SilentMode = silent;
    ctx_.ForceOverwrite = force;
    ctx_.answers.assign(answers.begin(), answers.end());
  }
  fs::path Korvane(const std::string& relative) const { return fs::path(sandbox_.dir) / relative; }
  // `lines` with {B} replaced by the bundle folder, {P} by BinDir and {D} by
  // ProgramDataDir.
  std::vector<std::string> Expand(std::vector<std::string> lines) const {
    for (std::string& line : lines) {
      for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{B}", bundle_.string()},
                                        {"{P}", ctx_.BinDir}, {"{D}", ctx_.ProgramDataDir}}) {
        for (size_t at; (at = line.find(mark)) != std::string::npos;) line.replace(at, 3, value);
      }
    }
    return lines;
  }
  // The reported lines are `expected`, expanded; an expected line that ends
  // with a blank is the start of a line that goes on with a reason.
  void ExpectLines(const std::vector<std::string>& expected) const {
    const std::vector<std::string> lines = ctx_.Lines(), want = Expand(expected);
    ASSERT_EQ(lines.size(), want.size()) << ::testing::PrintToString(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (want[i].empty() || want[i].back() != ' ') {
        EXPECT_EQ(lines[i], want[i]);
      } else {
        EXPECT_EQ(lines[i].rfind(want[i], 0), 0u) << lines[i];
        EXPECT_GT(lines[i].size(), want[i].size()) << lines[i];
      }
    }
  }

  ScopedTempDir dir_;
  Sandbox sandbox_;
  std::unique_ptr<ScopedSandboxEnv> env_;
  fs::path bundle_;
  TestStepContext ctx_;
};

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_STEPS_STEP_FIXTURE_H_
