// The step tests' fixture: a Korvane in memory (support/fake_host.h), a
// bundle folder as preparation unpacks it (/bundle), and a context that
// records the report and answers questions from a script.
#ifndef KESTRIN_TESTS_STEPS_STEP_FIXTURE_H_
#define KESTRIN_TESTS_STEPS_STEP_FIXTURE_H_

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cases.h"
#include "steps/step_context.h"
#include "steps/steps.h"
#include "support/fake_host.h"

namespace kestrin::testing {

using Strings = std::vector<std::string>;

struct tReported {
  std::string text;
  bool log;
  bool operator==(const tReported&) const = default;
};

class TestStepContext : public StepContext {
 public:
  explicit TestStepContext(Host& host) : StepContext(host) {}
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

class StepTest : public ::testing::Test {
 protected:
  // A bundle of OEM 42 as preparation leaves it: folders set, an
  // installation record, interactive, nothing forced.
  StepTest() : ctx_(fake_.host) {
    ctx_.ProductDir = ctx_.BinDir = fake_.machine.program_dir;
    ctx_.ProductIniDir = FakeHost::kIniDir;
    ctx_.ProgramDataDir = FakeHost::kDataDir;
    ctx_.BundleTempDir = bundle_;
    ctx_.OemId = 42;
    ctx_.InstallationRecord =
        std::make_unique<InstallRecord>(fake_.ini, Korvane("Ini/instlog.ini"));
  }

  // A file below the bundle or the Korvane folder; a name ending with "/"
  // makes a folder.
  void BundleFile(const std::string& relative, const std::string& content = "") {
    fake_.files.Put(bundle_ + "/" + relative, content);
  }
  void KorvaneFile(const std::string& relative, const std::string& content = "") {
    fake_.files.Put(Korvane(relative), content);
  }
  static std::string Korvane(const std::string& relative) { return "/korvane/" + relative; }
  std::string ReadFileOrDie(const std::string& path) const {
    const std::optional<std::string> content = fake_.files.Read(path);
    if (!content) ADD_FAILURE() << "no file " << path;
    return content.value_or("");
  }
  bool Exists(const std::string& path) const { return fake_.files.Exists(path); }
  void Mode(bool silent, bool force, const std::vector<bool>& answers = {}) {
    ctx_.SilentMode = silent;
    ctx_.ForceOverwrite = force;
    ctx_.answers.assign(answers.begin(), answers.end());
  }
  // The default value of a key below the Korvane settings key; nothing when
  // the key or its value is missing.
  std::optional<std::string> Setting(const std::string& key) {
    return fake_.registry.Get(fake_.machine.settings_subkey + key);
  }
  void SetSetting(const std::string& key, const std::string& value) {
    fake_.registry.Set(fake_.machine.settings_subkey + key, value);
  }
  // `lines` with {B} replaced by the bundle folder, {P} by BinDir and {D} by
  // ProgramDataDir.
  Strings Expand(Strings lines) const {
    for (std::string& line : lines) {
      for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{B}", bundle_},
                                        {"{P}", ctx_.BinDir},
                                        {"{D}", ctx_.ProgramDataDir}}) {
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

  FakeHost fake_;
  const std::string bundle_ = "/bundle";
  TestStepContext ctx_;
};

}  // namespace kestrin::testing

// The tests compare results with the numbers the run's table of messages
// knows, and print them so.
namespace kestrin {
inline bool operator==(StepResult result, int number) { return static_cast<int>(result) == number; }
inline void PrintTo(StepResult result, std::ostream* os) { *os << static_cast<int>(result); }
}  // namespace kestrin

#endif  // KESTRIN_TESTS_STEPS_STEP_FIXTURE_H_
