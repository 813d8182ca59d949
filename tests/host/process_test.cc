// Starting programs the Windows way: command lines split and programs found
// as recorded from the Windows calls (corpus/winapi/cmdline.tsv), could-not-
// start versus started, and driver libraries loaded to register themselves.
#include "host/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/library_loader.h"
#include "support/temp_dir.h"
#include "winapi_table.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::JsonStrings;
using testing::Replace;
using testing::ReadFileOrDie;
using Strings = std::vector<std::string>;

// Columns: 1 command line, 2 application name, 3 created (1/0/-),
// 4 program started, 5 the child's command line, 7 the runtime's split of it.
const auto& CmdlineRows() {
  static const auto rows = testing::ReadWinapiTable("cmdline.tsv", 12);
  return rows;
}

TEST(SplitCommandLineTest, AgreesWithTheChildRuntimeOnEveryRecordedLine) {
  int tested = 0;
  for (const auto& f : CmdlineRows()) {
    if (f[7].empty() || f[7][0] != '[') continue;
    const Strings child = JsonStrings(f[5]);
    ASSERT_EQ(child.size(), 1u) << "row " << f[0];
    EXPECT_EQ(SplitCommandLine(child[0]), JsonStrings(f[7])) << "row " << f[0] << ": " << child[0];
    ++tested;
  }
  EXPECT_EQ(tested, 77);
  EXPECT_EQ(SplitCommandLine(""), Strings{""});
  EXPECT_EQ(SplitCommandLine("a \"\"\""), (Strings{"a", "\""}));
  EXPECT_EQ(SplitCommandLine("a \\\\"), (Strings{"a", "\\\\"}));
}

class ProgramLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (temp_.path() / "oracle").string();
    for (const char* name : {"cmd/child.exe", "a.exe", "a b/c.exe", "d e/f.exe", "prog files/child.exe",
                             "sp/x.exe", "sp/x y.exe", "bin/child.exe", "bin/oracle.exe"}) {
      Script(name, "exit 0\n");
    }
    old_dir_ = fs::current_path();
    fs::current_path(root_ + "/cmd");
    options_.application_dir = root_ + "/bin";
  }
  void TearDown() override { fs::current_path(old_dir_); }
  // An executable shell script at root_/name.
  void Script(const std::string& name, const std::string& body) {
    const fs::path path = fs::path(root_) / name;
    fs::create_directories(path.parent_path());
    testing::WriteFileOrDie(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
  }
  testing::ScopedTempDir temp_;
  std::string root_;
  fs::path old_dir_;
  ProcessOptions options_;
};

TEST_F(ProgramLookupTest, FindsWhatCreateProcessStarted) {
  int tested = 0;
  for (const auto& f : CmdlineRows()) {
    // Rows without a process, or with a separate program name (not a form Kestrin uses).
    if (f[3] == "-" || f[2] != "null") continue;
    const std::string line = Replace(JsonStrings(f[1]).at(0), "C:\\oracle", root_);
    std::string reason;
    const std::string program = FindProgram(line, options_, &reason);
    if (f[3] == "1") {
      const std::string expected = Replace(Replace(JsonStrings(f[4]).at(0), "C:\\oracle", root_), "\\", "/");
      ASSERT_FALSE(program.empty()) << "row " << f[0] << ": " << line << ": " << reason;
      EXPECT_EQ(fs::canonical(program), fs::canonical(expected)) << "row " << f[0] << ": " << line;
    } else {
      EXPECT_EQ(program, "") << "row " << f[0] << ": " << line;
      EXPECT_FALSE(reason.empty()) << "row " << f[0];
    }
    ++tested;
  }
  EXPECT_EQ(tested, 77);
}

TEST_F(ProgramLookupTest, StartedProgramsRunWithTheirArguments) {
  const std::string out = temp_.Sub("out.txt");
  Script("bin/args.sh", "for a in \"$@\"; do printf '[%s]' \"$a\"; done > '" + out + "'\nexit 7\n");
  // Backslashes and another letter case in the path, as a lowered post command has them.
  const ProcessResult result =
      RunProcess(Replace(root_, "/oracle", "/ORACLE") + "\\BIN\\ARGS.SH \"a b\" c\\\\\"d\" \"\"", options_);
  ASSERT_TRUE(result.started) << result.error;
  EXPECT_EQ(result.program, root_ + "/bin/args.sh");
  EXPECT_EQ(result.exit_code, 7);
  EXPECT_FALSE(result.signaled);
  EXPECT_EQ(ReadFileOrDie(out), "[a b][c\\d][]");
  // A bare name found in the application folder, and one found on PATH.
  EXPECT_EQ(RunProcess("oracle a", options_).exit_code, 0);
  EXPECT_EQ(RunProcess("sh -c \"exit 3\"", options_).exit_code, 3);
  Script("bin/killed.sh", "kill -9 $$\n");
  const ProcessResult killed = RunProcess(root_ + "/bin/killed.sh", options_);
  EXPECT_EQ(std::tuple(killed.started, killed.signaled, killed.exit_code),
            std::tuple(true, true, 128 + 9));
  // Without waiting: started, exit code unknown, the child runs on.
  const std::string flag = temp_.Sub("done.flag");
  Script("bin/later.sh", "sleep 0.2\ntouch '" + flag + "'\n");
  ProcessOptions no_wait = options_;
  no_wait.wait = false;
  const ProcessResult later = RunProcess(root_ + "/bin/later.sh", no_wait);
  ASSERT_TRUE(later.started) << later.error;
  EXPECT_EQ(later.exit_code, -1);
  for (int i = 0; i < 100 && !fs::exists(flag); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(fs::exists(flag));
}

TEST_F(ProgramLookupTest, CouldNotStart) {
  testing::WriteFileOrDie(root_ + "/bin/garbage.bin", "\x01\x02\x03 not a program");
  chmod((root_ + "/bin/garbage.bin").c_str(), 0755);
  // An empty line, a missing or not executable program: the post-commands step's tests.
  for (const std::string& line :
       {" " + root_ + "/bin/child.exe", "\"" + root_ + "/bin/child.exe" /* unclosed quote */,
        "\"" + root_ + "/bin\" x" /* a folder */, root_ + "/bin/garbage.bin" /* no known format */,
        std::string("no-such-program-anywhere-kestrin x")}) {
    const ProcessResult result = RunProcess(line, options_);
    EXPECT_FALSE(result.started) << line;
    EXPECT_FALSE(result.error.empty()) << line;
    EXPECT_EQ(result.exit_code, -1) << line;
  }
}

std::string Lib(const char* name) { return std::string(KESTRIN_TEST_LIB_DIR) + "/" + name + ".so"; }

// Registering, failing and missing exports are driven by the driver
// libraries step's tests; here what that step does not reach.
TEST(RegisterServerTest, UnregistersAndFindsTheLibraryByItsPathOnly) {
  testing::ScopedTempDir temp;
  const std::string mark = temp.Sub("mark.txt");
  setenv("KESTRIN_REGISTER_MARK", mark.c_str(), 1);
  std::string error;
  // The letter case of the path does not matter.
  fs::copy_file(Lib("test_register_ok"), temp.path() / "Driver.SO");
  EXPECT_EQ(RegisterServer(temp.Sub("driver.so"), false, &error), 1) << error;
  EXPECT_EQ(RegisterServer(Lib("test_register_fails"), true, &error), 0);  // a negative result
  EXPECT_NE(error.find("0x80004005"), std::string::npos) << error;
  EXPECT_EQ(ReadFileOrDie(mark), "unregister;register;");
  unsetenv("KESTRIN_REGISTER_MARK");
  EXPECT_EQ(RegisterServer(temp.Sub("missing.dll"), true, &error), 0);
  EXPECT_NE(error.find("missing.dll"), std::string::npos) << error;
  EXPECT_EQ(RegisterServer("libc.so.6", true, &error), 0);  // would be searched on the library path
}

}  // namespace
}  // namespace kestrin
