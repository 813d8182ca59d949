// The INI engine and IniFile: writes of values one key at a time (SetValue)
// and many at once (SetValues) that change only their lines, and what IniFile
// does with the file on disk. Beneath it the locked, atomic read-modify-write:
// concurrent writers lose nothing (the sidecar lock excludes), a writer killed
// before its rename or out of room leaves the old file.
#include "host/ini_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/atomic_file.h"
#include "host/ini_document.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::WriteFileOrDie;

using Entries = std::vector<std::pair<std::string, std::string>>;

struct tBulkCase {
  const char* name;
  std::string file;
  std::string section;
  Entries entries;
  std::string expected;  // the file after the writes
};

const tBulkCase kBulkCases[] = {
    {"NewFile", "", "S", {{"A", "1"}, {"B", "2"}}, "[S]\r\nA=1\r\nB=2\r\n"},
    {"NewSectionWithTheFilesLineEnd", "[T]\r\nx=1\r\n", "S", {{"A", "1"}}, "[T]\r\nx=1\r\n[S]\r\nA=1\r\n"},
    {"UpdateInPlaceKeepsSpelling", "[s]\n  key = old ; c\nOther=2\n", "S", {{"KEY", "new"}},
     "[s]\n  key = new\nOther=2\n"},
    {"UnchangedValue", "[S]\nA=1\n", "S", {{"a", "1"}}, "[S]\nA=1\n"},
    {"KeylessLineGetsAValue", "[S]\n  flag\n", "S", {{"FLAG", "on"}}, "[S]\n  flag=on\n"},
    {"NewKeysBeforeTrailingBlanks", "[S]\nA=1\n\n\n[T]\nB=2\n", "S", {{"C", "3"}, {"D", "4"}},
     "[S]\nA=1\nC=3\nD=4\n\n\n[T]\nB=2\n"},
    {"SameKeyTwiceLastWins", "[S]\n", "S", {{"N", "1"}, {" n ", "2"}, {"A", "x"}, {"A", "  y"}}, "[S]\nN=2\nA=y\n"},
    {"FirstOfDuplicateSectionsAndKeys", "[S]\nA=1\nA=2\n[S]\nA=3\n", "S", {{"A", "9"}}, "[S]\nA=9\nA=2\n[S]\nA=3\n"},
    {"LastLineWithoutLineEnd", "[S]\nA=1", "S", {{"B", "2"}}, "[S]\nA=1\nB=2\n"},
    {"EmptySectionBody", "[S]\n[T]\n", " S ", {{"A", "1"}, {"B", ""}}, "[S]\nA=1\nB=\n[T]\n"},
    {"NothingToWrite", "[S]\nA=1\n", "S", {}, "[S]\nA=1\n"},
};

// SetValue one key at a time gives the expected file; SetValues all at once agrees.
TEST(SetValuesTest, AgreesWithOneKeyAtATime) {
  for (const tBulkCase& c : kBulkCases) {
    SCOPED_TRACE(c.name);
    IniDocument one_by_one = IniDocument::Parse(c.file);
    bool changed = false;
    for (const auto& [key, value] : c.entries) changed |= one_by_one.SetValue(c.section, key, value);
    EXPECT_EQ(one_by_one.Serialize(), c.expected);
    IniDocument bulk = IniDocument::Parse(c.file);
    EXPECT_EQ(bulk.SetValues(c.section, c.entries), changed);
    EXPECT_EQ(bulk.Serialize(), c.expected);
  }
}

TEST(SetValuesTest, ManyKeysStayLinear) {
  IniDocument doc;
  Entries entries;
  for (int i = 0; i < 200000; ++i) entries.emplace_back(std::to_string(i).insert(0, 1, 'K'), "v");
  EXPECT_TRUE(doc.SetValues("S", entries));
  EXPECT_EQ(doc.KeyNames("S").size(), entries.size());
}

// Adding and replacing values is in SetValuesTest; here deletes and odd files.
TEST(IniDocumentEdit, ChangesOnlyTheLinesItMust) {
  const struct {
    const char* name;
    std::string before;
    const char* section;
    const char* key;    // nullptr: delete the section
    const char* value;  // nullptr: delete the key
    std::string expected;
  } edits[] = {
      {"replace on last line without newline", "[S]\na=1", "S", "a", "22", "[S]\na=22"},
      {"first of duplicate sections", "[S]\na=1\n[T]\n[S]\nc=3\n", "S", "c", "x",
       "[S]\na=1\nc=x\n[T]\n[S]\nc=3\n"},
      {"delete key", "[S]\n;c\na=1\nb=2\n", "S", "a", nullptr, "[S]\n;c\nb=2\n"},
      {"delete section up to next header", "; top\n[S]\n; c\na=1\n\n[T]\nb=2\n", "s", nullptr, nullptr,
       "; top\n[T]\nb=2\n"},
      {"keys before first header", "a=1\n[S]\nb=2\n", "", "n", "y", "a=1\nn=y\n[S]\nb=2\n"},
      {"CR-only line ends", "[S]\ra=1\rb=2\r", "S", "a", "x", "[S]\ra=x\rb=2\r"},
      {"bytes after a NUL dropped only on the line written", std::string("[S]\na=1\0junk\nb=2\0keep\n", 22),
       "S", "a", "x", std::string("[S]\na=x\nb=2\0keep\n", 17)},
  };
  for (const auto& c : edits) {
    IniDocument doc = IniDocument::Parse(c.before);
    if (!c.key) {
      doc.DeleteSection(c.section);
    } else if (!c.value) {
      doc.DeleteKey(c.section, c.key);
    } else {
      doc.SetValue(c.section, c.key, c.value);
    }
    EXPECT_EQ(doc.Serialize(), c.expected) << c.name;
  }
  const std::string utf16le("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xE4\0\r\0\n\0", 20);
  IniDocument doc = IniDocument::Parse(utf16le);
  EXPECT_EQ(doc.FindValue("S", "k"), "\xC3\xA4");
  EXPECT_EQ(doc.Serialize(), utf16le);
  doc.SetValue("S", "n", "\xE2\x82\xAC\xE0\xA4\x85");  // U+20AC, U+0905 (lead byte E0)
  EXPECT_EQ(doc.Serialize(), utf16le + std::string("n\0=\0\xAC\x20\x05\x09\r\0\n\0", 12));
  // Bytes that start no sequence stay Latin-1, continuation bytes after ASCII too.
  EXPECT_EQ(Utf8ToUtf16("a\x80\x80\xC1", false), std::string("a\0\x80\0\x80\0\xC1\0", 8));
  constexpr char kBe[] = "\xFE\xFF\0[\0S\0]\0\r\0\n\0k\0=\0\xE4\0\r\0\n", kBeAdded[] = "\0n\0=\x20\xAC\0\r\0\n";
  const std::string utf16be(kBe, sizeof kBe - 1);
  IniDocument be = IniDocument::Parse(utf16be);
  EXPECT_EQ(be.FindValue("S", "k"), "\xC3\xA4");
  be.SetValue("S", "n", "\xE2\x82\xAC");
  EXPECT_EQ(be.Serialize(), utf16be + std::string(kBeAdded, sizeof kBeAdded - 1));
  for (const std::string mark : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"}) {  // a file of its mark alone
    IniDocument marked = IniDocument::Parse(mark);
    marked.SetValue("S", "k", "v");
    EXPECT_EQ(marked.Serialize().substr(0, mark.size()), mark);
    EXPECT_EQ(IniDocument::Parse(marked.Serialize()).FindValue("S", "k"), "v") << mark.size();
  }
  IniDocument utf8 = IniDocument::Parse("\xEF\xBB\xBF[S]\nk=v\n");
  utf8.SetValue("S", "k", "w");
  EXPECT_EQ(utf8.Serialize(), "\xEF\xBB\xBF[S]\nk=w\n");
}

class IniFileTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& content, const std::string& name = "a.ini") {
    WriteFileOrDie(tmp_.Sub(name), content);
    return tmp_.Sub(name);
  }
  // Runs body in a child process; its return value is the exit status.
  static pid_t Fork(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    EXPECT_GE(pid, 0);
    return pid;
  }
  static int ExitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Names of temporary files left in the folder.
  std::set<std::string> Temporaries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(tmp_.path())) {
      const std::string name = entry.path().filename().string();
      if (name.find(".tmp-") != std::string::npos) names.insert(name);
    }
    return names;
  }
  testing::ScopedTempDir tmp_;
};

// GetInt and GetString are replayed in the oracle; here what it leaves out
// (a long value, a zero without the missing-file default) and the section readers.
TEST_F(IniFileTest, LongValuesAndSectionReadersSplitAsTheCallersExpect) {
  const std::string long_value(70000, 'y');
  const IniFile long_ini(SystemIniFiles(), Make("[S]\nzero=0\nlong=" + long_value + "\n", "long.ini"));
  EXPECT_EQ(long_ini.GetString("s", "LONG"), long_value);
  EXPECT_EQ(long_ini.GetInt("S", "zero", true), 0);
  const IniFile ini(SystemIniFiles(), Make("[S]\na = 1 = 2\ndelete\nKey=upper\nkey=lower\ndup=first\ndup=second\n"
                         "; comment=x\nq=\"kept\"\n\n[T]\nt=1\n"));
  // Split at the first "="; lines without "=" and comments skipped; later duplicates win.
  IniSectionMap map{{"pre", "existing"}};
  ini.ReadSectionMap("S", map);
  EXPECT_EQ(map, (IniSectionMap{{"pre", "existing"}, {"a", "1 = 2"}, {"Key", "upper"}, {"key", "lower"},
                                {"dup", "second"}, {"q", "\"kept\""}}));
  // Emptied first, then read key by key: quotes removed, the first duplicate
  // wins, and "Key"/"key" both find the first of them.
  IniSectionMap by_keys{{"stale", "x"}};
  EXPECT_EQ(ini.ReadSectionByKeys("S", by_keys), 5);
  EXPECT_EQ(by_keys, (IniSectionMap{{"a", "1 = 2"}, {"Key", "upper"}, {"key", "upper"},
                                    {"dup", "first"}, {"q", "kept"}}));
  IniSectionMap untouched{{"x", "y"}};
  ini.ReadSectionMap("Missing", untouched);
  EXPECT_EQ(untouched.size(), 1u);
  EXPECT_EQ(ini.ReadSectionByKeys("Missing", untouched), 0);
}

TEST_F(IniFileTest, FileAndFoldersAreFoundIgnoringCase) {
  fs::create_directory(tmp_.path() / "Bundle");
  Make("[OEMDriverDisk]\nOEMID=7\n", "Bundle/HW.INI");
  const IniFile ini(SystemIniFiles(), tmp_.Sub("BUNDLE/hw.ini"));
  EXPECT_EQ(ini.GetInt("oemdriverdisk", "oemid", true), 7);
  EXPECT_TRUE(ini.WriteString("OEMDriverDisk", "VERSION", "1.0"));
  // The write went into the existing file, not a second one beside it.
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / "Bundle" / "HW.INI"), "[OEMDriverDisk]\nOEMID=7\nVERSION=1.0\n");
  EXPECT_FALSE(fs::exists(tmp_.path() / "Bundle" / "hw.ini"));
}

TEST_F(IniFileTest, FailuresAreToldApartAndLeaveTheFile) {
  const IniFile missing(SystemIniFiles(), tmp_.Sub("nothere.ini"));
  EXPECT_EQ(missing.GetString("S", "k"), "");
  EXPECT_EQ(missing.LastStatus(), IniStatus::kFileMissing);
  EXPECT_EQ(missing.GetInt("S", "zero", true), -1);
  fs::create_directory(tmp_.path() / "folder.ini");
  const IniFile folder(SystemIniFiles(), tmp_.Sub("folder.ini"));
  EXPECT_EQ(folder.GetString("S", "k"), "");
  EXPECT_EQ(folder.LastStatus(), IniStatus::kUnreadable);
  EXPECT_NE(folder.LastError().find("folder.ini"), std::string::npos);
  EXPECT_FALSE(folder.WriteString("S", "k", "v"));
  // A write creates a missing file but never a missing folder.
  const IniFile fresh(SystemIniFiles(), tmp_.Sub("new.ini"));
  EXPECT_TRUE(fresh.WriteString("S", "k", "v"));
  EXPECT_EQ(fresh.LastStatus(), IniStatus::kOk);
  EXPECT_EQ(ReadFileOrDie(fresh.path()), "[S]\r\nk=v\r\n");
  const IniFile lost(SystemIniFiles(), tmp_.Sub("no-such-dir/x.ini"));
  EXPECT_FALSE(lost.WriteString("S", "k", "v"));
  EXPECT_EQ(lost.LastStatus(), IniStatus::kFolderMissing);
  EXPECT_NE(lost.LastError().find("no-such-dir"), std::string::npos);
  EXPECT_FALSE(fs::exists(tmp_.path() / "no-such-dir"));
  // A read-only file is not written; writing what is there already succeeds.
  const std::string path = Make("[S]\nk=v\n");
  ::chmod(path.c_str(), 0444);
  const IniFile ini(SystemIniFiles(), path);
  EXPECT_FALSE(ini.WriteString("S", "k", "changed"));
  EXPECT_EQ(ini.LastStatus(), IniStatus::kReadOnly);
  EXPECT_FALSE(ini.DeleteSection("S"));
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nk=v\n");
  EXPECT_TRUE(ini.WriteString("S", "k", "v"));
  // A lock that cannot be taken for another reason than permissions (here a
  // folder in its place) is a failed write, not a read-only file.
  const IniFile blocked(SystemIniFiles(), Make("[S]\nk=v\n", "b.ini"));
  fs::create_directory(blocked.path() + ".lock");
  EXPECT_FALSE(blocked.WriteString("S", "k", "changed"));
  EXPECT_EQ(blocked.LastStatus(), IniStatus::kWriteFailed);
}

TEST_F(IniFileTest, TwoProcessesWritingTheSameFileLoseNothing) {
  const std::string path = tmp_.Sub("shared.ini");
  const std::string head = "; shared by two writers\n[Keep]\nx=1\n";
  WriteFileOrDie(path, head);
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = Fork([&] {
      const IniFile ini(SystemIniFiles(), path);
      int failures = 0;
      for (int i = 0; i < 500; ++i) {
        failures += !ini.WriteString(w == 0 ? "S" : "T", "w" + std::to_string(w) + "_" + std::to_string(i),
                                     std::to_string(i));
      }
      return failures == 0 ? 0 : 1;
    });
  }
  for (const pid_t child : children) EXPECT_EQ(ExitStatus(child), 0);
  const IniFile ini(SystemIniFiles(), path);
  std::set<std::string> keys;
  for (const char* section : {"S", "T"}) {
    for (const std::string& key : ini.GetKeyNames(section)) keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 1000u);
  EXPECT_EQ(ini.GetString("T", "w1_499"), "499");
  EXPECT_EQ(ReadFileOrDie(path).rfind(head, 0), 0u);
}

TEST_F(IniFileTest, WriterKilledBeforeRenameLeavesOldFile) {
  const std::string path = tmp_.Sub("victim.ini");
  WriteFileOrDie(path, "[S]\nold=1\n");
  const fs::path marker = tmp_.path() / "paused";
  const pid_t child = Fork([&] {
    ::setenv(kPauseBeforeRenameVariable, marker.c_str(), 1);
    IniFile(SystemIniFiles(), path).WriteString("S", "new", "2");
    return 0;
  });
  for (int i = 0; i < 2000 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(marker));
  // The new content is complete in the temporary file; the target is untouched.
  const std::set<std::string> temps = Temporaries();
  ASSERT_EQ(temps.size(), 1u);
  EXPECT_EQ(temps.begin()->rfind(".victim.ini.tmp-", 0), 0u);
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / *temps.begin()), "[S]\nold=1\nnew=2\n");
  ::kill(child, SIGKILL);
  EXPECT_EQ(ExitStatus(child), 128 + SIGKILL);
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nold=1\n");
  // The lock is on the sidecar, which stays; the lock died with the writer.
  const int fd = ::open((path + ".lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
  // The next writer proceeds and clears the dead writer's temporary file.
  EXPECT_TRUE(IniFile(SystemIniFiles(), path).WriteString("S", "after", "3"));
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nold=1\nafter=3\n");
  EXPECT_TRUE(Temporaries().empty());
}

// Out of room (the file-size limit standing in for a full disk): the write
// fails, the old file stays, no temporary file is left.
TEST_F(IniFileTest, FailedWritesLeaveTheOldFile) {
  const std::string path = tmp_.Sub("full.ini");
  WriteFileOrDie(path, "[S]\nk=old\n");
  const pid_t child = Fork([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    const IniFile ini(SystemIniFiles(), path);
    return !ini.WriteString("S", "k", std::string(10000, 'x')) && ini.LastStatus() == IniStatus::kWriteFailed ? 0 : 1;
  });
  EXPECT_EQ(ExitStatus(child), 0);
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nk=old\n");
  EXPECT_TRUE(Temporaries().empty());
  // A temporary name in use (a folder, which the clean-up of dead writers'
  // files leaves) is skipped for the next; after 101 more tries the write fails.
  const std::string busy_path = tmp_.Sub("busy.ini");
  const std::string prefix = ".busy.ini.tmp-" + std::to_string(::getpid()) + "-";
  for (int i = 0; i <= 100; ++i) fs::create_directory(tmp_.path() / (prefix + std::to_string(i)));
  ASSERT_TRUE(WriteFileAtomically(busy_path, "first").ok());
  fs::create_directory(tmp_.path() / (prefix + "101"));
  const FileResult busy = WriteFileAtomically(busy_path, "second");
  EXPECT_EQ(busy.error, FileError::kWriteFailed);
  EXPECT_NE(busy.message.find("temporary"), std::string::npos) << busy.message;
  EXPECT_EQ(ReadFileOrDie(busy_path), "first");
}

// Through a link, the real file is replaced and keeps its mode; the lock
// lies beside it. A new file gets 0666 less the umask; a dangling link gets
// its target.
TEST_F(IniFileTest, RewriteKeepsTheModeAndTheLink) {
  const std::string real = tmp_.Sub("real.ini");
  WriteFileOrDie(real, "old");
  ::chmod(real.c_str(), 0604);
  fs::create_symlink("real.ini", tmp_.path() / "link.ini");
  ASSERT_TRUE(WriteFileAtomically(tmp_.Sub("link.ini"), "new").ok());
  EXPECT_TRUE(fs::is_symlink(tmp_.path() / "link.ini"));
  EXPECT_EQ(ReadFileOrDie(real), "new");
  EXPECT_FALSE(fs::exists(real + ".lock"));  // removed again after the write
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0604));
  const mode_t mask = ::umask(022);
  ::umask(mask);
  ASSERT_TRUE(WriteFileAtomically(tmp_.Sub("fresh.ini"), "x").ok());
  EXPECT_EQ(fs::status(tmp_.path() / "fresh.ini").permissions(), fs::perms(0666 & ~mask));

  // An edit that keeps the content writes nothing, not even a new file.
  EXPECT_TRUE(UpdateFileLocked(tmp_.Sub("untouched"), [](std::string&, bool) { return EditAction::kKeep; }).ok());
  EXPECT_FALSE(fs::exists(tmp_.path() / "untouched"));
  // A dangling link gets its target created.
  fs::create_symlink("target.txt", tmp_.path() / "dangling");
  EXPECT_TRUE(WriteFileAtomically(tmp_.Sub("dangling"), "made").ok());
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / "target.txt"), "made");
  EXPECT_TRUE(fs::is_symlink(tmp_.path() / "dangling"));
}

// Deferred folder flushes: the write lands at once, its folder is flushed
// when asked; a folder gone since is no failure, one that cannot be opened
// is, and after the flush writes flush their folders at once again.
TEST_F(IniFileTest, DeferredFolderFlushesAreReportedWhenAsked) {
  struct Case {
    bool defer;
    bool folder_becomes_file;  // else the folder is removed
    bool flushed;
  };
  for (const Case& c : {Case{true, false, true}, Case{true, true, false}, Case{false, true, true}}) {
    SCOPED_TRACE(::testing::Message() << c.defer << c.folder_becomes_file);
    const fs::path dir = tmp_.path() / "deferred";
    fs::create_directory(dir);
    if (c.defer) DeferFolderFlushes();
    ASSERT_TRUE(WriteFileAtomically((dir / "a.ini").string(), "x").ok());
    EXPECT_EQ(ReadFileOrDie(dir / "a.ini"), "x");
    fs::remove_all(dir);
    if (c.folder_becomes_file) WriteFileOrDie(dir.string(), "in the way");
    EXPECT_EQ(FlushDeferredFolders(), c.flushed);
    fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace kestrin
