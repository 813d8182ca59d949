// What only the POSIX back end of the file system has: names found ignoring
// case on a file system that does not, links, modes and times, inodes,
// FIFOs where files are expected, unreadable folders, and DOS time stamps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/dos_time.h"
#include "host/file_system.h"
#include "host/path_resolve.h"
#include "support/child.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::InChild;
using testing::ReadFileOrDie;

class PosixFileSystemTest : public ::testing::Test {
 protected:
  void Put(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    testing::WriteFileOrDie(path, content);
  }
  std::string S(const std::string& relative) const { return (temp_.path() / relative).string(); }
  FileSystem& files_ = SystemFileSystem();
  testing::ScopedTempDir temp_;
};

TEST_F(PosixFileSystemTest, ResolvePathFindsEntriesIgnoringCase) {
  const std::string root = temp_.path().string();
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

// A file onto itself (by another name, by a hard link, in a folder copied
// onto itself) keeps its inode and time; a replaced file keeps nothing of
// the old one but gets the source's mode and time, and no temporary stays.
TEST_F(PosixFileSystemTest, CopiesKeepInodesModesAndTimes) {
  Put(temp_.path() / "src" / "drv.cab", "cabinet");
  const fs::path file = temp_.path() / "src" / "drv.cab";
  struct stat before, after;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  fs::create_directories(temp_.path() / "dst");
  fs::create_hard_link(file, temp_.path() / "dst" / "drv.cab");
  EXPECT_EQ(CopyFiles(files_, file.string(), S("dst")), 1);
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  Put(temp_.path() / "src" / "lib.so", "new content, longer than before");
  Put(temp_.path() / "ro" / "lib.so", "old");
  chmod(S("ro/lib.so").c_str(), 0444);
  chmod(S("src/lib.so").c_str(), 0440);
  const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  fs::last_write_time(S("src/lib.so"), when);
  FsError error;
  ASSERT_EQ(CopyFiles(files_, S("src/lib.so"), S("ro"), &error), 1) << error.text;
  EXPECT_EQ(fs::directory_iterator(S("ro"))->path().filename(), "lib.so");  // no temporary left
  EXPECT_EQ(ReadFileOrDie(S("ro/lib.so")), "new content, longer than before");
  EXPECT_EQ(fs::status(S("ro/lib.so")).permissions(), fs::perms(0440));  // the source's
  EXPECT_EQ(fs::last_write_time(S("ro/lib.so")), when);
  chmod(S("ro/lib.so").c_str(), 0664);
  ASSERT_TRUE(SetReadOnly(files_, S("ro/LIB.SO"), true));
  EXPECT_EQ(fs::status(S("ro/lib.so")).permissions(), fs::perms(0444));
  // Writable again: a file does not become a program; a folder can be entered.
  ASSERT_TRUE(SetReadOnly(files_, S("ro/lib.so"), false));
  EXPECT_EQ(fs::status(S("ro/lib.so")).permissions() & (fs::perms::owner_all | fs::perms::group_exec),
            fs::perms::owner_read | fs::perms::owner_write);
  chmod(S("ro").c_str(), 0444);
  ASSERT_TRUE(SetReadOnly(files_, S("ro"), false));
  EXPECT_EQ(fs::status(S("ro")).permissions() & fs::perms::owner_all, fs::perms::owner_all);
}

// A new file copied from the scratch folder is a second link to its source
// while that has no other name; every other copy is a file of its own, also
// from another file system (no link, and no copy in the kernel there).
TEST_F(PosixFileSystemTest, ScratchFilesAreLinkedOnceAndCopiedOtherwise) {
  char shm[] = "/dev/shm/kestrin-XXXXXX";
  const struct Cleanup {
    std::string dir;
    ~Cleanup() { fs::remove_all(dir), SystemFileSystem().SetScratchFolder(""); }
  } other{mkdtemp(shm) != nullptr ? shm : S("other")};
  Put(temp_.path() / "scratch" / "a.ini", "unpacked");
  Put(temp_.path() / "mine" / "a.ini", "the user's");
  Put(fs::path(other.dir) / "a.ini", std::string(300000, 'b'));
  struct stat here {}, there {};
  const bool apart = stat(S("mine").c_str(), &here) == 0 && stat(shm, &there) == 0 &&
                     here.st_dev != there.st_dev;
  const struct {
    std::string scratch, source, folder;
    bool shared;
  } cases[] = {
      {S("scratch/"), S("scratch/a.ini"), S("dst1"), true},
      {S("scratch"), S("scratch/a.ini"), S("dst2"), false},  // it has a second name now
      {S("scratch"), S("mine/a.ini"), S("dst3"), false},     // not the run's own
      {other.dir, other.dir + "/a.ini", S("dst4"), !apart},
  };
  for (const auto& c : cases) {
    files_.SetScratchFolder(c.scratch);
    ASSERT_EQ(CopyFiles(files_, c.source, c.folder), 1) << c.source;
    EXPECT_EQ(ReadFileOrDie(c.folder + "/a.ini"), ReadFileOrDie(c.source)) << c.source;
    EXPECT_EQ(fs::equivalent(c.folder + "/a.ini", c.source), c.shared) << c.source << " " << c.folder;
  }
}

// A link is removed, never followed; a read-only folder is emptied.
TEST_F(PosixFileSystemTest, DeleteRemovesLinksAndReadOnlyFolders) {
  Put(temp_.path() / "src" / "sub" / "deeper" / "b.htm", "bb");
  Put(temp_.path() / "outside" / "keep.txt", "keep");
  symlink(S("outside").c_str(), S("src/sub/link").c_str());
  chmod(S("src/sub/deeper").c_str(), 0555);
  FsError error;
  EXPECT_EQ(DeleteFiles(files_, S("SRC/SUB/*.*"), &error), 1) << error.text;
  EXPECT_TRUE(fs::is_empty(S("src/sub")));
  EXPECT_EQ(ReadFileOrDie(S("outside/keep.txt")), "keep");
}

// A dangling link cannot be copied; once the destination holds an entry of
// that exact name and size, the verified copy counts as done.
TEST_F(PosixFileSystemTest, VerificationCountsWhatArrivedAfterAFailure) {
  Put(temp_.path() / "src" / "a.txt", "a");
  const std::string target = "missing-target";
  ASSERT_EQ(symlink(target.c_str(), S("src/broken").c_str()), 0);
  EXPECT_EQ(CopyFilesChecked(files_, S("src/*.*"), S("dst"), 0, 1), 0);
  Put(temp_.path() / "dst" / "broken", std::string(target.size(), 'x'));
  EXPECT_EQ(CopyFilesChecked(files_, S("src/*.*"), S("dst"), 0, 1), 1);
  EXPECT_EQ(CopyFilesChecked(files_, S("src/*.*"), S("dst"), 0, 0), 0);
  fs::rename(S("dst/broken"), S("dst/BROKEN"));
  EXPECT_EQ(CopyFilesChecked(files_, S("src/*.*"), S("dst"), 0, 1), 0);
  // A source folder whose only entry is a folder also found in "/": were an
  // empty destination taken for "/", the verification would hold.
  fs::create_directories(S("only/tmp"));
  EXPECT_EQ(CopyFilesChecked(files_, S("only/*.*"), "", 0, 1), 0);
}

// Without read permission (except for root) a folder cannot be searched.
TEST_F(PosixFileSystemTest, FindFilesFailsOnAFolderItCannotRead) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  fs::create_directories(S("src"));
  chmod(S("src").c_str(), 0);
  std::vector<DirEntry> entries{DirEntry{"stale", false, 0}};
  FsError error;
  EXPECT_FALSE(FindFiles(files_, S("src/*.*"), &entries, &error));
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(error.path, S("src"));
  chmod(S("src").c_str(), 0755);
}

// A FIFO is no regular file, and nothing waits on it: alone, and inside a
// folder copied whole, it is refused and the rest of the folder arrives.
TEST_F(PosixFileSystemTest, FifosAreRefusedWithoutWaiting) {
  Put(temp_.path() / "src" / "wx.ini", "x");
  const std::string fifo = S("src/pipe.cab");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const auto copy_fifo = [&] {
    FsError error;
    const int copied = CopyFiles(files_, fifo, S("dst"), &error, NameMode::kLiteral);
    return copied == 0 && error.text.find("not a regular file") != std::string::npos ? 0 : 1;
  };
  EXPECT_EQ(InChild(copy_fifo), 0);
  EXPECT_EQ(InChild([&] { return CopyFiles(files_, S("src/*.*"), S("dst")); }), 0);
  EXPECT_TRUE(fs::exists(S("dst/wx.ini")));
  EXPECT_FALSE(fs::exists(S("dst/pipe.cab")));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(FindFiles(files_, S("src/*.*"), &entries));
  for (const DirEntry& entry : entries) EXPECT_EQ(entry.is_regular, entry.name != "pipe.cab") << entry.name;
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
