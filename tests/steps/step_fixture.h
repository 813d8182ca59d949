// The step tests' fixture: a sandbox Korvane (scripts/make-sandbox) set in
// the environment, a bundle folder as preparation unpacks it, and a context
// that records the report and answers questions from a script.
#ifndef KESTRIN_TESTS_STEPS_STEP_FIXTURE_H_
#define KESTRIN_TESTS_STEPS_STEP_FIXTURE_H_

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cases.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "steps/step_context.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin::testing {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct tReported {
  std::string text;
  bool log;
  bool operator==(const tReported&) const = default;
};

class TestStepContext : public StepContext {
 public:
  void AddInfo(const std::string& text, int level, bool log) override {
    if (level < 2) reported.push_back({text, log});
  }
  bool AskYesNo(const std::string& text) override {
    EXPECT_FALSE(SilentMode) << "asked in silent mode: " << text;
    questions.push_back(text);
    if (answers.empty()) ADD_FAILURE() << "unscripted question: " << text;
    const bool answer = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
  Strings Lines() const {
    Strings lines;
    for (const tReported& line : reported) lines.push_back(line.text);
    return lines;
  }

  std::vector<tReported> reported;
  Strings questions;
  std::deque<bool> answers;  // for the coming questions, in order
};

// The default value of a key below the Korvane settings key; nothing when
// the key or its value is missing.
inline CRegistryKey SettingKey(const std::string& key) {
  return CRegistryKey(RegistryRoot::kLocalMachine, VqmGetRegistrySubKey() + key);
}
inline std::optional<std::string> Setting(const std::string& key) {
  std::string text;
  return SettingKey(key).Read(&text) == RegistryReadStatus::kOk ? std::optional(text) : std::nullopt;
}
inline void SetSetting(const std::string& key, const std::string& value) {
  ASSERT_TRUE(SettingKey(key).SetString(value));
}

class StepTest : public ::testing::Test {
 protected:
  // A bundle of OEM 42 as preparation leaves it: folders set, an
  // installation record, interactive, nothing forced.
  void SetUp() override {
    sandbox_ = MakeSandbox(dir_.path() / "korvane");
    env_ = std::make_unique<ScopedSandboxEnv>(sandbox_);
    bundle_ = dir_.path() / "bundle";
    fs::create_directories(bundle_);
    ctx_.ProductDir = ctx_.BinDir = sandbox_.product_dir;
    ctx_.ProductIniDir = sandbox_.ini_dir;
    ctx_.ProgramDataDir = sandbox_.data_dir;
    ctx_.BundleTempDir = bundle_.string();
    ctx_.OemId = 42;
    ctx_.InstallationRecord = std::make_unique<InstallRecord>(sandbox_.ini_dir + "instlog.ini");
  }

  // A file below the bundle or the sandbox folder; a name ending with "/"
  // makes a folder.
  static void Put(const fs::path& path, const std::string& content) {
    if (path.string().back() == '/') return (void)fs::create_directories(path);
    fs::create_directories(path.parent_path());
    WriteFileOrDie(path, content);
  }
  void BundleFile(const std::string& relative, const std::string& content = "") {
    Put(bundle_ / relative, content);
  }
  void KorvaneFile(const std::string& relative, const std::string& content = "") {
    Put(Korvane(relative), content);
  }
  void Mode(bool silent, bool force, const std::vector<bool>& answers = {}) {
    ctx_.SilentMode = silent;
    ctx_.ForceOverwrite = force;
    ctx_.answers.assign(answers.begin(), answers.end());
  }
  fs::path Korvane(const std::string& relative) const { return fs::path(sandbox_.dir) / relative; }
  // `lines` with {B} replaced by the bundle folder, {P} by BinDir and {D} by
  // ProgramDataDir.
  Strings Expand(Strings lines) const {
    for (std::string& line : lines) {
      for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{B}", bundle_.string()},
                                        {"{P}", ctx_.BinDir}, {"{D}", ctx_.ProgramDataDir}}) {
        for (size_t at; (at = line.find(mark)) != std::string::npos;) line.replace(at, 3, value);
      }
    }
    return lines;
  }
  // The reported lines are `expected`, expanded; an expected line ending
  // with a blank is the start of a line that goes on with a reason.
  void ExpectLines(const Strings& expected) const {
    const Strings lines = ctx_.Lines(), want = Expand(expected);
    ASSERT_EQ(lines.size(), want.size()) << ::testing::PrintToString(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
      const bool prefix = !want[i].empty() && want[i].back() == ' ';
      EXPECT_TRUE(prefix ? lines[i].size() > want[i].size() && lines[i].starts_with(want[i])
                         : lines[i] == want[i])
          << lines[i] << "\nwanted: " << want[i];
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
