// Files and folders the Windows way: case-insensitive names and wildcards,
// names holding wildcard characters taken literally, FIFOs where files are
// expected, copying, deleting, verifying, and DOS time stamps.
#include "host/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/dos_time.h"
#include "host/path_resolve.h"
#include "support/child.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::InChild;
using testing::ReadFileOrDie;
using Strings = std::vector<std::string>;

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
  static Strings Tree(const fs::path& root) {
    Strings out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      const std::string rel = entry.path().lexically_relative(root).string();
      out.push_back(entry.is_directory() ? rel + "/" : rel + "=" + ReadFileOrDie(entry.path()));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // Names holding wildcard characters, which a pattern would match besides the literal one.
  void MakeLiterals() {
    for (const std::string name : {"w*.ini", "wx.ini", "w?.ini", "wz.ini"}) {
      Put(src() / name, "content of " + name);
    }
    Put(src() / "t*" / "inner" / "f", "f");
    Put(src() / "tz" / "g", "g");
  }
  // The names in a folder (none when it is missing).
  static std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) names.insert(entry.path().filename());
    return names;
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
  for (const char* bare : {"", "/"}) EXPECT_EQ(ResolvePath(bare), bare);
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
  EXPECT_EQ(Tree(dst() / "s"), (Strings{"a.htm=a", "deeper/", "deeper/b.htm=bb"}));
  ASSERT_EQ(CopyFiles(S(src() / "README.TXT"), S(dst() / "one")), 1);
  ASSERT_EQ(CopyFiles(S(src() / "sub"), S(dst() / "one")), 1);
  EXPECT_EQ(Tree(dst() / "one"), (Strings{"Readme.txt=readme", "sub/", "sub/a.htm=a", "sub/deeper/",
                                        "sub/deeper/b.htm=bb"}));
  ASSERT_EQ(CopyFiles(S(src() / "NOEXT"), S(dst() / "one" / "Readme.txt")), 1);
  EXPECT_EQ(ReadFileOrDie(dst() / "one" / "Readme.txt"), "no extension");
  // Entries existing in another letter case are overwritten, not doubled.
  Put(dst() / "case" / "readme.TXT", "old");
  Put(dst() / "case" / "SUB" / "A.HTM", "old");
  ASSERT_EQ(CopyFiles(S(src() / "*.*"), S(dst() / "case")), 1);
  EXPECT_EQ(Tree(dst() / "case"),
            (Strings{"NOEXT=no extension", "SUB/", "SUB/A.HTM=a", "SUB/deeper/",
                   "SUB/deeper/b.htm=bb", "empty/", "hw.ini=[OEMDriverDisk]\n",
                   "readme.TXT=readme"}));
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
  EXPECT_EQ(Tree(src()), Strings{"drv.cab=cabinet"});
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
  EXPECT_EQ(Tree(dst()), Strings{"lib.so=new content, longer than before"});  // no temporary left
  EXPECT_EQ(fs::status(dst() / "lib.so").permissions(), fs::perms(0440));  // the source's
  EXPECT_EQ(fs::last_write_time(dst() / "lib.so"), when);
}

TEST_F(FileSystemTest, FailuresNameThePathAndSpareTheRest) {
  MakeSource();
  FsError error;
  EXPECT_EQ(CopyFiles(S(src() / "missing.dll"), S(dst()), &error), 0);
  EXPECT_EQ(error.path, S(src() / "missing.dll"));
  EXPECT_NE(error.text.find("No such file"), std::string::npos) << error.text;
  EXPECT_EQ(CopyFiles(S(temp_.path() / "nowhere" / "*.*"), S(dst()), &(error = {})), 0);
  EXPECT_NE(error.text.find("nowhere"), std::string::npos) << error.text;
  Put(temp_.path() / "blocker", "x");  // a file where a folder should be
  EXPECT_EQ(CopyFiles(S(src() / "*.*"), S(temp_.path() / "blocker" / "sub"), &(error = {})), 0);
  EXPECT_NE(error.text.find("blocker"), std::string::npos) << error.text;
  EXPECT_FALSE(fs::exists(dst()));
  // A folder where a file should go: that entry fails, the rest is copied.
  fs::create_directories(dst() / "hw.ini");
  EXPECT_EQ(CopyFiles(S(src() / "*.*"), S(dst()), &(error = {})), 0);
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
  for (const char* name : {"NOEXT", "*.TXT", "*.none"}) {
    EXPECT_EQ(DeleteFiles(S(src() / name), &error), 1) << name << ": " << error.text;
  }
  EXPECT_EQ(Tree(src()), (Strings{"empty/", "hw.ini=[OEMDriverDisk]\n", "sub/", "sub/a.htm=a",
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
    EXPECT_EQ(DeleteFiles(path, &(error = {})), 0) << path;
    EXPECT_FALSE(error.text.empty()) << path;
  }
  Put(src() / "f.txt", "x");
  fs::create_directories(src() / "folder");
  for (const char* name : {"folder", "*.txt"}) EXPECT_FALSE(DeleteSingleFile(S(src() / name)));
  EXPECT_TRUE(DeleteSingleFile(S(src() / "F.txt")));
  EXPECT_FALSE(fs::exists(src() / "f.txt"));
  // A tree nested too deeply fails, inside a wildcard's matches too; the
  // others are deleted all the same.
  fs::path deep = src() / "deep";
  for (int i = 0; i <= kMaxTreeDepth; ++i) deep /= "d";
  fs::create_directories(deep);
  Put(src() / "z.txt", "z");
  for (const std::string& path : {S(src() / "*.*"), S(src() / "deep")}) {
    EXPECT_EQ(DeleteFiles(path, &(error = {})), 0) << path;
    EXPECT_NE(error.text.find("nested too deeply"), std::string::npos) << error.text;
  }
  EXPECT_EQ(Tree(src()).size(), kMaxTreeDepth + 2u);  // deep/ and its d/ folders
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
  const auto seen = [&] {
    return std::vector{counters.files_seen, counters.files_matched, counters.directories_matched};
  };
  EXPECT_EQ(CompareTree(from, to, &counters), 1);
  EXPECT_EQ(seen(), (std::vector{5, 5, 3}));
  Put(dst() / "sub" / "deeper" / "b.htm", "XY");  // only sizes are compared
  EXPECT_EQ(CompareTree(from, to), 1);
  Put(dst() / "sub" / "deeper" / "b.htm", "bbb");  // a size difference deep down
  EXPECT_EQ(CompareTree(from, to, &(counters = {})), 0);
  EXPECT_EQ(counters.files_matched, 4);
  fs::remove_all(dst() / "sub");
  EXPECT_EQ(CompareTree(from, to, &(counters = {})), 0);
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

TEST_F(FileSystemTest, LiteralNamesNameOneEntryPatternsStillMatch) {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.op) + " " + c.name);
    fs::remove_all(src());
    fs::remove_all(dst());
    MakeLiterals();
    const std::string s = S(src() / c.name), d = S(dst());
    EXPECT_EQ(c.op == 'c' ? CopyFiles(s, d, nullptr, c.mode)
              : c.op == 'v' ? CopyFilesChecked(s, d, 0, 1, nullptr, c.mode)
                            : DeleteFiles(s, nullptr, c.mode),
              1);
    EXPECT_EQ(Names(src()), c.src_after);
    EXPECT_EQ(Names(dst()), c.dst_after);
    if (c.dst_after.count("w*.ini")) {
      EXPECT_EQ(ReadFileOrDie(dst() / "w*.ini"), "content of w*.ini");
    }
    if (c.dst_after.count("t*")) {
      EXPECT_EQ(ReadFileOrDie(dst() / "t*" / "inner" / "f"), "f");
    }
  }
}

TEST_F(FileSystemTest, LiteralNamesEmptyDestinationsAndFifosFailWhereAPatternWouldNot) {
  MakeLiterals();
  // "w*.txt" would match nothing as a pattern (a success); as a literal name
  // it names a missing file.
  FsError error;
  EXPECT_EQ(CopyFiles(S(src() / "wx*"), S(dst()), &error, NameMode::kLiteral), 0);
  EXPECT_NE(error.text.find("wx*"), std::string::npos) << error.text;
  EXPECT_EQ(DeleteFiles(S(src() / "w*.txt"), nullptr, NameMode::kLiteral), 0);
  EXPECT_EQ(DeleteFiles(S(src() / "w*.txt")), 1);
  EXPECT_EQ(Names(src()).size(), 6u);
  // A verified copy of a literal name is not verified as a folder pattern.
  EXPECT_EQ(CopyFilesChecked(S(src() / "*.*"), S(dst()), 0, 1, nullptr, NameMode::kLiteral), 0);
  // A source folder whose only entry is a folder also found in "/": were an
  // empty destination taken for "/", the verification would hold.
  fs::create_directories(src() / "only" / "tmp");
  EXPECT_EQ(CopyFilesChecked(S(src() / "only" / "*.*"), "", 0, 1), 0);
  EXPECT_EQ(CopyFilesChecked(S(src() / "only" / "*.*"), "", 0, 0), 0);

  // A FIFO is no regular file, and nothing waits on it.
  const fs::path fifo = src() / "pipe.cab";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // Alone, and inside a folder copied whole: the FIFO is refused, the rest
  // of the folder still arrives.
  const auto copy_fifo = [&] {
    FsError error;
    const int copied = CopyFiles(fifo.string(), dst().string(), &error, NameMode::kLiteral);
    return copied == 0 && error.text.find("not a regular file") != std::string::npos ? 0 : 1;
  };
  EXPECT_EQ(InChild(copy_fifo), 0);
  EXPECT_EQ(InChild([&] { return CopyFiles((src() / "*.*").string(), dst().string()); }), 0);
  EXPECT_TRUE(fs::exists(dst() / "wx.ini"));
  EXPECT_FALSE(fs::exists(dst() / "pipe.cab"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(FindFiles((src() / "*.*").string(), &entries));
  for (const DirEntry& entry : entries) {
    EXPECT_EQ(entry.is_regular, entry.name != "pipe.cab" && !entry.is_directory) << entry.name;
  }
}

uint16_t Date(int y, int m, int d) { return static_cast<uint16_t>((y - 1980) << 9 | m << 5 | d); }
uint16_t Time(int h, int m, int s) { return static_cast<uint16_t>(h << 11 | m << 5 | s / 2); }

TEST(DosTimeTest, LocalTimeWithTheOffsetOfThatDate) {
  // Central European time; the old zone is re-read after tz restores it.
  struct Retzset { ~Retzset() { tzset(); } } retzset;
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
    EXPECT_EQ(c.utc == -1 ? time_t{-1} : t, c.utc);
  }
}

}  // namespace
}  // namespace kestrin
