#include "host/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::ScopedTempDir;

// Writes a file, creating its folders.
void Put(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  testing::WriteFileOrDie(path, content);
}

// Every file below `root` as "relative/path=content", sorted; folders as
// "relative/path/".
std::vector<std::string> Tree(const fs::path& root) {
  std::vector<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string rel = entry.path().lexically_relative(root).string();
    if (entry.is_directory()) {
      out.push_back(rel + "/");
    } else {
      out.push_back(rel + "=" + ReadFileOrDie(entry.path()));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

class FileSystemTest : public ::testing::Test {
 protected:
  // A bundle-like source: files, a subfolder with a nested one.
  void MakeSource() {
    Put(src() / "Readme.txt", "readme");
    Put(src() / "hw.ini", "[OEMDriverDisk]\n");
    Put(src() / "NOEXT", "no extension");
    Put(src() / "sub" / "a.htm", "a");
    Put(src() / "sub" / "deeper" / "b.htm", "bb");
    fs::create_directories(src() / "empty");
  }
  fs::path src() const { return temp_.path() / "src"; }
  fs::path dst() const { return temp_.path() / "dst"; }
  std::string S(const fs::path& p) const { return p.string(); }

  ScopedTempDir temp_;
};

TEST_F(FileSystemTest, WildcardCopyTakesSubfoldersAndCreatesDestination) {
  MakeSource();
  FsError error;
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(dst() / "new" / "deep"), &error), 1) << error.text;
  EXPECT_EQ(Tree(dst() / "new" / "deep"), Tree(src()));
  // Again: everything is overwritten in place, nothing added.
  Put(src() / "sub" / "a.htm", "changed");
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(dst() / "new" / "deep") + "/", &error), 1) << error.text;
  EXPECT_EQ(Tree(dst() / "new" / "deep"), Tree(src()));
}

TEST_F(FileSystemTest, PatternCopyMatchesIgnoringCase) {
  MakeSource();
  Put(src() / "OTHER.INI", "other");
  Put(src() / "x.ini.bak", "bak");
  ASSERT_EQ(CopyFiles(S(src() / "*.INI"), S(dst())), 1);
  EXPECT_EQ(Tree(dst()), (std::vector<std::string>{"OTHER.INI=other", "hw.ini=[OEMDriverDisk]\n"}));
  // The source folder itself may be spelled in any case.
  ASSERT_EQ(CopyFiles(S(temp_.path() / "SRC" / "SUB" / "*.*"), S(dst() / "s")), 1);
  EXPECT_EQ(Tree(dst() / "s"), (std::vector<std::string>{"a.htm=a", "deeper/", "deeper/b.htm=bb"}));
}

TEST_F(FileSystemTest, FileAndFolderSources) {
  MakeSource();
  fs::create_directories(dst());
  ASSERT_EQ(CopyFiles(S(src() / "README.TXT"), S(dst())), 1);
  ASSERT_EQ(CopyFiles(S(src() / "sub"), S(dst())), 1);
  EXPECT_EQ(Tree(dst()), (std::vector<std::string>{"Readme.txt=readme", "sub/", "sub/a.htm=a",
                                                   "sub/deeper/", "sub/deeper/b.htm=bb"}));
  // Onto a named existing file.
  Put(dst() / "target.bin", "old");
  ASSERT_EQ(CopyFiles(S(src() / "NOEXT"), S(dst() / "target.bin")), 1);
  EXPECT_EQ(ReadFileOrDie(dst() / "target.bin"), "no extension");
}

TEST_F(FileSystemTest, ExistingEntryInOtherCaseIsReused) {
  MakeSource();
  Put(dst() / "readme.TXT", "old");
  Put(dst() / "SUB" / "A.HTM", "old");
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(dst())), 1);
  EXPECT_EQ(ReadFileOrDie(dst() / "readme.TXT"), "readme");
  EXPECT_EQ(ReadFileOrDie(dst() / "SUB" / "A.HTM"), "a");
  EXPECT_FALSE(fs::exists(dst() / "Readme.txt"));
  EXPECT_FALSE(fs::exists(dst() / "sub"));
}

TEST_F(FileSystemTest, CopyOntoItselfTouchesNothing) {
  Put(src() / "drv.cab", "cabinet");
  const fs::path file = src() / "drv.cab";
  const auto before = fs::last_write_time(file);
  struct stat st_before;
  ASSERT_EQ(stat(file.c_str(), &st_before), 0);
  FsError error;
  EXPECT_EQ(CopyFiles(S(file), S(src()), &error), 1) << error.text;
  EXPECT_EQ(CopyFiles(S(src() / "DRV.CAB"), S(temp_.path() / "SRC")), 1);
  EXPECT_EQ(CopyFiles(S(src() / "*.*"), S(src())), 1);
  struct stat st_after;
  ASSERT_EQ(stat(file.c_str(), &st_after), 0);
  EXPECT_EQ(st_after.st_ino, st_before.st_ino);
  EXPECT_EQ(fs::last_write_time(file), before);
  EXPECT_EQ(Tree(src()), std::vector<std::string>{"drv.cab=cabinet"});
  // Through a hard link: same inode, also nothing to do.
  fs::create_directories(dst());
  fs::create_hard_link(file, dst() / "drv.cab");
  EXPECT_EQ(CopyFiles(S(file), S(dst())), 1);
  EXPECT_EQ(ReadFileOrDie(dst() / "drv.cab"), "cabinet");
}

TEST_F(FileSystemTest, ReadOnlyDestinationIsReplacedWhole) {
  Put(src() / "lib.so", "new content, longer than before");
  Put(dst() / "lib.so", "old");
  chmod((dst() / "lib.so").c_str(), 0444);
  chmod((src() / "lib.so").c_str(), 0640);
  FsError error;
  ASSERT_EQ(CopyFiles(S(src() / "lib.so"), S(dst()), &error), 1) << error.text;
  EXPECT_EQ(ReadFileOrDie(dst() / "lib.so"), "new content, longer than before");
  struct stat st;
  ASSERT_EQ(stat((dst() / "lib.so").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // the source's permissions
  EXPECT_EQ(Tree(dst()).size(), 1u);     // no temporary file left
}

TEST_F(FileSystemTest, CopyKeepsModificationTimeAndReadOnly) {
  Put(src() / "form.prn", "form");
  const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  fs::last_write_time(src() / "form.prn", when);
  chmod((src() / "form.prn").c_str(), 0444);
  ASSERT_EQ(CopyFiles(S(src() / "form.prn"), S(dst())), 1);
  EXPECT_EQ(fs::last_write_time(dst() / "form.prn"), when);
  EXPECT_TRUE(IsReadOnly(S(dst() / "FORM.PRN")));
}

TEST_F(FileSystemTest, FailuresNameThePath) {
  MakeSource();
  FsError error;
  EXPECT_EQ(CopyFiles(S(src() / "missing.dll"), S(dst()), &error), 0);
  EXPECT_EQ(error.path, S(src() / "missing.dll"));
  EXPECT_NE(error.text.find("No such file"), std::string::npos) << error.text;

  error = {};
  EXPECT_EQ(CopyFiles(S(temp_.path() / "nowhere" / "*.*"), S(dst()), &error), 0);
  EXPECT_NE(error.text.find("nowhere"), std::string::npos) << error.text;
  EXPECT_FALSE(fs::exists(dst()));

  // A file stands where the destination folder should be.
  Put(temp_.path() / "blocker", "x");
  error = {};
  EXPECT_EQ(CopyFiles(S(src() / "*.*"), S(temp_.path() / "blocker" / "sub"), &error), 0);
  EXPECT_FALSE(error.text.empty());

  // A folder stands where a file should go: that entry fails, the rest is copied.
  fs::create_directories(dst() / "hw.ini");
  error = {};
  EXPECT_EQ(CopyFiles(S(src() / "*.*"), S(dst()), &error), 0);
  EXPECT_EQ(error.path, S(dst() / "hw.ini"));
  EXPECT_EQ(ReadFileOrDie(dst() / "sub" / "deeper" / "b.htm"), "bb");

  if (geteuid() != 0) {  // root may write anywhere
    fs::create_directories(temp_.path() / "locked");
    Put(temp_.path() / "locked" / "Readme.txt", "keep");
    chmod((temp_.path() / "locked").c_str(), 0555);
    error = {};
    EXPECT_EQ(CopyFiles(S(src() / "Readme.txt"), S(temp_.path() / "locked"), &error), 0);
    EXPECT_EQ(ReadFileOrDie(temp_.path() / "locked" / "Readme.txt"), "keep");
    EXPECT_NE(error.text.find("locked"), std::string::npos) << error.text;
    chmod((temp_.path() / "locked").c_str(), 0755);
  }
}

TEST_F(FileSystemTest, CopyIntoOwnSubfolderEnds) {
  MakeSource();
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(src() / "sub" / "copy")), 1);
  EXPECT_EQ(ReadFileOrDie(src() / "sub" / "copy" / "Readme.txt"), "readme");
  EXPECT_EQ(ReadFileOrDie(src() / "sub" / "copy" / "sub" / "a.htm"), "a");
  EXPECT_FALSE(fs::exists(src() / "sub" / "copy" / "sub" / "copy"));
}

TEST_F(FileSystemTest, DeleteWhatThePathNames) {
  MakeSource();
  symlink(S(temp_.path() / "outside").c_str(), S(src() / "sub" / "link").c_str());
  Put(temp_.path() / "outside" / "keep.txt", "keep");
  chmod((src() / "sub" / "deeper").c_str(), 0555);
  chmod((src() / "sub" / "a.htm").c_str(), 0444);

  FsError error;
  EXPECT_EQ(DeleteFiles(S(src() / "NOEXT"), &error), 1) << error.text;
  EXPECT_EQ(DeleteFiles(S(src() / "*.TXT"), &error), 1) << error.text;
  EXPECT_EQ(Tree(src()), (std::vector<std::string>{"empty/", "hw.ini=[OEMDriverDisk]\n", "sub/",
                                                   "sub/a.htm=a", "sub/deeper/", "sub/deeper/b.htm=bb",
                                                   "sub/link/"}));
  // A pattern that matches nothing in an existing folder.
  EXPECT_EQ(DeleteFiles(S(src() / "*.none"), &error), 1) << error.text;
  // "*.*" empties the folder, read-only entries and links included; the
  // link's target stays.
  EXPECT_EQ(DeleteFiles(S(temp_.path() / "SRC" / "SUB" / "*.*"), &error), 1) << error.text;
  EXPECT_TRUE(fs::is_empty(src() / "sub"));
  EXPECT_EQ(ReadFileOrDie(temp_.path() / "outside" / "keep.txt"), "keep");
  // A folder by name goes with everything in it.
  EXPECT_EQ(DeleteFiles(S(src()) + "/", &error), 1) << error.text;
  EXPECT_FALSE(fs::exists(src()));

  error = {};
  EXPECT_EQ(DeleteFiles(S(src() / "gone.txt"), &error), 0);
  EXPECT_FALSE(error.text.empty());
  EXPECT_EQ(DeleteFiles(S(src() / "*.*"), &error), 0);
  EXPECT_EQ(DeleteFiles("", &error), 0);
  EXPECT_EQ(DeleteFiles("/", &error), 0);
  EXPECT_EQ(DeleteFiles("/*.*", &error), 0);
}

TEST_F(FileSystemTest, CreateDirectoryTree) {
  FsError error;
  EXPECT_EQ(CreateDirectoryTree(S(temp_.path() / "a" / "b" / "c"), &error), 1) << error.text;
  EXPECT_TRUE(fs::is_directory(temp_.path() / "a" / "b" / "c"));
  EXPECT_EQ(CreateDirectoryTree(S(temp_.path() / "a" / "b" / "c")), 0);  // exists already
  EXPECT_EQ(CreateDirectoryTree(S(temp_.path() / "A" / "B")), 0);        // in another case too
  EXPECT_EQ(CreateDirectoryTree(S(temp_.path() / "A" / "B" / "New")), 1);
  EXPECT_TRUE(fs::is_directory(temp_.path() / "a" / "b" / "New"));
  Put(temp_.path() / "file", "x");
  error = {};
  EXPECT_EQ(CreateDirectoryTree(S(temp_.path() / "file" / "sub"), &error), 0);
  EXPECT_FALSE(error.text.empty());
  EXPECT_EQ(CreateDirectoryTree(""), 0);
}

TEST_F(FileSystemTest, VerifiedCopyCountsWhenEverythingArrived) {
  MakeSource();
  // A dangling link cannot be copied, so the copy reports a failure.
  const std::string target = "missing-target";
  ASSERT_EQ(symlink(target.c_str(), S(src() / "broken").c_str()), 0);
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 0), 0);
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 1), 0);  // "broken" is missing
  // Once the destination has an entry of that name and size, the verified
  // copy counts as done; the unverified one still fails.
  Put(dst() / "broken", std::string(target.size(), 'x'));
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 1), 1);
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 0), 0);
  // The same name in another letter case is no match.
  fs::rename(dst() / "broken", dst() / "BROKEN");
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 1), 0);
  // A source folder that does not exist.
  EXPECT_EQ(CopyFilesChecked(S(temp_.path() / "nowhere" / "*.*"), S(dst()), 0, 1), 0);
}

TEST_F(FileSystemTest, CompareTreeCountsTheWholeTree) {
  MakeSource();
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(dst())), 1);
  TreeCounters counters;
  EXPECT_EQ(CompareTree(S(src()) + "/", S(dst()) + "/", &counters), 1);
  EXPECT_EQ(counters.files_seen, 5);
  EXPECT_EQ(counters.files_matched, 5);
  EXPECT_EQ(counters.directories_seen, 3);
  EXPECT_EQ(counters.directories_matched, 3);

  // A size difference deep down spoils the outermost result.
  Put(dst() / "sub" / "deeper" / "b.htm", "bbb");
  counters = {};
  EXPECT_EQ(CompareTree(S(src()) + "/", S(dst()) + "/", &counters), 0);
  EXPECT_EQ(counters.files_matched, 4);
  // Same size, other content: sizes are all that is compared.
  Put(dst() / "sub" / "deeper" / "b.htm", "XY");
  EXPECT_EQ(CompareTree(S(src()) + "/", S(dst()) + "/"), 1);
  // A missing subfolder: neither it nor its contents match.
  fs::remove_all(dst() / "sub");
  counters = {};
  EXPECT_EQ(CompareTree(S(src()) + "/", S(dst()) + "/", &counters), 0);
  EXPECT_EQ(counters.directories_matched, 1);
  EXPECT_EQ(counters.files_matched, 3);
  // An empty source matches anything; a missing one nothing.
  EXPECT_EQ(CompareTree(S(src() / "empty") + "/", S(temp_.path() / "nowhere") + "/"), 1);
  EXPECT_EQ(CompareTree(S(temp_.path() / "nowhere") + "/", S(dst()) + "/"), 0);
}

TEST_F(FileSystemTest, FileMatchesExactNameKindAndSize) {
  Put(dst() / "a.txt", "12345");
  fs::create_directories(dst() / "Dir");
  const std::string dir = S(dst()) + "/";
  EXPECT_TRUE(FileMatches(dir, "a.txt", DirEntry{"a.txt", false, 5}));
  EXPECT_FALSE(FileMatches(dir, "A.TXT", DirEntry{"A.TXT", false, 5}));
  EXPECT_FALSE(FileMatches(dir, "a.txt", DirEntry{"a.txt", false, 4}));
  EXPECT_FALSE(FileMatches(dir, "a.txt", DirEntry{"a.txt", false, 5ull + (1ull << 32)}));
  EXPECT_TRUE(FileMatches(dir, "Dir", DirEntry{"Dir", true, 0}));
  EXPECT_FALSE(FileMatches(dir, "dir", DirEntry{"dir", true, 0}));
  EXPECT_FALSE(FileMatches(dir, "Dir", DirEntry{"Dir", false, 0}));
}

TEST_F(FileSystemTest, FindFilesSortedIgnoringCase) {
  MakeSource();
  Put(src() / "B.CAB", "12");
  Put(src() / "a.cab", "1");
  Put(src() / "c.cab.txt", "");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(FindFiles(S(temp_.path() / "SRC" / "*.cab"), &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "B.CAB");
  EXPECT_EQ(entries[0].size, 2u);
  EXPECT_EQ(entries[1].name, "a.cab");
  ASSERT_TRUE(FindFiles(S(src() / "*.*"), &entries));
  EXPECT_EQ(entries.size(), 8u);
  ASSERT_TRUE(FindFiles(S(src() / "SUB"), &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "sub");
  EXPECT_TRUE(entries[0].is_directory);
  ASSERT_TRUE(FindFiles(S(src() / "*.xyz"), &entries));
  EXPECT_TRUE(entries.empty());
  FsError error;
  EXPECT_FALSE(FindFiles(S(temp_.path() / "nowhere" / "*.*"), &entries, &error));
  EXPECT_FALSE(error.text.empty());

  EXPECT_TRUE(PathExists(S(temp_.path() / "SRC" / "HW.INI")));
  EXPECT_TRUE(IsRegularFile(S(temp_.path() / "SRC" / "HW.INI")));
  EXPECT_FALSE(IsDirectory(S(temp_.path() / "SRC" / "HW.INI")));
  EXPECT_TRUE(IsDirectory(S(temp_.path() / "SRC" / "Sub")));
  EXPECT_FALSE(PathExists(S(temp_.path() / "SRC" / "nothing")));
  EXPECT_FALSE(PathExists(""));
}

TEST_F(FileSystemTest, ReadOnlyAttributeAndSingleDelete) {
  Put(src() / "f.txt", "x");
  chmod((src() / "f.txt").c_str(), 0664);
  ASSERT_TRUE(SetReadOnly(S(src() / "F.TXT"), true));
  struct stat st;
  ASSERT_EQ(stat((src() / "f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_TRUE(IsReadOnly(S(src() / "f.txt")));
  ASSERT_TRUE(SetReadOnly(S(src() / "f.txt"), false));
  EXPECT_FALSE(IsReadOnly(S(src() / "f.txt")));
  ASSERT_EQ(stat((src() / "f.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  FsError error;
  EXPECT_FALSE(SetReadOnly(S(src() / "missing"), true, &error));
  EXPECT_FALSE(error.text.empty());

  fs::create_directories(src() / "folder");
  EXPECT_FALSE(DeleteSingleFile(S(src() / "folder")));
  EXPECT_FALSE(DeleteSingleFile(S(src() / "*.txt")));
  EXPECT_TRUE(fs::exists(src() / "f.txt"));
  EXPECT_TRUE(DeleteSingleFile(S(src() / "F.txt")));
  EXPECT_FALSE(fs::exists(src() / "f.txt"));
}

}  // namespace
}  // namespace kestrin
