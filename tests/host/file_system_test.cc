// The shell's rules over every FileSystem: the machine's back end (POSIX
// here, Win32 in the Windows build) and the in-memory one of the tests run
// the same cases. Wildcards, names in any letter case, copying into and
// onto folders and files, failures that name their path, deleting,
// verifying, searching. What only POSIX has (links, modes, FIFOs, inodes)
// is in file_system_posix_test.cc.
#include "host/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/path_resolve.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// The machine's file system in a scoped folder, laid out and looked at
// through std::filesystem.
class SystemDisk {
 public:
  FileSystem& files() { return SystemFileSystem(); }
  std::string root() const { return temp_.path().string(); }
  void Put(const std::string& path, const std::string& content) {
    if (IsPathSeparator(path.back())) return (void)fs::create_directories(path);
    fs::create_directories(fs::path(path).parent_path());
    testing::WriteFileOrDie(path, content);
  }
  std::string Read(const std::string& path) const { return testing::ReadFileOrDie(path); }
  bool Exists(const std::string& path) const { return fs::exists(path); }
  Strings Tree(const std::string& root) const {
    Strings out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      std::string rel = it->path().lexically_relative(root).generic_string();
      out.push_back(it->is_directory() ? rel + "/" : rel + "=" + Read(it->path().string()));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // Names holding "*" and "?" (no Windows file system holds them), and
  // trees laid out here with paths longer than 260 characters (the C
  // runtime behind std::filesystem stops there on Windows).
  static bool WildcardNames() { return kPathSeparator == '/'; }
  static bool LongPaths() { return kPathSeparator == '/'; }

 private:
  testing::ScopedTempDir temp_;
};

class FakeDisk {
 public:
  FileSystem& files() { return fake_; }
  std::string root() const { return NativePath("/t"); }
  void Put(const std::string& path, const std::string& content) { fake_.Put(path, content); }
  std::string Read(const std::string& path) const { return fake_.Read(path).value_or("(none)"); }
  bool Exists(const std::string& path) const { return fake_.Exists(path); }
  Strings Tree(const std::string& root) const { return fake_.Tree(root); }
  static bool WildcardNames() { return true; }
  static bool LongPaths() { return true; }

 private:
  testing::FakeFileSystem fake_;
};

template <typename Disk>
class FileSystemTest : public ::testing::Test {
 protected:
  // A path below the test's folder; "/" separates in `relative`.
  std::string P(const std::string& relative) const { return JoinPath(disk_.root(), NativePath(relative)); }
  void Put(const std::string& relative, const std::string& content = "x") { disk_.Put(P(relative), content); }
  Strings Tree(const std::string& relative) const { return disk_.Tree(P(relative)); }
  std::string Read(const std::string& relative) const { return disk_.Read(P(relative)); }
  bool Exists(const std::string& relative) const { return disk_.Exists(P(relative)); }
  FileSystem& files() { return disk_.files(); }
  // A bundle-like source: files, a subfolder with a nested one, an empty folder.
  void MakeSource() {
    Put("src/Readme.txt", "readme");
    Put("src/hw.ini", "[OEMDriverDisk]\n");
    Put("src/NOEXT", "no extension");
    Put("src/sub/a.htm", "a");
    Put("src/sub/deeper/b.htm", "bb");
    Put("src/empty/");
  }
  // Names holding wildcard characters, which a pattern would match besides the literal one.
  void MakeLiterals() {
    for (const std::string name : {"w*.ini", "wx.ini", "w?.ini", "wz.ini"}) Put("src/" + name, "content of " + name);
    Put("src/t*/inner/f", "f");
    Put("src/tz/g", "g");
  }
  std::set<std::string> Names(const std::string& relative) const {
    std::set<std::string> names;
    for (const std::string& entry : Tree(relative)) {
      if (entry.find('/') == std::string::npos || entry.find('/') == entry.size() - 1) {
        names.insert(entry.substr(0, entry.find_first_of("=/")));
      }
    }
    return names;
  }
  Disk disk_;
};

using Disks = ::testing::Types<SystemDisk, FakeDisk>;
TYPED_TEST_SUITE(FileSystemTest, Disks);

TEST(WildcardMatchTest, WindowsSemantics) {
  const struct {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.cab", "DRV.CAB", true}, {"*.CAB", "drv.Cab", true}, {"*.cab", "drv.cabx", false},
      {"*.cab", "cab", false}, {"*.cab", ".cab", true}, {"*.cab", "a.b.cab", true},
      {"*.INI", "hw.ini.bak", false}, {"*.*", "README", true}, {"*.*", ".hidden", true},
      {"*", "any.thing", true}, {"abc.*", "abc", true}, {"abc.*", "ABC.txt", true},
      {"abc.*", "abcd", false}, {"*.", "README", true}, {"*.", "a.txt", false}, {"a?c", "abc", true},
      {"a?c", "ac", false}, {"a?c", "a.c", false}, {"a?", "a", true}, {"a?.txt", "a.txt", true},
      {"a??.txt", "ab.txt", true}, {"a*b*c", "aXXbYYc", true}, {"a*b*c", "aXXbYY", false},
      {"*b", "bbb", true}, {"\xc4*", "\xc4rger", true}, {"\xc4*", "\xe4rger", false},
      {"exact", "EXACT", true}, {"exact", "exactly", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
  }
}

TYPED_TEST(FileSystemTest, CopyTakesWildcardsFilesAndFoldersInAnyCase) {
  this->MakeSource();
  FileSystem& fs = this->files();
  FsError error;
  ASSERT_EQ(CopyFiles(fs, this->P("src/*.*"), this->P("dst/new/deep"), &error), 1) << error.text;
  EXPECT_EQ(this->Tree("dst/new/deep"), this->Tree("src"));
  ASSERT_EQ(CopyFiles(fs, this->P("SRC/SUB/*.*"), this->P("dst/s") + kPathSeparator), 1);
  EXPECT_EQ(this->Tree("dst/s"), (Strings{"a.htm=a", "deeper/", "deeper/b.htm=bb"}));
  ASSERT_EQ(CopyFiles(fs, this->P("src/README.TXT"), this->P("dst/one")), 1);
  ASSERT_EQ(CopyFiles(fs, this->P("src/sub"), this->P("dst/one")), 1);
  EXPECT_EQ(this->Tree("dst/one"), (Strings{"Readme.txt=readme", "sub/", "sub/a.htm=a", "sub/deeper/",
                                            "sub/deeper/b.htm=bb"}));
  ASSERT_EQ(CopyFiles(fs, this->P("src/NOEXT"), this->P("dst/one/Readme.txt")), 1);
  EXPECT_EQ(this->Read("dst/one/Readme.txt"), "no extension");
  // Entries existing in another letter case are overwritten, not doubled;
  // a read-only one too.
  this->Put("dst/case/readme.TXT", "old");
  this->Put("dst/case/SUB/A.HTM", "old");
  ASSERT_TRUE(SetReadOnly(fs, this->P("dst/case/SUB/A.HTM"), true));
  ASSERT_EQ(CopyFiles(fs, this->P("src/*.*"), this->P("dst/case"), &error), 1) << error.text;
  EXPECT_EQ(this->Tree("dst/case"),
            (Strings{"NOEXT=no extension", "SUB/", "SUB/A.HTM=a", "SUB/deeper/", "SUB/deeper/b.htm=bb",
                     "empty/", "hw.ini=[OEMDriverDisk]\n", "readme.TXT=readme"}));
  // Into its own subfolder: the copy does not chase itself. Onto itself:
  // nothing changes.
  ASSERT_EQ(CopyFiles(fs, this->P("src/*.*"), this->P("src/sub/copy")), 1);
  EXPECT_EQ(this->Read("src/sub/copy/sub/a.htm"), "a");
  EXPECT_FALSE(this->Exists("src/sub/copy/sub/copy"));
  EXPECT_EQ(CopyFiles(fs, this->P("src/HW.INI"), this->P("SRC")), 1);
  EXPECT_EQ(CopyFiles(fs, this->P("src/sub/*.*"), this->P("src/sub")), 1);
  EXPECT_EQ(this->Read("src/hw.ini"), "[OEMDriverDisk]\n");
}

TYPED_TEST(FileSystemTest, FailuresNameThePathAndSpareTheRest) {
  this->MakeSource();
  FileSystem& fs = this->files();
  FsError error;
  EXPECT_EQ(CopyFiles(fs, this->P("src/missing.dll"), this->P("dst"), &error), 0);
  EXPECT_EQ(error.path, this->P("src/missing.dll"));
  EXPECT_NE(error.text.find(error.path + ": "), std::string::npos) << error.text;
  EXPECT_EQ(CopyFiles(fs, this->P("nowhere/*.*"), this->P("dst"), &(error = {})), 0);
  EXPECT_NE(error.text.find("nowhere"), std::string::npos) << error.text;
  this->Put("blocker", "x");  // a file where a folder should be
  EXPECT_EQ(CopyFiles(fs, this->P("src/*.*"), this->P("blocker/sub"), &(error = {})), 0);
  EXPECT_NE(error.text.find("blocker"), std::string::npos) << error.text;
  EXPECT_FALSE(this->Exists("dst"));
  // A folder where a file should go: that entry fails, the rest is copied.
  this->Put("dst/hw.ini/");
  EXPECT_EQ(CopyFiles(fs, this->P("src/*.*"), this->P("dst"), &(error = {})), 0);
  EXPECT_EQ(error.path, this->P("dst/hw.ini"));
  EXPECT_EQ(this->Read("dst/sub/deeper/b.htm"), "bb");
  // Nothing to copy, or nowhere to.
  EXPECT_EQ(CopyFiles(fs, "", this->P("dst"), &(error = {})), 0);
  EXPECT_EQ(CopyFiles(fs, this->P("src/hw.ini"), "", &error), 0);
  EXPECT_FALSE(error.text.empty());
}

TYPED_TEST(FileSystemTest, DeleteWhatThePathNames) {
  this->MakeSource();
  FileSystem& fs = this->files();
  ASSERT_TRUE(SetReadOnly(fs, this->P("src/sub/a.htm"), true));
  FsError error;
  for (const char* name : {"NOEXT", "*.TXT", "*.none"}) {
    EXPECT_EQ(DeleteFiles(fs, this->P("src/") + name, &error), 1) << name << ": " << error.text;
  }
  EXPECT_EQ(this->Tree("src"), (Strings{"empty/", "hw.ini=[OEMDriverDisk]\n", "sub/", "sub/a.htm=a",
                                        "sub/deeper/", "sub/deeper/b.htm=bb"}));
  // "*.*" empties the folder, read-only entries included; a folder by name
  // goes with everything in it.
  EXPECT_EQ(DeleteFiles(fs, this->P("SRC/SUB/*.*"), &error), 1) << error.text;
  EXPECT_TRUE(this->Tree("src/sub").empty());
  EXPECT_EQ(DeleteFiles(fs, this->P("src") + kPathSeparator, &error), 1) << error.text;
  EXPECT_FALSE(this->Exists("src"));
  const std::string root(1, kPathSeparator);
  for (const std::string& path : {this->P("src/gone.txt"), this->P("src/*.*"), std::string(), root,
                                  JoinPath(root, "*.*")}) {
    EXPECT_EQ(DeleteFiles(fs, path, &(error = {})), 0) << path;
    EXPECT_FALSE(error.text.empty()) << path;
  }
  this->Put("src/f.txt", "x");
  this->Put("src/folder/");
  for (const char* name : {"folder", "*.txt"}) EXPECT_FALSE(DeleteSingleFile(fs, this->P("src/") + name));
  EXPECT_TRUE(DeleteSingleFile(fs, this->P("src/F.txt")));
  EXPECT_FALSE(this->Exists("src/f.txt"));
  if (!TypeParam::LongPaths()) return;
  // A tree nested too deeply fails, inside a wildcard's matches too; the
  // others are deleted all the same.
  std::string deep = "src/deep";
  for (int i = 0; i <= kMaxTreeDepth; ++i) deep += "/d";
  this->Put(deep + "/");
  this->Put("src/z.txt", "z");
  for (const std::string& path : {this->P("src/*.*"), this->P("src/deep")}) {
    EXPECT_EQ(DeleteFiles(fs, path, &(error = {})), 0) << path;
    EXPECT_NE(error.text.find("nested too deeply"), std::string::npos) << error.text;
  }
  EXPECT_EQ(this->Tree("src").size(), kMaxTreeDepth + 2u);  // deep/ and its d/ folders
  // One level less is as deep as a tree may be: it goes.
  EXPECT_EQ(DeleteFiles(fs, this->P(deep), &(error = {})), 1) << error.text;
  EXPECT_EQ(DeleteFiles(fs, this->P("src/deep"), &error), 1) << error.text;
  EXPECT_FALSE(this->Exists("src/deep"));
}

TYPED_TEST(FileSystemTest, CreateDirectoryTreeAndSetReadOnly) {
  FileSystem& fs = this->files();
  FsError error;
  EXPECT_EQ(CreateDirectoryTree(fs, this->P("a/b/c"), &error), 1) << error.text;
  EXPECT_EQ(CreateDirectoryTree(fs, this->P("A/B")), 0);  // exists already, in another case
  EXPECT_EQ(CreateDirectoryTree(fs, this->P("A/B/New")), 1);
  EXPECT_TRUE(IsDirectory(fs, this->P("a/b/New")));
  this->Put("file", "x");
  EXPECT_EQ(CreateDirectoryTree(fs, this->P("file/sub"), &error), 0);
  EXPECT_NE(error.text.find("file"), std::string::npos) << error.text;
  EXPECT_EQ(CreateDirectoryTree(fs, ""), 0);

  ASSERT_TRUE(SetReadOnly(fs, this->P("FILE"), true));
  EXPECT_TRUE(IsReadOnly(fs, this->P("file")));
  ASSERT_TRUE(SetReadOnly(fs, this->P("file"), false));
  EXPECT_FALSE(IsReadOnly(fs, this->P("file")));
  EXPECT_FALSE(SetReadOnly(fs, this->P("missing"), true));
  EXPECT_TRUE(IsRegularFile(fs, this->P("FILE")));
  EXPECT_FALSE(IsRegularFile(fs, this->P("A")));
  EXPECT_FALSE(PathExists(fs, ""));
}

// Far beyond Windows' MAX_PATH, made and looked at through the file system
// alone: a Korvane or a bundle folder may lie at any depth.
TYPED_TEST(FileSystemTest, PathsOfAnyLength) {
  FileSystem& fs = this->files();
  std::string deep = "long";
  while (deep.size() < 300) deep += "/" + std::string(40, 'n');
  const std::string src = this->P(deep + "/src"), dst = this->P(deep + "/dst");
  const std::string sub = JoinPath(src, "sub");
  FsError error;
  ASSERT_EQ(CreateDirectoryTree(fs, sub, &error), 1) << error.text;
  ASSERT_TRUE(fs.AppendText(JoinPath(src, "a.txt"), "a"));
  ASSERT_TRUE(fs.AppendText(JoinPath(sub, "b.txt"), "bb"));
  ASSERT_TRUE(SetReadOnly(fs, JoinPath(src, "a.txt"), true, &error)) << error.text;
  EXPECT_EQ(CopyFilesChecked(fs, JoinPath(src, "*.*"), dst, 0, 1, &error), 1) << error.text;
  EXPECT_EQ(CompareTree(fs, src + kPathSeparator, dst + kPathSeparator), 1);
  EXPECT_TRUE(IsReadOnly(fs, JoinPath(dst, "A.TXT")));
  EXPECT_EQ(DeleteFiles(fs, this->P("long"), &error), 1) << error.text;
  EXPECT_FALSE(PathExists(fs, src));
}

TYPED_TEST(FileSystemTest, VerificationPassComparesNamesExactlyAndSizes) {
  this->MakeSource();
  FileSystem& fs = this->files();
  ASSERT_EQ(CopyFiles(fs, this->P("src/*.*"), this->P("dst")), 1);
  const std::string from = this->P("src") + kPathSeparator, to = this->P("dst") + kPathSeparator;
  TreeCounters counters;
  const auto seen = [&] {
    return std::vector{counters.files_seen, counters.files_matched, counters.directories_matched};
  };
  EXPECT_EQ(CompareTree(fs, from, to, &counters), 1);
  EXPECT_EQ(seen(), (std::vector{5, 5, 3}));
  this->Put("dst/sub/deeper/b.htm", "XY");  // only sizes are compared
  EXPECT_EQ(CompareTree(fs, from, to), 1);
  this->Put("dst/sub/deeper/b.htm", "bbb");  // a size difference deep down
  EXPECT_EQ(CompareTree(fs, from, to, &(counters = {})), 0);
  EXPECT_EQ(counters.files_matched, 4);
  ASSERT_EQ(DeleteFiles(fs, this->P("dst/sub")), 1);
  EXPECT_EQ(CompareTree(fs, from, to, &(counters = {})), 0);
  EXPECT_EQ(counters.directories_matched, 1);
  EXPECT_EQ(CompareTree(fs, this->P("src/empty") + kPathSeparator, this->P("nowhere") + kPathSeparator), 1);
  EXPECT_EQ(CompareTree(fs, this->P("nowhere") + kPathSeparator, to), 0);
  EXPECT_FALSE(FileMatches(fs, to, "hw.ini", DirEntry{"hw.ini", false, 16ull + (1ull << 32)}));
  EXPECT_FALSE(FileMatches(fs, to, "HW.INI", DirEntry{"HW.INI", false, 16}));
  EXPECT_FALSE(FileMatches(fs, to, "hw.ini", DirEntry{"hw.ini", true, 0}));  // a folder is no file
  EXPECT_TRUE(FileMatches(fs, to, "hw.ini", DirEntry{"hw.ini", false, 16}));
  EXPECT_EQ(CopyFilesChecked(fs, this->P("nowhere/*.*"), this->P("dst"), 0, 1), 0);
}

TYPED_TEST(FileSystemTest, FindFilesListsMatchesOrTheOneEntryWindowsWouldFind) {
  FileSystem& fs = this->files();
  this->Put("src/File.INI", "12345");
  this->Put("src/sub/x.txt", "1");
  std::vector<DirEntry> found;
  for (const char* pattern : {"src/*.ini", "src/file.ini", "SRC/FILE.INI"}) {
    ASSERT_TRUE(FindFiles(fs, this->P(pattern), &found)) << pattern;
    ASSERT_EQ(found.size(), 1u) << pattern;
    EXPECT_EQ(found[0].name + "=" + std::to_string(found[0].size), "File.INI=5");
    EXPECT_TRUE(found[0].is_regular);
  }
  ASSERT_TRUE(FindFiles(fs, this->P("src/*.*"), &found));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(found[1].is_directory);
  ASSERT_TRUE(FindFiles(fs, this->P("src/*.cab"), &found));
  EXPECT_TRUE(found.empty());
  // Missing, not a folder: the search fails and names the folder.
  for (const char* folder : {"nowhere", "src/File.INI"}) {
    found = {DirEntry{"stale", false, 0}};
    FsError error;
    EXPECT_FALSE(FindFiles(fs, this->P(folder) + kPathSeparator + "*.*", &found, &error)) << folder;
    EXPECT_TRUE(found.empty()) << folder;
    EXPECT_EQ(error.path, this->P(folder));
  }
}

TYPED_TEST(FileSystemTest, LiteralNamesNameOneEntryPatternsStillMatch) {
  if (!TypeParam::WildcardNames()) GTEST_SKIP() << "no file name here holds \"*\" or \"?\"";
  const std::set<std::string> all = {"t*", "tz", "w*.ini", "w?.ini", "wx.ini", "wz.ini"};
  constexpr NameMode kLit = NameMode::kLiteral, kPat = NameMode::kPattern;
  const struct {
    char op;  // c: copy, v: verified copy, d: delete
    const char* name;
    NameMode mode;
    std::set<std::string> src_after, dst_after;
  } cases[] = {
      {'c', "w*.ini", kLit, all, {"w*.ini"}},
      {'c', "W?.INI", kLit, all, {"w?.ini"}},  // in another letter case
      {'c', "w*.ini", kPat, all, {"w*.ini", "w?.ini", "wx.ini", "wz.ini"}},
      {'v', "t*", kLit, all, {"t*"}},
      {'d', "w*.ini", kLit, {"t*", "tz", "w?.ini", "wx.ini", "wz.ini"}, {}},
      {'d', "t*", kLit, {"tz", "w*.ini", "w?.ini", "wx.ini", "wz.ini"}, {}},
      {'d', "w?.ini", kPat, {"t*", "tz"}, {}},  // "?" matches the "*" of w*.ini too
  };
  FileSystem& fs = this->files();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.op) + " " + c.name);
    DeleteFiles(fs, this->P("src"));
    DeleteFiles(fs, this->P("dst"));
    this->MakeLiterals();
    const std::string s = this->P("src/") + c.name, d = this->P("dst");
    EXPECT_EQ(c.op == 'c'   ? CopyFiles(fs, s, d, nullptr, c.mode)
              : c.op == 'v' ? CopyFilesChecked(fs, s, d, 0, 1, nullptr, c.mode)
                            : DeleteFiles(fs, s, nullptr, c.mode),
              1);
    EXPECT_EQ(this->Names("src"), c.src_after);
    EXPECT_EQ(this->Names("dst"), c.dst_after);
    if (c.dst_after.count("w*.ini")) {
      EXPECT_EQ(this->Read("dst/w*.ini"), "content of w*.ini");
    }
    if (c.dst_after.count("t*")) {
      EXPECT_EQ(this->Read("dst/t*/inner/f"), "f");
    }
  }
  // As a literal name "wx*" names a missing file (a pattern would match
  // nothing, a success), and a verified copy of a literal is not verified.
  FsError error;
  EXPECT_EQ(CopyFiles(fs, this->P("src/wx*"), this->P("dst"), &error, kLit), 0);
  EXPECT_NE(error.text.find("wx*"), std::string::npos) << error.text;
  EXPECT_EQ(DeleteFiles(fs, this->P("src/w*.txt"), nullptr, kLit), 0);
  EXPECT_EQ(DeleteFiles(fs, this->P("src/w*.txt")), 1);
  EXPECT_EQ(CopyFilesChecked(fs, this->P("src/*.*"), this->P("dst"), 0, 1, nullptr, kLit), 0);
}

}  // namespace
}  // namespace kestrin
