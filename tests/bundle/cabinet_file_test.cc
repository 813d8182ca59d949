// CCabinetFile, the runtime file callbacks and the safe output tree.
#include "bundle/cabinet_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "bundle/crt_file_io.h"
#include "bundle/output_tree.h"
#include "bundle/report_sink.h"
#include "bundle/cab_builder.h"
#include "bundle/test_util.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::BuildStoredCabinet;
using testing::ReadTree;
using testing::ScopedTempDir;
using testing::StoredFile;
using testing::WriteFileOrDie;

// Collects report lines for the lifetime of the object.
class ReportCollector {
 public:
  struct Line {
    std::string text;
    int level;
    bool log;
  };
  ReportCollector() {
    previous_ = SetReportSink([this](const std::string& text, int level, bool log) {
      lines.push_back({text, level, log});
    });
  }
  ~ReportCollector() { SetReportSink(std::move(previous_)); }
  bool Has(const std::string& text, int level) const {
    for (const Line& l : lines) {
      if (l.text == text && l.level == level) return true;
    }
    return false;
  }
  std::vector<Line> lines;

 private:
  ReportSink previous_;
};

mode_t FileMode(const fs::path& path) {
  struct stat st;
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st.st_mode & 07777;
}

time_t FileMtime(const fs::path& path) {
  struct stat st;
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st.st_mtime;
}

mode_t Umask() {
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

TEST(CrtFileIoTest, TranslatesRuntimeFlags) {
  struct Case {
    int crt;
    int posix;
  } cases[] = {
      {0x8000, O_RDONLY},
      {0x0000, O_RDONLY},
      {0x8122, O_RDWR | O_CREAT | O_TRUNC},  // output file: created, truncated
      {0x0301, O_WRONLY | O_CREAT | O_TRUNC},
      {0x0109, O_WRONLY | O_APPEND | O_CREAT | O_TRUNC},
      {0x0502, O_RDWR | O_CREAT | O_EXCL | O_TRUNC},
      {0x0100, O_RDONLY | O_CREAT},  // read-only create: nothing to truncate
      {0x4002, O_RDWR},              // text mode has no meaning here
      {0x0010 | 0x0040 | 0x0080, O_RDONLY},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.posix | O_CLOEXEC, TranslateCrtOpenFlags(c.crt)) << std::hex << c.crt;
  }
  EXPECT_EQ(0666u, TranslateCrtPermission(0x80));
  EXPECT_EQ(0666u, TranslateCrtPermission(0x180));
  EXPECT_EQ(0444u, TranslateCrtPermission(0x100));
}

TEST(CrtFileIoTest, HandleIsNeverZeroEvenOnDescriptorZero) {
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() / "a", "abc");
  const int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  const cab::INT_PTR hf = CrtOpen(dir.Sub("a").c_str(), 0x8000, 0x180);
  const int fd = hf == -1 ? -1 : FdFromHandle(hf);
  char buf[4] = {};
  const uint32_t got = hf == -1 ? 0 : CrtRead(hf, buf, 4);
  if (hf != -1) CrtClose(hf);
  dup2(saved, 0);
  close(saved);
  EXPECT_EQ(0, fd);  // the descriptor really was 0
  EXPECT_NE(0, hf);
  EXPECT_NE(-1, hf);
  EXPECT_EQ(3u, got);
  EXPECT_EQ("abc", std::string(buf, 3));
}

TEST(CrtFileIoTest, OpenFindsNameInOtherLetterCaseAndReportsFailures) {
  ScopedTempDir dir;
  WriteFileOrDie(dir.path() / "Disk2.CAB", "xyz");
  const cab::INT_PTR hf = CrtOpen(dir.Sub("disk2.cab").c_str(), 0x8000, 0x180);
  ASSERT_NE(-1, hf);
  EXPECT_EQ(3, CrtSeek(hf, 0, 2));
  EXPECT_EQ(1, CrtSeek(hf, 1, 0));
  EXPECT_EQ(0, CrtClose(hf));
  EXPECT_EQ(-1, CrtOpen(dir.Sub("missing.cab").c_str(), 0x8000, 0x180));
  EXPECT_EQ(cab::kIoError, CrtWrite(HandleFromFd(1000), "x", 1));
  EXPECT_EQ(3u, CrtWrite(kDiscardHandle, "abc", 3));
  EXPECT_EQ(0, CrtClose(kDiscardHandle));
}

TEST(OutputTreeTest, SplitsAndRefusesMemberNames) {
  struct Case {
    const char* name;
    bool ok;
    std::vector<std::string> parts;
  } cases[] = {
      {"a.txt", true, {"a.txt"}},
      {"a\\b\\c.txt", true, {"a", "b", "c.txt"}},
      {"a/b", true, {"a", "b"}},
      {".\\x", true, {"x"}},
      {"a\\\\b", true, {"a", "b"}},
      {"...", true, {"..."}},
      {"..a\\b..", true, {"..a", "b.."}},
      {"ab:c", true, {"ab:c"}},
      {"\x01\x1f name?*", true, {"\x01\x1f name?*"}},
      {"", false, {}},
      {"\\", false, {}},
      {".", false, {}},
      {".\\.\\", false, {}},
      {"\\abs.txt", false, {}},
      {"/abs.txt", false, {}},
      {"\\\\server\\share\\x", false, {}},
      {"C:x", false, {}},
      {"c:\\x", false, {}},
      {"..", false, {}},
      {"..\\x", false, {}},
      {"a\\..\\b", false, {}},
      {"a/../b", false, {}},
      {"a\\..", false, {}},
      {"../..\\t", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> parts;
    std::string why;
    EXPECT_EQ(c.ok, SplitMemberName(c.name, &parts, &why)) << c.name;
    if (c.ok) {
      EXPECT_EQ(c.parts, parts) << c.name;
    } else {
      EXPECT_FALSE(why.empty()) << c.name;
      EXPECT_TRUE(parts.empty()) << c.name;
    }
  }
}

TEST(OutputTreeTest, DosDateTimeIsLocalTime) {
  int64_t seconds = 0;
  ASSERT_TRUE(DosDateTimeToUnix((46 << 9) | (3 << 5) | 14, (13 << 11) | (37 << 5) | 21, &seconds));
  struct tm tm {};
  const time_t t = static_cast<time_t>(seconds);
  localtime_r(&t, &tm);
  EXPECT_EQ(2026 - 1900, tm.tm_year);
  EXPECT_EQ(2, tm.tm_mon);
  EXPECT_EQ(14, tm.tm_mday);
  EXPECT_EQ(13, tm.tm_hour);
  EXPECT_EQ(37, tm.tm_min);
  EXPECT_EQ(42, tm.tm_sec);
  EXPECT_FALSE(DosDateTimeToUnix(0, 0, &seconds));                      // month 0
  EXPECT_FALSE(DosDateTimeToUnix((1 << 5) | 1, 24 << 11, &seconds));    // hour 24
  EXPECT_FALSE(DosDateTimeToUnix((45 << 9) | (2 << 5) | 29, 0, &seconds));  // 2025-02-29
  EXPECT_TRUE(DosDateTimeToUnix((44 << 9) | (2 << 5) | 29, 0, &seconds));   // 2024-02-29
}

class CabinetFileTest : public ::testing::Test {
 protected:
  std::string WriteCab(const std::string& name, const std::vector<StoredFile>& files) {
    const fs::path path = dir_.path() / name;
    WriteFileOrDie(path, BuildStoredCabinet(files));
    return path.string();
  }
  ScopedTempDir dir_;
};

TEST_F(CabinetFileTest, ExtractFileThenExtractAllWithAttributesAndTimes) {
  const std::string big = testing::MakePayload(70000, 1, 7);
  const std::string cab = WriteCab("bundle.cab", {
      {"HW.INI", "[OEMDriverDisk]\r\nOEMID=7\r\n"},
      {"MODULES\\Sub\\big.bin", big},
      {"ro.txt", "read only", 0x21},
      {"exe.bin", "run me", 0x60},
      {"empty.txt", ""},
  });
  ReportCollector reports;
  CCabinetFile file;
  ASSERT_TRUE(file.Open(cab, kCabOpenReadShareDenyWrite));
  EXPECT_TRUE(reports.Has("CFile::Open() successfull. Now Calling CreateFDIContext()...", 5));
  const std::string target = dir_.Sub("out");  // no trailing separator

  EXPECT_EQ(1, file.ExtractFile("hw.ini", target));
  EXPECT_EQ(target + "/", file.TargetDirectory());
  EXPECT_FALSE(file.ContentsDetermined());
  EXPECT_EQ(1u, file.Contents().GetCount());
  auto tree = ReadTree(target);
  ASSERT_EQ(1u, tree.size());
  EXPECT_EQ("[OEMDriverDisk]\r\nOEMID=7\r\n", tree["HW.INI"]);  // spelled as stored

  EXPECT_EQ(0, file.ExtractFile("no-such-file.txt", target));

  EXPECT_EQ(5, file.ExtractAll(target));
  EXPECT_TRUE(file.ContentsDetermined());
  EXPECT_TRUE(reports.Has("Determined contents of CAB file", 5));
  std::string called = "ExtractAll() called. Set TargetDirectory to ";
  called += target;
  EXPECT_TRUE(reports.Has(called, 5));
  EXPECT_TRUE(reports.Has("Returned from ExtractDeterminedContents(): 5 files extracted", 5));
  for (const auto& line : reports.lines) EXPECT_GE(line.level, 2) << line.text;
  tree = ReadTree(target);
  EXPECT_EQ(5u, tree.size());
  EXPECT_EQ(big, tree["MODULES/Sub/big.bin"]);
  EXPECT_EQ("", tree["empty.txt"]);
  EXPECT_EQ("run me", tree["exe.bin"]);

  const mode_t writable = 0666 & ~Umask();
  EXPECT_EQ(writable & 0555, FileMode(fs::path(target) / "ro.txt"));
  EXPECT_EQ(writable, FileMode(fs::path(target) / "exe.bin"));  // 0x40 adds nothing
  int64_t expected = 0;
  ASSERT_TRUE(DosDateTimeToUnix((46 << 9) | (3 << 5) | 14, (13 << 11) | (37 << 5) | 21, &expected));
  EXPECT_EQ(expected, FileMtime(fs::path(target) / "MODULES/Sub/big.bin"));
  EXPECT_EQ(expected, FileMtime(fs::path(target) / "empty.txt"));

  // A second ExtractAll reuses the listing and replaces the files.
  chmod((fs::path(target) / "ro.txt").c_str(), 0644);
  WriteFileOrDie(fs::path(target) / "exe.bin", std::string(100, 'x'));
  EXPECT_EQ(5, file.ExtractAll(target));
  EXPECT_EQ("run me", testing::ReadFileOrDie(fs::path(target) / "exe.bin"));
  file.Close();
}

TEST_F(CabinetFileTest, ManyFoldersInAnyOrder) {
  std::vector<StoredFile> files;
  for (int i = 0; i < 12; ++i) {
    std::string name = "f";
    name += std::to_string(i);
    files.push_back({name, testing::MakePayload(5000 * i + 1, i % 3, i),
                     0x20, (46 << 9) | (3 << 5) | 14, 0, (i * 7) % 4});
  }
  const std::string cab = WriteCab("folders.cab", files);
  CCabinetFile file;
  ASSERT_TRUE(file.Open(cab));
  EXPECT_EQ(12, file.ExtractAll(dir_.Sub("out")));
  auto tree = ReadTree(dir_.Sub("out"));
  for (const StoredFile& f : files) EXPECT_EQ(f.data, tree[f.name]) << f.name;
}

TEST_F(CabinetFileTest, RefusesNamesLeadingOutsideAndGoesOn) {
  const std::string cab = WriteCab("evil.cab", {
      {"good.txt", "good"},
      {"..\\evil.txt", "evil"},
      {"\\abs.txt", "abs"},
      {"C:\\drive.txt", "drive"},
      {"a\\..\\..\\evil2.txt", "evil2"},
      {"later\\ok.txt", "later"},
  });
  ReportCollector reports;
  const std::string target = dir_.Sub("deep/out");
  CCabinetFile file;
  ASSERT_TRUE(file.Open(cab));
  EXPECT_EQ(-2, file.ExtractAll(target));
  EXPECT_EQ(4, file.RefusedNames());
  EXPECT_EQ(kCabErrorUnsafeName, file.LastErrorCode());
  EXPECT_NE(std::string::npos, file.LastError().find("..\\evil.txt")) << file.LastError();
  auto tree = ReadTree(dir_.path());
  EXPECT_EQ((std::map<std::string, std::string>{{"deep/out/good.txt", "good"},
                                                {"deep/out/later/ok.txt", "later"},
                                                {"evil.cab", tree["evil.cab"]}}),
            tree);
  int shown = 0;
  for (const auto& line : reports.lines) {
    if (line.level == 1) {
      ++shown;
      EXPECT_TRUE(line.log);
      EXPECT_NE(std::string::npos, line.text.find(cab)) << line.text;
      EXPECT_NE(std::string::npos, line.text.find(target)) << line.text;
    }
  }
  EXPECT_EQ(4, shown);
}

TEST_F(CabinetFileTest, NeverFollowsSymlinksOutOfTheTarget) {
  const fs::path outside = dir_.path() / "outside";
  fs::create_directories(outside);
  WriteFileOrDie(outside / "victim.txt", "precious");
  const fs::path target = dir_.path() / "out";
  fs::create_directories(target);
  fs::create_directory_symlink(outside, target / "link");
  fs::create_symlink(outside / "victim.txt", target / "victim.txt");
  struct Case {
    const char* member;
  } cases[] = {{"link\\x.txt"}, {"LINK\\y.txt"}, {"victim.txt"}, {"VICTIM.TXT"}};
  for (const Case& c : cases) {
    const std::string cab = WriteCab("sym.cab", {{c.member, "attack"}});
    CCabinetFile file;
    ASSERT_TRUE(file.Open(cab));
    EXPECT_EQ(-2, file.ExtractAll(target.string())) << c.member;
    EXPECT_NE(std::string::npos, file.LastError().find("symbolic link")) << file.LastError();
    EXPECT_EQ((std::map<std::string, std::string>{{"victim.txt", "precious"}}), ReadTree(outside))
        << c.member;
  }
}

TEST_F(CabinetFileTest, ReusesEntriesThatDifferOnlyInLetterCase) {
  const fs::path target = dir_.path() / "out";
  fs::create_directories(target / "Modules");
  WriteFileOrDie(target / "README.TXT", "old and longer");
  const std::string cab = WriteCab("case.cab", {
      {"MODULES\\a.ini", "a"},
      {"modules\\B.ini", "b"},
      {"readme.txt", "new"},
  });
  CCabinetFile file;
  ASSERT_TRUE(file.Open(cab));
  EXPECT_EQ(3, file.ExtractAll(target.string()));
  EXPECT_EQ((std::map<std::string, std::string>{
                {"Modules/a.ini", "a"}, {"Modules/B.ini", "b"}, {"README.TXT", "new"}}),
            ReadTree(target));
}

TEST_F(CabinetFileTest, FailuresAreCleanAndSayWhat) {
  WriteFileOrDie(dir_.path() / "not.cab", std::string(100, 'z'));
  WriteFileOrDie(dir_.path() / "afile", "x");
  const std::string cab = WriteCab("ok.cab", {{"sub\\a.txt", "a"}});
  struct Case {
    std::string cab;
    std::string target;
    bool opens;
    int result;
    int code;
  } cases[] = {
      {dir_.Sub("missing.cab"), dir_.Sub("t1"), false, 0, cab::FDIERROR_CABINET_OPEN},
      {dir_.path().string(), dir_.Sub("t2"), false, 0, cab::FDIERROR_CABINET_OPEN},
      {dir_.Sub("not.cab"), dir_.Sub("t3"), true, -1, cab::FDIERROR_NOT_A_CABINET},
      {cab, dir_.Sub("afile"), true, -2, kCabErrorOutput},
      {cab, dir_.Sub("afile/below"), true, -2, kCabErrorOutput},
  };
  for (const Case& c : cases) {
    CCabinetFile file;
    const bool opened = file.Open(c.cab);
    EXPECT_EQ(c.opens, opened) << c.cab;
    if (opened) {
      EXPECT_EQ(c.result, file.ExtractAll(c.target)) << c.cab << " " << c.target;
    }
    EXPECT_EQ(c.code, file.LastErrorCode()) << c.cab << " " << file.LastError();
    EXPECT_FALSE(file.LastError().empty());
  }
  EXPECT_FALSE(fs::exists(dir_.path() / "t1"));
  EXPECT_FALSE(fs::exists(dir_.path() / "t3"));
}

TEST_F(CabinetFileTest, WorksInFoldersWithLongPaths) {
  fs::path deep = dir_.path();
  for (int i = 0; i < 6; ++i) deep /= std::string(60, static_cast<char>('a' + i));
  fs::create_directories(deep);
  const std::string payload = testing::MakePayload(100000, 0, 3);
  WriteFileOrDie(deep / "long.cab", BuildStoredCabinet({{"x\\y.txt", payload}}));
  ASSERT_GT((deep / "long.cab").string().size(), 300u);
  CCabinetFile file;
  ASSERT_TRUE(file.Open((deep / "long.cab").string()));
  EXPECT_EQ(1, file.ExtractAll((deep / "out").string())) << file.LastError();
  EXPECT_EQ(payload, testing::ReadFileOrDie(deep / "out/x/y.txt"));
}

TEST(CabinetNotifyTest, WithoutCurrentFileTheCopyIsAborted) {
  ASSERT_EQ(nullptr, CurrentCabinetFile);
  cab::FDINOTIFICATION record{};
  char name[] = "a.txt";
  record.psz1 = name;
  EXPECT_EQ(-1, CCabinetFile::CabCopyNotify(cab::fdintCOPY_FILE, &record));
  EXPECT_EQ(0, CCabinetFile::CabListNotify(cab::fdintCOPY_FILE, &record));
}

}  // namespace
}  // namespace kestrin
