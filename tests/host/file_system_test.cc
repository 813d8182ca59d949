// Files and folders the Windows way: case-insensitive names and wildcards,
// copying, deleting, verifying, and DOS time stamps.
#include "host/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "host/dos_time.h"
#include "host/path_resolve.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using Names = std::vector<std::string>;

class FileSystemTest : public ::testing::Test {
 protected:
  // A bundle-like source: files, a subfolder with a nested one, an empty folder.
  void MakeSource() {
    Put(src() / "Readme.txt", "readme");
    Put(src() / "hw.ini", "[OEMDriverDisk]\n");
    Put(src() / "NOEXT", "no extension");
    Put(src() / "sub" / "a.htm", "a");
    Put(src() / "sub" / "deeper" / "b.htm", "bb");
    fs::create_directories(src() / "empty");
  }
  static void Put(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    testing::WriteFileOrDie(path, content);
  }
  // Every entry below root, sorted: "rel/path=content" or "rel/path/".
  static Names Tree(const fs::path& root) {
    Names out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      const std::string rel = entry.path().lexically_relative(root).string();
      out.push_back(entry.is_directory() ? rel + "/" : rel + "=" + ReadFileOrDie(entry.path()));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  fs::path src() const { return temp_.path() / "src"; }
  fs::path dst() const { return temp_.path() / "dst"; }
  static std::string S(const fs::path& p) { return p.string(); }
  testing::ScopedTempDir temp_;
};

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

TEST_F(FileSystemTest, ResolvePathFindsEntriesIgnoringCase) {
  const std::string root = S(temp_.path());
  Put(temp_.path() / "home" / "ann" / "bundles" / "drv.cab", "x");
  for (const char* name : {"data.ini", "DATA.INI", "Data.ini"}) Put(temp_.path() / name, name);
  const struct {
    std::string given;
    std::string resolved;
  } cases[] = {
      {"/HOME/ANN/BUNDLES/DRV.CAB", "/home/ann/bundles/drv.cab"},
      {"/Home/Ann/Bundles/", "/home/ann/bundles/"},
      {"//home///ann/bundles", "/home/ann/bundles"},
      // A missing component and everything after it keep the given spelling.
      {"/HOME/ANN/NEW/SUB.CAB", "/home/ann/NEW/SUB.CAB"},
      {"/HOME/./ANN/../ANN", "/home/./ann/../ann"},
      // An exact match wins, else the first in byte order.
      {"/Data.ini", "/Data.ini"}, {"/data.ini", "/data.ini"}, {"/dAtA.iNi", "/DATA.INI"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolvePath(root + c.given), root + c.resolved) << c.given;
  EXPECT_EQ(ResolvePath(""), "");
  EXPECT_EQ(ResolvePath("/"), "/");
  const fs::path old_dir = fs::current_path();
  fs::current_path(temp_.path());
  EXPECT_EQ(ResolvePath("HOME/ANN"), "home/ann");
  EXPECT_EQ(ResolvePath("./hOmE"), "./home");
  fs::current_path(old_dir);
}

TEST_F(FileSystemTest, CopyTakesWildcardsFilesAndFoldersInAnyCase) {
  MakeSource();
  FsError error;
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(dst() / "new" / "deep"), &error), 1) << error.text;
  EXPECT_EQ(Tree(dst() / "new" / "deep"), Tree(src()));
  ASSERT_EQ(CopyFiles(S(temp_.path() / "SRC" / "SUB" / "*.*"), S(dst() / "s") + "/"), 1);
  EXPECT_EQ(Tree(dst() / "s"), (Names{"a.htm=a", "deeper/", "deeper/b.htm=bb"}));
  ASSERT_EQ(CopyFiles(S(src() / "README.TXT"), S(dst() / "one")), 1);
  ASSERT_EQ(CopyFiles(S(src() / "sub"), S(dst() / "one")), 1);
  EXPECT_EQ(Tree(dst() / "one"), (Names{"Readme.txt=readme", "sub/", "sub/a.htm=a", "sub/deeper/",
                                        "sub/deeper/b.htm=bb"}));
  ASSERT_EQ(CopyFiles(S(src() / "NOEXT"), S(dst() / "one" / "Readme.txt")), 1);
  EXPECT_EQ(ReadFileOrDie(dst() / "one" / "Readme.txt"), "no extension");
  // Entries existing in another letter case are overwritten, not doubled.
  Put(dst() / "case" / "readme.TXT", "old");
  Put(dst() / "case" / "SUB" / "A.HTM", "old");
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(dst() / "case")), 1);
  EXPECT_EQ(ReadFileOrDie(dst() / "case" / "readme.TXT"), "readme");
  EXPECT_EQ(ReadFileOrDie(dst() / "case" / "SUB" / "A.HTM"), "a");
  EXPECT_FALSE(fs::exists(dst() / "case" / "Readme.txt"));
  EXPECT_FALSE(fs::exists(dst() / "case" / "sub"));
  // Into its own subfolder: the copy does not chase itself.
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(src() / "sub" / "copy")), 1);
  EXPECT_EQ(ReadFileOrDie(src() / "sub" / "copy" / "sub" / "a.htm"), "a");
  EXPECT_FALSE(fs::exists(src() / "sub" / "copy" / "sub" / "copy"));
}

TEST_F(FileSystemTest, CopyOntoItselfTouchesNothing) {
  Put(src() / "drv.cab", "cabinet");
  const fs::path file = src() / "drv.cab";
  struct stat before, after;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  EXPECT_EQ(CopyFiles(S(src() / "DRV.CAB"), S(temp_.path() / "SRC")), 1);
  EXPECT_EQ(CopyFiles(S(src() / "*.*"), S(src())), 1);
  fs::create_directories(dst());
  fs::create_hard_link(file, dst() / "drv.cab");
  EXPECT_EQ(CopyFiles(S(file), S(dst())), 1);
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(Tree(src()), Names{"drv.cab=cabinet"});
}

TEST_F(FileSystemTest, ReadOnlyDestinationIsReplacedWhole) {
  Put(src() / "lib.so", "new content, longer than before");
  Put(dst() / "lib.so", "old");
  chmod((dst() / "lib.so").c_str(), 0444);
  chmod((src() / "lib.so").c_str(), 0440);
  const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  fs::last_write_time(src() / "lib.so", when);
  FsError error;
  ASSERT_EQ(CopyFiles(S(src() / "lib.so"), S(dst()), &error), 1) << error.text;
  EXPECT_EQ(Tree(dst()), Names{"lib.so=new content, longer than before"});  // no temporary left
  struct stat st;
  ASSERT_EQ(stat((dst() / "lib.so").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0440u);  // the source's permissions and time
  EXPECT_EQ(fs::last_write_time(dst() / "lib.so"), when);
}

TEST_F(FileSystemTest, FailuresNameThePathAndSpareTheRest) {
  MakeSource();
  FsError error;
  EXPECT_EQ(CopyFiles(S(src() / "missing.dll"), S(dst()), &error), 0);
  EXPECT_EQ(error.path, S(src() / "missing.dll"));
  EXPECT_NE(error.text.find("No such file"), std::string::npos) << error.text;
  error = {};
  EXPECT_EQ(CopyFiles(S(temp_.path() / "nowhere" / "*.*"), S(dst()), &error), 0);
  EXPECT_NE(error.text.find("nowhere"), std::string::npos) << error.text;
  EXPECT_FALSE(fs::exists(dst()));
  Put(temp_.path() / "blocker", "x");  // a file where a folder should be
  error = {};
  EXPECT_EQ(CopyFiles(S(src() / "*.*"), S(temp_.path() / "blocker" / "sub"), &error), 0);
  EXPECT_FALSE(error.text.empty());
  // A folder where a file should go: that entry fails, the rest is copied.
  fs::create_directories(dst() / "hw.ini");
  error = {};
  EXPECT_EQ(CopyFiles(S(src() / "*.*"), S(dst()), &error), 0);
  EXPECT_EQ(error.path, S(dst() / "hw.ini"));
  EXPECT_EQ(ReadFileOrDie(dst() / "sub" / "deeper" / "b.htm"), "bb");
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
  EXPECT_EQ(DeleteFiles(S(src() / "*.none"), &error), 1) << error.text;
  EXPECT_EQ(Tree(src()), (Names{"empty/", "hw.ini=[OEMDriverDisk]\n", "sub/", "sub/a.htm=a",
                                "sub/deeper/", "sub/deeper/b.htm=bb", "sub/link/"}));
  // "*.*" empties the folder, read-only entries and links included; the
  // link's target stays. A folder by name goes with everything in it.
  EXPECT_EQ(DeleteFiles(S(temp_.path() / "SRC" / "SUB" / "*.*"), &error), 1) << error.text;
  EXPECT_TRUE(fs::is_empty(src() / "sub"));
  EXPECT_EQ(ReadFileOrDie(temp_.path() / "outside" / "keep.txt"), "keep");
  EXPECT_EQ(DeleteFiles(S(src()) + "/", &error), 1) << error.text;
  EXPECT_FALSE(fs::exists(src()));
  for (const std::string& path : {S(src() / "gone.txt"), S(src() / "*.*"), std::string(),
                                  std::string("/"), std::string("/*.*")}) {
    error = {};
    EXPECT_EQ(DeleteFiles(path, &error), 0) << path;
    EXPECT_FALSE(error.text.empty()) << path;
  }
  Put(src() / "f.txt", "x");
  fs::create_directories(src() / "folder");
  EXPECT_FALSE(DeleteSingleFile(S(src() / "folder")));
  EXPECT_FALSE(DeleteSingleFile(S(src() / "*.txt")));
  EXPECT_TRUE(DeleteSingleFile(S(src() / "F.txt")));
  EXPECT_FALSE(fs::exists(src() / "f.txt"));
}

TEST_F(FileSystemTest, CreateDirectoryTreeAndSetReadOnly) {
  const fs::path t = temp_.path();
  FsError error;
  EXPECT_EQ(CreateDirectoryTree(S(t / "a" / "b" / "c"), &error), 1) << error.text;
  EXPECT_EQ(CreateDirectoryTree(S(t / "A" / "B")), 0);  // exists already, in another case
  EXPECT_EQ(CreateDirectoryTree(S(t / "A" / "B" / "New")), 1);
  EXPECT_TRUE(fs::is_directory(t / "a" / "b" / "New"));
  Put(t / "file", "x");
  EXPECT_EQ(CreateDirectoryTree(S(t / "file" / "sub"), &error), 0);
  EXPECT_FALSE(error.text.empty());
  EXPECT_EQ(CreateDirectoryTree(""), 0);

  chmod((t / "file").c_str(), 0664);
  ASSERT_TRUE(SetReadOnly(S(t / "FILE"), true));
  EXPECT_EQ(fs::status(t / "file").permissions(), fs::perms(0444));
  ASSERT_TRUE(SetReadOnly(S(t / "file"), false));
  EXPECT_NE(fs::status(t / "file").permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_FALSE(SetReadOnly(S(t / "missing"), true));
}

TEST_F(FileSystemTest, VerificationPassComparesNamesExactlyAndSizes) {
  MakeSource();
  // A dangling link cannot be copied; once the destination holds an entry of
  // that exact name and size, the verified copy counts as done.
  const std::string target = "missing-target";
  ASSERT_EQ(symlink(target.c_str(), S(src() / "broken").c_str()), 0);
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 1), 0);
  Put(dst() / "broken", std::string(target.size(), 'x'));
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 1), 1);
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 0), 0);
  fs::rename(dst() / "broken", dst() / "BROKEN");
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 1), 0);
  EXPECT_EQ(CopyFilesChecked(S(temp_.path() / "nowhere" / "*.*"), S(dst()), 0, 1), 0);
  fs::remove(src() / "broken");
  fs::remove_all(dst());
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(dst())), 1);

  const std::string from = S(src()) + "/", to = S(dst()) + "/";
  TreeCounters counters;
  EXPECT_EQ(CompareTree(from, to, &counters), 1);
  EXPECT_EQ(counters.files_seen, 5);
  EXPECT_EQ(counters.files_matched, 5);
  EXPECT_EQ(counters.directories_matched, 3);
  Put(dst() / "sub" / "deeper" / "b.htm", "XY");  // only sizes are compared
  EXPECT_EQ(CompareTree(from, to), 1);
  Put(dst() / "sub" / "deeper" / "b.htm", "bbb");  // a size difference deep down
  counters = {};
  EXPECT_EQ(CompareTree(from, to, &counters), 0);
  EXPECT_EQ(counters.files_matched, 4);
  fs::remove_all(dst() / "sub");
  counters = {};
  EXPECT_EQ(CompareTree(from, to, &counters), 0);
  EXPECT_EQ(counters.directories_matched, 1);
  EXPECT_EQ(CompareTree(S(src() / "empty") + "/", S(temp_.path() / "nowhere") + "/"), 1);
  EXPECT_EQ(CompareTree(S(temp_.path() / "nowhere") + "/", to), 0);
  EXPECT_FALSE(FileMatches(to, "hw.ini", DirEntry{"hw.ini", false, 16ull + (1ull << 32)}));
  EXPECT_FALSE(FileMatches(to, "HW.INI", DirEntry{"HW.INI", false, 16}));
  EXPECT_FALSE(FileMatches(to, "hw.ini", DirEntry{"hw.ini", true, 0}));  // a folder is no file
}

// Missing, not a folder, or (except for root) without read permission.
TEST_F(FileSystemTest, FindFilesFailsOnAFolderItCannotRead) {
  Put(temp_.path() / "file", "x");
  fs::create_directories(src());
  std::vector<std::string> folders = {S(temp_.path() / "nowhere"), S(temp_.path() / "file")};
  if (geteuid() != 0) {
    chmod(src().c_str(), 0);
    folders.push_back(S(src()));
  }
  for (const std::string& folder : folders) {
    std::vector<DirEntry> entries{DirEntry{"stale", false, 0}};
    FsError error;
    EXPECT_FALSE(FindFiles(folder + "/*.*", &entries, &error)) << folder;
    EXPECT_TRUE(entries.empty()) << folder;
    EXPECT_EQ(error.path, folder);
  }
  chmod(src().c_str(), 0755);
}

uint16_t Date(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
uint16_t Time(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

TEST(DosTimeTest, LocalTimeWithTheOffsetOfThatDate) {
  // Central European time; the old zone is re-read after tz restores it.
  struct Retzset {
    ~Retzset() { tzset(); }
  } retzset;
  const testing::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  tzset();
  const struct {
    uint16_t date, time;
    time_t utc;  // -1: refused
  } cases[] = {
      {Date(1980, 1, 1), Time(0, 0, 0), 315529200},     {Date(2024, 1, 15), Time(12, 30, 58), 1705318258},
      {Date(2024, 7, 15), Time(12, 30, 58), 1721039458}, {Date(2024, 2, 29), Time(23, 59, 58), 1709247598},
      {Date(2107, 12, 31), Time(23, 59, 58), 4354815598}, {Date(2024, 0, 1), 0, -1}, {Date(2024, 13, 1), 0, -1},
      {Date(2024, 1, 0), 0, -1}, {Date(2023, 2, 29), 0, -1}, {Date(2024, 4, 31), 0, -1},
      {Date(2024, 1, 1), Time(24, 0, 0), -1}, {Date(2024, 1, 1), Time(0, 60, 0), -1}, {Date(2024, 1, 1), 30, -1},
  };
  for (const auto& c : cases) {
    time_t t = -1;
    EXPECT_EQ(DosDateTimeToTimeT(c.date, c.time, &t), c.utc != -1) << c.date << " " << c.time;
    if (c.utc != -1) {
      EXPECT_EQ(t, c.utc);
    }
  }
}

}  // namespace
}  // namespace kestrin
