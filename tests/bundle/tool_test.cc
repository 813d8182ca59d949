// kestrin-cab as a user meets it: usage errors, exit codes, the listing
// format, test runs that write nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "bundle/cab_builder.h"
#include "bundle/test_util.h"
#include "support/temp_dir.h"

namespace kestrin::testing {
namespace {

namespace fs = std::filesystem;

TEST(KestrinCabTest, UsageErrorsAndHelp) {
  ScopedTempDir tmp;
  WriteFileOrDie(tmp.path() / "a.cab", BuildStoredCabinet({{"a.txt", "a"}}));
  const std::string cab = tmp.Sub("a.cab");
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* err;  // expected in stderr ("" = stderr empty)
    const char* out;  // expected in stdout
  } cases[] = {
      {{}, 2, "no command given", ""},
      {{"-h"}, 0, "", "Usage: kestrin-cab l FILE"},
      {{"--help"}, 0, "", "x  extract"},
      {{"x", "-h"}, 0, "", "Usage:"},
      {{"q", cab}, 2, "unknown command \"q\"", ""},
      {{"l"}, 2, "no cabinet file given", ""},
      {{"l", cab, cab}, 2, "one cabinet file at a time", ""},
      {{"l", "-d", "x", cab}, 2, "-d is only for x", ""},
      {{"t", cab, "-d", "x"}, 2, "-d is only for x", ""},
      {{"x", cab, "-d"}, 2, "-d needs a folder", ""},
      {{"x", cab, "-d", ""}, 2, "-d needs a folder", ""},
      {{"x", cab, "-d", "a", "-d", "b"}, 2, "-d given twice", ""},
      {{"x", "--bogus", cab}, 2, "unknown option \"--bogus\"", ""},
      {{"l", tmp.Sub("missing.cab")}, 1, "missing.cab: cannot open the file: No such file or directory (code 1)", ""},
      {{"t", tmp.Sub("missing.cab")}, 1, "missing.cab: cannot open the file: No such file or directory (code 1)", ""},
      {{"t", cab}, 0, "", "all 1 files OK in 1 cabinet"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{KestrinCab()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const RunResult r = RunProgram(argv, tmp.path().string());
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(c.exit_code, r.exit_code) << shown << "\n" << r.err;
    if (*c.err == '\0') {
      EXPECT_EQ("", r.err) << shown;
    } else {
      EXPECT_NE(std::string::npos, r.err.find(c.err)) << shown << "\n" << r.err;
    }
    EXPECT_NE(std::string::npos, r.out.find(c.out)) << shown << "\n" << r.out;
    if (c.exit_code == 2) {
      EXPECT_NE(std::string::npos, r.err.find("Usage:")) << shown;
    }
  }
  // Nothing was extracted by any of these.
  EXPECT_EQ(1u, ReadTree(tmp.path()).size());
}

TEST(KestrinCabTest, ListsOneTabSeparatedLinePerFile) {
  ScopedTempDir tmp;
  const uint16_t date = (46 << 9) | (3 << 5) | 14;
  const uint16_t time = (13 << 11) | (37 << 5) | 21;
  WriteFileOrDie(tmp.path() / "l.cab",
                 BuildStoredCabinet({
                     {"plain.txt", "hello", 0x20, date, time, 0},
                     {"sub\\all.bin", std::string(40000, 'x'), 0x67, (0 << 9) | (1 << 5) | 1, 0, 1},
                     {"ctl\x01\x1f\x7f.txt", "", 0x00, date, time, 1},
                 }));
  const RunResult r = RunProgram({KestrinCab(), "l", tmp.Sub("l.cab")});
  EXPECT_EQ(0, r.exit_code) << r.err;
  EXPECT_EQ("5\t2026-03-14 13:37:42\t---a-\t0\tNONE\tplain.txt\n"
            "40000\t1980-01-01 00:00:00\trhsax\t1\tNONE\tsub\\all.bin\n"
            "0\t2026-03-14 13:37:42\t-----\t1\tNONE\tctl\\x01\\x1F\x7f.txt\n",
            r.out);
  EXPECT_EQ("", r.err);
}

TEST(KestrinCabTest, ListsCompressionMethodsOfCorpusCabinets) {
  const fs::path corpus = SharedDir() / "corpus" / "cab";
  if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus";
  struct Case {
    const char* path;
    const char* line;
  } cases[] = {
      {"libmspack/normal_2files_2folders.cab",
       "31\t2018-11-02 04:01:32\t---a-\t0\tMSZIP\tmszip1.txt\n"
       "36\t2018-11-02 04:01:32\t---a-\t0\tMSZIP\tmszip2.txt\n"
       "23\t2018-11-02 04:01:32\t---a-\t1\tLZX:18\tlzx1.txt\n"
       "28\t2018-11-02 04:01:32\t---a-\t1\tLZX:18\tlzx2.txt\n"},
      {"libmspack/cve-2018-18584-qtm-max-size-block.cab", "\tQTM:7/21\t"},
      {"cabextract-cabs/large-files-cab.cab", "\tLZX:21\t"},
      {"libmspack/multi_basic_pt3.cab", "\t65535\tNONE\ttest1.txt\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram({KestrinCab(), "l", (corpus / c.path).string()});
    EXPECT_EQ(0, r.exit_code) << c.path << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.out.find(c.line)) << c.path << "\n" << r.out;
  }
}

TEST(KestrinCabTest, ExtractsIntoCurrentFolderOrDirAndTestWritesNothing) {
  ScopedTempDir tmp;
  const std::string payload = MakePayload(100000, 0, 1);
  fs::create_directories(tmp.path() / "in");
  WriteFileOrDie(tmp.path() / "in" / "a.cab", BuildStoredCabinet({{"d\\x.txt", payload}, {"y", "y"}}));
  const std::string cab = tmp.Sub("in/a.cab");
  fs::create_directories(tmp.path() / "cwd");
  RunResult r = RunProgram({KestrinCab(), "t", cab}, tmp.Sub("cwd"));
  EXPECT_EQ(0, r.exit_code) << r.err;
  EXPECT_TRUE(fs::is_empty(tmp.path() / "cwd"));
  r = RunProgram({KestrinCab(), "x", cab}, tmp.Sub("cwd"));
  EXPECT_EQ(0, r.exit_code) << r.err;
  EXPECT_EQ("", r.out);
  auto tree = ReadTree(tmp.Sub("cwd"));
  EXPECT_EQ(2u, tree.size());
  EXPECT_TRUE(tree["d/x.txt"] == payload);
  EXPECT_EQ("y", tree["y"]);
  r = RunProgram({KestrinCab(), "x", "-d", tmp.Sub("new/deeper"), cab});
  EXPECT_EQ(0, r.exit_code) << r.err;
  EXPECT_EQ(2u, ReadTree(tmp.Sub("new/deeper")).size());
}

TEST(KestrinCabTest, FailuresExitOneWithWhatAndWhere) {
  ScopedTempDir tmp;
  const std::string payload = MakePayload(200000, 2, 5);
  std::string good = BuildStoredCabinet({{"first.txt", "first"}, {"big.bin", payload}});
  WriteFileOrDie(tmp.path() / "good.cab", good);
  WriteFileOrDie(tmp.path() / "cut.cab", good.substr(0, good.size() / 2));
  WriteFileOrDie(tmp.path() / "junk.cab", std::string(300, 'j'));
  WriteFileOrDie(tmp.path() / "evil.cab", BuildStoredCabinet({{"..\\..\\escape.txt", "x"}, {"ok.txt", "ok"}}));
  WriteFileOrDie(tmp.path() / "afile", "");
  struct Case {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"x", tmp.Sub("cut.cab"), "-d", tmp.Sub("o1")}, "cut.cab: \"big.bin\": corrupt cabinet (code 4)"},
      {{"t", tmp.Sub("cut.cab")}, "cut.cab: \"big.bin\": corrupt cabinet (code 4)"},
      {{"x", tmp.Sub("junk.cab"), "-d", tmp.Sub("o2")}, "junk.cab: file is not a cabinet (code 2)"},
      {{"l", tmp.Sub("junk.cab")}, "junk.cab: file is not a cabinet (code 2)"},
      {{"x", tmp.Sub("evil.cab"), "-d", tmp.Sub("o3/in")}, "the name climbs out of its folder with \"..\"; nothing was written for it (code 100)"},
      {{"t", tmp.Sub("evil.cab")}, "(code 100)"},
      {{"x", tmp.Sub("good.cab"), "-d", tmp.Sub("afile")}, "good.cab: cannot create folder"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{KestrinCab()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const RunResult r = RunProgram(argv);
    EXPECT_EQ(1, r.exit_code) << c.args[1] << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.err)) << c.args[1] << "\n" << r.err;
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << "one line: " << r.err;
    EXPECT_TRUE(IsErrorLine(r.err.substr(0, r.err.size() - 1))) << r.err;
  }
  // The file before the damage is out whole; the refused name wrote nothing.
  EXPECT_EQ("first", ReadFileOrDie(tmp.path() / "o1" / "first.txt"));
  const std::map<std::string, std::string> only_ok{{"in/ok.txt", "ok"}};
  EXPECT_EQ(only_ok, ReadTree(tmp.Sub("o3")));
  EXPECT_FALSE(fs::exists(tmp.path() / "escape.txt"));
  EXPECT_FALSE(fs::exists(tmp.path().parent_path() / "escape.txt"));
}

}  // namespace
}  // namespace kestrin::testing
