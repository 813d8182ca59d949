// Helpers of the bundle tests: running kestrin-cab and reading the trees it
// leaves. Cabinets come from support/cab_builder.h.
#ifndef KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_
#define KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "support/cab_builder.h"
#include "support/child.h"
#include "support/recording_telvor.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin::testing {

namespace fs = std::filesystem;
using FileSet = std::map<std::string, std::string>;
using kestrin::cab::testing::CabBuilder;
using kestrin::cab::testing::Payload;
using kestrin::cab::testing::StoredCabinet;

// kestrin-cab run in `cwd`, killed should it still run after two minutes (a
// hang; exit status 137).
inline RunResult Cab(std::vector<std::string> args, const std::string& cwd = ".") {
  args.insert(args.begin(), {"timeout", "-s", "KILL", "120", (BinaryDir() / "kestrin-cab").string()});
  return RunProgram(args, cwd);
}

inline std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

// A work folder and a fresh per-user folder, where bundles get their
// temporary folders; the machine's host with this program's cabinet decoder.
class BundleFolderTest : public ::testing::Test {
 protected:
  fs::path Temp(const std::string& name) const { return appdata_.path() / "Brantel" / "Temp" / name; }

  ScopedTempDir appdata_, work_;
  ScopedEnv xdg_{"XDG_DATA_HOME", appdata_.path().string()};
  RecordingTelvor telvor_;
  Host host_{SystemFileSystem(), SystemIniFiles(),  SystemRegistry(),       SystemProcesses(),
             SystemLibraries(),  SystemMachine(),   SystemBundleUnpacker(), telvor_};
};

// stderr is lines of the form "FILE: what went wrong (code N)", at least one.
inline bool CleanErrors(const std::string& err) {
  static const std::regex kLine("[^:].*: .+ \\(code [0-9]+\\)");
  std::istringstream lines(err);
  int n = 0;
  for (std::string line; std::getline(lines, line); ++n) {
    if (!std::regex_match(line, kLine)) return false;
  }
  return n > 0 && err.back() == '\n';
}

// Every file below `root` (relative path -> contents); symlinks as "<symlink>".
inline FileSet ReadTree(const fs::path& root) {
  FileSet files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string rel = it->path().lexically_relative(root).string();
    if (it->is_symlink() || it->is_regular_file())
      files[rel] = it->is_symlink() ? "<symlink>" : ReadFileOrDie(it->path());
  }
  return files;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_
