// The recorded command lines of corpus/winapi/cmdline.tsv replayed on the
// system itself: each line that started a process is started again through
// RunProcess, with a child that reports its module, the command line it
// received and argv as its C runtime split it; the program found and what
// the child saw must be what was recorded, and SplitCommandLine must agree
// with the child's runtime, as on Linux.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/process.h"
#include "support/temp_dir.h"
#include "winapi_table.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::JsonStrings;
using testing::Replace;
using Strings = std::vector<std::string>;

// Module paths compare ignoring case, as the file system does.
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(CmdlineReplayTest, StartsWhatWasRecordedAndTheChildSeesWhatWasRecorded) {
  // The oracle ran from C:\oracle\bin with current folder C:\oracle\cmd; its
  // bin folder is this program's folder here (a program named without a
  // folder is looked for there first), the rest a temporary folder.
  char self[MAX_PATH];
  ASSERT_NE(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
  const std::string bin = fs::path(self).parent_path().string();
  const std::string child = bin + "\\report_args.exe";
  testing::ScopedTempDir temp;
  const std::string root = temp.path().string();
  ASSERT_EQ((root + bin).find(' '), std::string::npos) << "the folders must hold no blank";
  for (const char* name : {"cmd\\child.exe", "a.exe", "a b\\c.exe", "d e\\f.exe",
                           "prog files\\child.exe", "sp\\x.exe", "sp\\x y.exe"}) {
    const fs::path to = fs::path(root) / name;
    fs::create_directories(to.parent_path());
    fs::copy_file(child, to);
  }
  fs::copy_file(child, bin + "\\child.exe", fs::copy_options::overwrite_existing);
  const std::string report = temp.Sub("report.bin");
  _putenv_s("KESTRIN_ARGS_REPORT", report.c_str());
  const fs::path old_dir = fs::current_path();
  fs::current_path(root + "\\cmd");
  auto local = [&](const std::string& text) {
    return Replace(Replace(text, "C:\\oracle\\bin", bin), "C:\\oracle", root);
  };

  int replayed = 0;
  for (const auto& f : testing::ReadWinapiTable("cmdline.tsv", 12)) {
    // Rows without a process, or with a separate program name (not a form Kestrin uses).
    if (f[3] == "-" || f[2] != "null") continue;
    ++replayed;
    const std::string line = local(JsonStrings(f[1]).at(0));
    std::error_code ignored;
    fs::remove(report, ignored);
    const ProcessResult result = RunProcess(line);
    if (f[3] != "1") {
      EXPECT_FALSE(result.started) << "row " << f[0] << ": " << line;
      continue;
    }
    ASSERT_TRUE(result.started) << "row " << f[0] << ": " << line << ": " << result.error;
    EXPECT_EQ(result.exit_code, 0) << "row " << f[0];
    const std::string seen = testing::ReadFileOrDie(report);
    Strings parts;
    for (size_t at = 0, end; (end = seen.find('\0', at)) != std::string::npos; at = end + 1)
      parts.push_back(seen.substr(at, end - at));
    ASSERT_GE(parts.size(), 2u) << "row " << f[0];
    const Strings recorded_argv = JsonStrings(f[7]);
    Strings expected_argv;
    for (const std::string& arg : recorded_argv) expected_argv.push_back(local(arg));
    EXPECT_EQ(Lower(parts[0]), Lower(local(JsonStrings(f[4]).at(0)))) << "row " << f[0] << ": " << line;
    EXPECT_EQ(parts[1], local(JsonStrings(f[5]).at(0))) << "row " << f[0];
    EXPECT_EQ(Strings(parts.begin() + 2, parts.end()), expected_argv) << "row " << f[0];
    EXPECT_EQ(SplitCommandLine(parts[1]), expected_argv) << "row " << f[0];
  }
  EXPECT_EQ(replayed, 77);
  fs::current_path(old_dir);
  _putenv_s("KESTRIN_ARGS_REPORT", "");
  fs::remove(bin + "\\child.exe");
}

}  // namespace
}  // namespace kestrin
