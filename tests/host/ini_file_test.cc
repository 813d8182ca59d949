// IniFile: the seven operations with their splitting rules, and what a
// write does to the file on disk.
#include "host/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::WriteFileOrDie;

class IniFileTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& content, const std::string& name = "a.ini") {
    const std::string path = tmp_.Sub(name);
    WriteFileOrDie(path, content);
    return path;
  }
  testing::ScopedTempDir tmp_;
};

TEST_F(IniFileTest, GetIntFlagAndPresentZero) {
  const IniFile ini(Make("[S]\nzero=0\nempty=\nn= -12x\nh=0x10\n"));
  struct Row {
    const char* key;
    bool flag;
    int expected;
  } rows[] = {{"absent", true, -1}, {"absent", false, 0}, {"zero", true, 0}, {"zero", false, 0},
              {"empty", true, -1},  {"empty", false, 0},  {"n", true, -12},   {"h", false, 16}};
  for (const Row& r : rows) {
    EXPECT_EQ(ini.GetInt("S", r.key, r.flag), r.expected) << r.key << " " << r.flag;
  }
  EXPECT_EQ(IniFile(tmp_.Sub("missing.ini")).GetInt("S", "zero", true), -1);
}

TEST_F(IniFileTest, GetStringReadsLongValuesWhole) {
  std::string v259(259, 'x');
  std::string v70000(70000, 'y');
  const IniFile ini(Make("[S]\nv259=" + v259 + "\nv70000=" + v70000 + "\nq=\"quoted\"\n"));
  EXPECT_EQ(ini.GetString("S", "v259"), v259);
  EXPECT_EQ(ini.GetString("S", "v70000"), v70000);
  EXPECT_EQ(ini.GetString("s", "Q"), "quoted");
  EXPECT_EQ(ini.GetString("S", "none"), "");
}

TEST_F(IniFileTest, SectionReadersSplitAsTheCallersExpect) {
  const IniFile ini(Make(
      "[S]\n"
      "a = 1 = 2\n"  // split at the first "=", blanks around it removed
      "delete\n"     // no "=": list entry (delete, ""), skipped by the map
      "Key=upper\n"
      "key=lower\n"  // keys differing in case: two entries
      "dup=first\n"
      "dup=second\n"
      "; comment=x\n"
      "q=\"kept\"\n"
      "\n"
      "[T]\nt=1\n"));
  IniSectionMap map{{"pre", "existing"}};
  ini.ReadSectionMap("S", map);
  const IniSectionMap expected_map{{"pre", "existing"}, {"a", "1 = 2"}, {"Key", "upper"},
                                   {"key", "lower"},    {"dup", "second"}, {"q", "\"kept\""}};
  EXPECT_EQ(map, expected_map);

  IniEntryList list;
  ini.ReadSectionList("s", list);
  const IniEntryList expected_list{{"a", "1 = 2"}, {"delete", ""},   {"Key", "upper"},
                                   {"key", "lower"}, {"dup", "first"}, {"dup", "second"},
                                   {"q", "\"kept\""}};
  EXPECT_EQ(list, expected_list);

  IniSectionMap by_keys{{"stale", "x"}};
  EXPECT_EQ(ini.ReadSectionByKeys("S", by_keys), 5);
  // Emptied first; values read one by one: quotes removed, first duplicate wins,
  // and "Key"/"key" both find the first of them.
  const IniSectionMap expected_keys{
      {"a", "1 = 2"}, {"Key", "upper"}, {"key", "upper"}, {"dup", "first"}, {"q", "kept"}};
  EXPECT_EQ(by_keys, expected_keys);

  IniSectionMap untouched{{"x", "y"}};
  ini.ReadSectionMap("Missing", untouched);
  EXPECT_EQ(untouched.size(), 1u);
  EXPECT_EQ(ini.ReadSectionByKeys("Missing", untouched), 0);
}

TEST_F(IniFileTest, FileAndFoldersAreFoundIgnoringCase) {
  fs::create_directory(tmp_.path() / "Bundle");
  Make("[OEMDriverDisk]\nOEMID=7\n", "Bundle/HW.INI");
  const IniFile ini(tmp_.Sub("BUNDLE/hw.ini"));
  EXPECT_EQ(ini.GetInt("oemdriverdisk", "oemid", true), 7);
  EXPECT_TRUE(ini.WriteString("OEMDriverDisk", "VERSION", "1.0"));
  // The write went into the existing file, not a second one beside it.
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / "Bundle" / "HW.INI"), "[OEMDriverDisk]\nOEMID=7\nVERSION=1.0\n");
  EXPECT_FALSE(fs::exists(tmp_.path() / "Bundle" / "hw.ini"));
}

TEST_F(IniFileTest, MissingAndUnreadableFilesAreToldApart) {
  const IniFile missing(tmp_.Sub("nothere.ini"));
  EXPECT_EQ(missing.GetString("S", "k"), "");
  EXPECT_EQ(missing.LastStatus(), IniStatus::kFileMissing);
  EXPECT_EQ(missing.LastError(), "");

  fs::create_directory(tmp_.path() / "folder.ini");
  const IniFile folder(tmp_.Sub("folder.ini"));
  EXPECT_EQ(folder.GetString("S", "k"), "");
  EXPECT_EQ(folder.LastStatus(), IniStatus::kUnreadable);
  EXPECT_NE(folder.LastError().find("folder.ini"), std::string::npos);
  EXPECT_FALSE(folder.WriteString("S", "k", "v"));

  const IniFile ok(Make("[S]\nk=v\n"));
  EXPECT_EQ(ok.GetString("S", "k"), "v");
  EXPECT_EQ(ok.LastStatus(), IniStatus::kOk);
}

TEST_F(IniFileTest, WriteCreatesFileButNeverAFolder) {
  const IniFile fresh(tmp_.Sub("new.ini"));
  EXPECT_TRUE(fresh.WriteString("S", "k", "v"));
  EXPECT_EQ(ReadFileOrDie(fresh.path()), "[S]\r\nk=v\r\n");

  const std::string nodir = tmp_.Sub("no-such-dir/x.ini");
  const IniFile lost(nodir);
  EXPECT_FALSE(lost.WriteString("S", "k", "v"));
  EXPECT_EQ(lost.LastStatus(), IniStatus::kFolderMissing);
  EXPECT_NE(lost.LastError().find("no-such-dir"), std::string::npos);
  EXPECT_FALSE(fs::exists(tmp_.path() / "no-such-dir"));
}

TEST_F(IniFileTest, ReadOnlyFileIsNotWritten) {
  const std::string path = Make("[S]\nk=v\n");
  ::chmod(path.c_str(), 0444);
  const IniFile ini(path);
  EXPECT_FALSE(ini.WriteString("S", "k", "changed"));
  EXPECT_EQ(ini.LastStatus(), IniStatus::kReadOnly);
  EXPECT_FALSE(ini.DeleteSection("S"));
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nk=v\n");
  // Writing what is already there changes nothing and succeeds.
  EXPECT_TRUE(ini.WriteString("S", "k", "v"));
}

TEST_F(IniFileTest, WriteKeepsModeAndFollowsSymbolicLinks) {
  const std::string real = Make("; keep me\n[S]\nk=v\n", "real.ini");
  ::chmod(real.c_str(), 0640);
  fs::create_symlink("real.ini", tmp_.path() / "link.ini");
  const IniFile ini(tmp_.Sub("link.ini"));
  EXPECT_TRUE(ini.WriteString("S", "n", "1"));
  EXPECT_TRUE(fs::is_symlink(tmp_.path() / "link.ini"));
  EXPECT_EQ(ReadFileOrDie(real), "; keep me\n[S]\nk=v\nn=1\n");
  struct stat st;
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // The lock lies beside the real file; no temporary file is left.
  EXPECT_TRUE(fs::exists(tmp_.path() / "real.ini.lock"));
  for (const auto& entry : fs::directory_iterator(tmp_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos);
  }
}

TEST_F(IniFileTest, DeleteSectionAndKeyLeaveTheRest) {
  const IniFile ini(Make("[A]\na=1\n[B]\nb=2\nc=3\n[C]\n"));
  EXPECT_TRUE(ini.DeleteSection("b"));
  EXPECT_TRUE(ini.DeleteSection("Missing"));
  EXPECT_TRUE(ini.DeleteKey("A", "a"));
  EXPECT_EQ(ReadFileOrDie(ini.path()), "[A]\n[C]\n");
  EXPECT_EQ(ini.GetSectionNames(), (std::vector<std::string>{"A", "C"}));
  EXPECT_TRUE(ini.HasSection("c"));
  EXPECT_FALSE(ini.HasSection("B"));
}

}  // namespace
}  // namespace kestrin
