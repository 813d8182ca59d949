// CCabinetFile, the runtime file callbacks and the safe output tree.
#include "bundle/cabinet_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "bundle/bundle_test_util.h"
#include "bundle/crt_file_io.h"
#include "bundle/output_tree.h"
#include "bundle/report_sink.h"

namespace kestrin {
namespace {

using namespace kestrin::testing;  // NOLINT

// Counts the report lines a user would see (shown below level 2, or logged).
struct ShownLines {
  ShownLines() {
    previous = SetReportSink([this](const std::string&, int level, bool log) { count += level < 2 || log; });
  }
  ~ShownLines() { SetReportSink(std::move(previous)); }
  int count = 0;
  ReportSink previous;
};

struct stat Stat(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st;
}

// Descriptor 0 (free while standard input is closed) must not become handle
// 0, which tells the decoder to skip a file.
TEST(CrtFileIoTest, HandlesAreNeverZero) {
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() / "Disk2.CAB", "abc");
  const int saved = dup(0);
  close(0);
  const cab::INT_PTR hf = CrtOpen(dir.Sub("disk2.cab").c_str(), 0x8000, 0x180);  // other case
  char buf[4] = {};
  const uint32_t got = hf == -1 ? 0 : CrtRead(hf, buf, 4);
  const long end = hf == -1 ? 0 : CrtSeek(hf, 0, 2);
  const int fd = hf == -1 ? -1 : FdFromHandle(hf);
  if (hf != -1) CrtClose(hf);
  dup2(saved, 0), close(saved);
  EXPECT_EQ(std::tuple(0, true, std::string("abc"), 3L),
            std::tuple(fd, hf != 0, std::string(buf, got), end))
      << "descriptor, handle not 0, contents, size";
  EXPECT_EQ(-1, CrtOpen(dir.Sub("missing.cab").c_str(), 0x8000, 0x180));
  EXPECT_EQ(cab::kIoError, CrtWrite(HandleFromFd(1000), "x", 1));
}

class CabinetFileTest : public ::testing::Test {
 protected:
  std::string WriteCab(const cab::testing::NamedContents& files) {
    WriteFileOrDie(dir_.path() / "t.cab", StoredCabinet(files));
    return dir_.Sub("t.cab");
  }
  ScopedTempDir dir_;
};

TEST_F(CabinetFileTest, ExtractsWithAttributesAndTimes) {
  const std::string big = Payload(70000, 7);
  fs::path deep = dir_.path();  // paths beyond 300 characters
  for (int i = 0; i < 6; ++i) deep /= std::string(60, static_cast<char>('a' + i));
  fs::create_directories(deep);
  CabBuilder cab_file;  // three folders, listed out of order
  cab_file.AddFiles(cab_file.AddStoredFolder("[OEMDriverDisk]\r\nrun me"),
                    {{"HW.INI", "[OEMDriverDisk]\r\n"}, {"exe.bin", "run me"}});
  cab_file.AddFiles(cab_file.AddStoredFolder("read only"), {{"ro.txt", "read only"}});
  cab_file.AddFiles(cab_file.AddStoredFolder(big), {{"MODULES\\Sub\\big.bin", big}, {"empty.txt", ""}},
                    0);
  cab_file.files[1].attribs = 0x60;  // execute: adds nothing
  cab_file.files[2].attribs = 0x21;  // read-only
  std::rotate(cab_file.files.begin(), cab_file.files.begin() + 3, cab_file.files.end());
  WriteFileOrDie(deep / "b.cab", cab_file.Build());
  const std::string cab = (deep / "b.cab").string(),
                    target = (deep / "out").string();  // no trailing "/"
  ShownLines shown;
  CCabinetFile file;
  ASSERT_TRUE(file.Open(cab, kCabOpenReadShareDenyWrite));
  EXPECT_EQ(1, file.ExtractFile("hw.ini", target));
  EXPECT_EQ(0, file.ExtractFile("no-such-file.txt", target));
  EXPECT_EQ(5, file.ExtractAll(target));
  EXPECT_EQ(0, shown.count);
  EXPECT_TRUE(ReadTree(target) == (FileSet{{"HW.INI", "[OEMDriverDisk]\r\n"}, {"exe.bin", "run me"},
                                            {"ro.txt", "read only"}, {"MODULES/Sub/big.bin", big},
                                            {"empty.txt", ""}}));  // no 70000 bytes printed

  const mode_t mask = umask(022);
  umask(mask);
  EXPECT_EQ((0666 & ~mask) & 0555, Stat(deep / "out/ro.txt").st_mode & 07777);
  EXPECT_EQ(0666 & ~mask, Stat(deep / "out/exe.bin").st_mode & 07777);  // 0x40 adds nothing
  struct tm local {};
  local.tm_year = 125, local.tm_mday = 1, local.tm_hour = 12, local.tm_isdst = -1;  // the builder's
  EXPECT_EQ(mktime(&local), Stat(deep / "out/MODULES/Sub/big.bin").st_mtime);
  EXPECT_EQ(mktime(&local), Stat(deep / "out/empty.txt").st_mtime);

  // A second ExtractAll reuses the listing and replaces the files; one with
  // another name (linked into place by an earlier run) leaves that name alone.
  chmod((deep / "out/ro.txt").c_str(), 0644);
  WriteFileOrDie(deep / "out/exe.bin", std::string(100, 'x'));
  fs::create_hard_link(deep / "out/exe.bin", deep / "installed.bin");
  EXPECT_EQ(5, file.ExtractAll(target));
  EXPECT_EQ("run me", ReadFileOrDie(deep / "out/exe.bin"));
  EXPECT_EQ(std::string(100, 'x'), ReadFileOrDie(deep / "installed.bin"));
}

TEST_F(CabinetFileTest, RefusesNamesLeadingOutsideAndGoesOn) {
  const char* refused[] = {"..\\evil.txt", "\\abs.txt", "/abs.txt", "\\\\server\\share\\x",
                           "C:x",          "c:\\x",     "..",       "a\\..\\b",
                           "a/../b",       "a\\..",     "../..\\t", "",
                           ".\\.\\"};
  cab::testing::NamedContents members = {{"a\\b\\c.txt", "1"}, {".\\x", "2"}, {"a/\\d", "3"},
                                         {"...", "4"}, {"..a\\b..", "5"}, {"ab:c \x01?*", "6"}};
  for (const char* name : refused) members.push_back({name, "evil"});
  const std::string cab = WriteCab(members), target = dir_.Sub("deep/out");
  ShownLines shown;
  CCabinetFile file;
  ASSERT_TRUE(file.Open(cab));
  EXPECT_EQ(-2, file.ExtractAll(target));
  EXPECT_EQ(13, file.RefusedNames());
  EXPECT_EQ(kCabErrorUnsafeName, file.LastErrorCode());
  EXPECT_NE(std::string::npos, file.LastError().find("\"..\\evil.txt\"")) << file.LastError();
  EXPECT_EQ((FileSet{{"deep/out/a/b/c.txt", "1"}, {"deep/out/x", "2"}, {"deep/out/a/d", "3"},
                     {"deep/out/...", "4"}, {"deep/out/..a/b..", "5"}, {"deep/out/ab:c \x01?*", "6"},
                     {"t.cab", ReadFileOrDie(cab)}}),
            ReadTree(dir_.path()));
  EXPECT_EQ(0, shown.count);  // the refusals are the caller's to report
  EXPECT_EQ(13u, file.Failures().size());
}

// A file that cannot be made ends the extraction; what came before stays.
TEST_F(CabinetFileTest, OutputThatCannotBeMadeEndsTheExtraction) {
  const fs::path target = dir_.path() / "out";
  fs::create_directories(target / "b.txt");  // a folder where the file should go
  CCabinetFile file;
  ASSERT_TRUE(file.Open(WriteCab({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}})));
  EXPECT_EQ(-2, file.ExtractAll(target.string()));
  EXPECT_EQ(kCabErrorOutput, file.LastErrorCode());
  EXPECT_EQ((FileSet{{"a.txt", "a"}}), ReadTree(target));
}

// The tool mode (kestrin-cab t and x) goes on past what fails, and keeps
// apart what it wrote, what it gave up and which folders are damaged, so
// that nothing is done twice and nothing is left out.
TEST_F(CabinetFileTest, ToolModeGoesOnPastEachFailureOnce) {
  {  // a damaged folder: its later file is given up unread, the next folder read
    CabBuilder cab_file;
    cab_file.AddFiles(cab_file.AddStoredFolder("AAAABBBB", 4), {{"a", "AAAA"}, {"b", "BBBB"}});
    cab_file.AddFiles(cab_file.AddStoredFolder("CCCC"), {{"c", "CCCC"}});
    cab_file.folders[0].blocks[0].checksum = 1;
    WriteFileOrDie(dir_.path() / "damaged.cab", cab_file.Build());
    CCabinetFile file;
    ASSERT_TRUE(file.Open(dir_.Sub("damaged.cab")));
    EXPECT_EQ(-2, file.ExtractEveryFile(dir_.Sub("out1"), false, true));
    ASSERT_EQ(1u, file.Failures().size()) << file.Failures().back().text;  // not b as well
    EXPECT_EQ("CCCC", ReadFileOrDie(dir_.path() / "out1" / "c"));
  }
  // A cabinet that cannot be listed (folder records past its end) is copied
  // from its first entry again after each failure.
  CabBuilder cab_file;
  cab_file.AddFiles(cab_file.AddStoredFolder("aevilyc"),
                    {{"a", "a"}, {"..\\evil", "evil"}, {"x\\y", "y"}, {"c", "c"}});
  std::string bytes = cab_file.Build();
  bytes[26] = '\xF0', bytes[27] = '\xFF';  // folder count
  WriteFileOrDie(dir_.path() / "unlisted.cab", bytes);
  fs::create_directories(dir_.path() / "out2");
  WriteFileOrDie(dir_.path() / "out2" / "x", "a file where a folder is wanted");
  CCabinetFile file;
  ASSERT_TRUE(file.Open(dir_.Sub("unlisted.cab")));
  EXPECT_EQ(-2, file.ExtractEveryFile(dir_.Sub("out2"), false, true));
  EXPECT_EQ(2, file.FilesExtracted());  // a not written again
  EXPECT_EQ(1, file.RefusedNames());    // nor evil refused again
  EXPECT_EQ("c", ReadFileOrDie(dir_.path() / "out2" / "c"));  // nor x\y failing again, before c
}

TEST_F(CabinetFileTest, NeverFollowsSymlinksAndReusesEntriesOfOtherCase) {
  const fs::path outside = dir_.path() / "outside", target = dir_.path() / "out";
  fs::create_directories(outside);
  fs::create_directories(target / "Modules");
  WriteFileOrDie(outside / "victim.txt", "precious");
  fs::create_directory_symlink(outside, target / "link");
  fs::create_symlink(outside / "victim.txt", target / "victim.txt");
  for (const char* member : {"link\\x.txt", "LINK\\y.txt", "victim.txt", "VICTIM.TXT"}) {
    CCabinetFile file;
    ASSERT_TRUE(file.Open(WriteCab({{member, "attack"}})));
    EXPECT_EQ(-2, file.ExtractAll(target.string())) << member;
    EXPECT_NE(std::string::npos, file.LastError().find("symbolic link")) << file.LastError();
    EXPECT_EQ((FileSet{{"victim.txt", "precious"}}), ReadTree(outside)) << member;
  }
  WriteFileOrDie(target / "README.TXT", "old and longer");
  CCabinetFile file;
  ASSERT_TRUE(file.Open(
      WriteCab({{"MODULES\\a.ini", "a"}, {"modules\\B.ini", "b"}, {"readme.txt", "new"}})));
  EXPECT_EQ(3, file.ExtractAll(target.string()));
  EXPECT_EQ((FileSet{{"Modules/a.ini", "a"},
                     {"Modules/B.ini", "b"},
                     {"README.TXT", "new"},
                     {"link", "<symlink>"},
                     {"victim.txt", "<symlink>"}}),
            ReadTree(target));
}

}  // namespace
}  // namespace kestrin
