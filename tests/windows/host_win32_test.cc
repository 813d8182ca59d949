// The Win32 back end of src/host, and the output tree's refusal of names
// Windows reads as something else.
#include <errno.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bundle/crt_file_io.h"
#include "bundle/output_tree.h"
#include "host/atomic_file.h"
#include "host/file_system.h"
#include "host/library_loader.h"
#include "host/process.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::WriteFileOrDie;

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { base_ = "SOFTWARE\\KestrinTest\\" + std::to_string(GetCurrentProcessId()); }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KestrinTest"); }
  std::string Key(const std::string& name) const { return base_ + "\\" + name; }
  CRegistryKey Hklm(const std::string& name) const {
    return CRegistryKey(RegistryRoot::kLocalMachine, Key(name));
  }
  std::string base_;
};

// Default strings are replayed against the recorded calls (RegistryOracle),
// numbers are read by shared code, and the Wine stage reads the help pages'
// subkeys back; here the other read statuses and a named value.
TEST_F(Win32RegistryTest, ReadStatusesAndNamedValues) {
  ASSERT_TRUE(Hklm("A\\B").SetString("x")) << Hklm("A\\B").LastError();
  std::string text;
  // Parents are made without values.
  EXPECT_EQ(Hklm("A").Read(&text), RegistryReadStatus::kNoValue);
  const DWORD number = 5;
  const char named[] = "named text";
  const std::string dword = Key("Dword");
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, dword.c_str(), nullptr, REG_DWORD, &number, sizeof number);
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, dword.c_str(), "InstallRoot", REG_SZ, named, sizeof named);
  EXPECT_EQ(Hklm("Dword").Read(&text), RegistryReadStatus::kNotString);
  EXPECT_EQ(ReadLocalMachineString(dword, "InstallRoot"), "named text");
  EXPECT_EQ(ReadLocalMachineString(dword, "Other"), std::nullopt);
}

// A refused write stops none of the others; the list of defaults is all or
// nothing when a path is refused before anything is written.
TEST_F(Win32RegistryTest, RefusedWrites) {
  const std::string too_long(kMaxRegistryKeyNameLength + 1, 'k');
  std::vector<tRegistryWrite> writes{{Key("One"), "1", false, {}},
                                     {Key(too_long), "2", false, {}},
                                     {Key("Three"), "3", false, {}}};
  std::string error;
  EXPECT_FALSE(SetDefaultValues(writes, &error));
  EXPECT_EQ(std::vector<bool>({writes[0].done, writes[1].done, writes[2].done}),
            std::vector<bool>({true, false, true}));
  EXPECT_EQ(ReadLocalMachineString(Key("Three"), ""), "3");
  EXPECT_FALSE(SetLocalMachineDefaults({{Key("Four"), "4"}, {"\\leading", "x"}}, "", &error));
  EXPECT_EQ(ReadLocalMachineString(Key("Four"), ""), std::nullopt);
}

class Win32FilesTest : public ::testing::Test {
 protected:
  void Make(const std::string& relative, const std::string& content = "x") {
    const fs::path path = tmp_.path() / relative;
    fs::create_directories(path.parent_path());
    WriteFileOrDie(path, content);
  }
  std::string P(const std::string& relative) const { return (tmp_.path() / relative).string(); }
  testing::ScopedTempDir tmp_;
};

TEST_F(Win32FilesTest, CopiesFollowTheShellRules) {
  Make("src/a.ini", "new a");
  Make("src/b.txt", "new b");
  Make("src/sub/deep/c.ini", "new c");
  Make("dst/a.ini", "old a");
  ASSERT_TRUE(SetReadOnly(P("dst/a.ini"), true));

  FsError error;
  // "*.*" copies subfolders with their contents and replaces a read-only file.
  ASSERT_EQ(CopyFiles(P("src/*.*"), P("dst"), &error), 1) << error.text;
  EXPECT_EQ(ReadFileOrDie(P("dst/a.ini")), "new a");
  EXPECT_EQ(ReadFileOrDie(P("dst/sub/deep/c.ini")), "new c");
  // A pattern picks matching names, ignoring case; the destination is created.
  ASSERT_EQ(CopyFiles(P("src/*.INI"), P("only/ini"), &error), 1) << error.text;
  EXPECT_FALSE(PathExists(P("only/ini/b.txt")));
  // A file onto itself is a success that changes nothing.
  EXPECT_EQ(CopyFiles(P("src/a.ini"), P("src"), &error), 1) << error.text;
  EXPECT_EQ(ReadFileOrDie(P("src/a.ini")), "new a");
  // No temporary files are left behind.
  for (const auto& entry : fs::recursive_directory_iterator(tmp_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }

  FsError missing;
  EXPECT_EQ(CopyFiles(P("nowhere/*.*"), P("dst"), &missing), 0);
  EXPECT_NE(missing.text.find("nowhere"), std::string::npos) << missing.text;
  EXPECT_EQ(CopyFilesChecked(P("nowhere/*.*"), P("dst"), 0, 1), 0);
}

TEST_F(Win32FilesTest, VerificationAndNameMatching) {
  Make("src/File.INI", "12345");
  Make("src/sub/x.txt", "1");
  Make("dst/File.INI", "12345");
  Make("dst/sub/x.txt", "1");
  // The shared verification pass over this back end's listing and matching.
  EXPECT_EQ(CompareTree(P("src") + "\\", P("dst") + "\\"), 1);
  EXPECT_FALSE(FileMatches(P("dst") + "\\", "FILE.INI", DirEntry{"File.INI", false, 5, true}));
  Make("dst/sub/x.txt", "22");
  EXPECT_EQ(CompareTree(P("src") + "\\", P("dst") + "\\"), 0);

  std::vector<DirEntry> found;
  for (const char* pattern : {"src/*.ini", "src/file.ini"}) {
    ASSERT_TRUE(FindFiles(P(pattern), &found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name + "=" + std::to_string(found[0].size), "File.INI=5");
  }
  ASSERT_TRUE(FindFiles(P("src/*.cab"), &found));
  EXPECT_TRUE(found.empty());
  EXPECT_FALSE(FindFiles(P("nowhere/*.cab"), &found));
}

TEST_F(Win32FilesTest, DeletesAndFolders) {
  Make("d/a.txt");
  Make("d/b.ini");
  Make("d/sub/c.txt");
  ASSERT_TRUE(SetReadOnly(P("d/sub/c.txt"), true));
  EXPECT_EQ(DeleteFiles(P("d/*.txt")), 1);
  EXPECT_FALSE(PathExists(P("d/a.txt")));
  EXPECT_TRUE(PathExists(P("d/b.ini")));
  EXPECT_EQ(DeleteFiles(P("d/*.*")), 1);  // subfolders and read-only files too
  EXPECT_TRUE(IsDirectory(P("d")));
  EXPECT_FALSE(PathExists(P("d/sub")));
  EXPECT_EQ(DeleteFiles(P("d/*.xyz")), 1);  // no match in an existing folder
  FsError error;
  EXPECT_EQ(DeleteFiles(P("gone"), &error), 0);
  EXPECT_NE(error.text.find("gone"), std::string::npos);
  EXPECT_EQ(DeleteFiles("C:\\*.*"), 0);  // never the contents of a drive

  EXPECT_EQ(CreateDirectoryTree(P("n1/n2/n3")), 1);
  EXPECT_TRUE(IsDirectory(P("n1/n2/n3")));
  Make("file");
  EXPECT_TRUE(DeleteSingleFile(P("file")));
}

TEST_F(Win32FilesTest, AtomicWritesKeepReadOnlyFilesAndNeedTheirFolder) {
  ASSERT_TRUE(WriteFileAtomically(P("store.ini"), "one\r\n").ok());
  ASSERT_TRUE(WriteFileAtomically(P("store.ini"), "two\r\n").ok());
  std::string content;
  ASSERT_TRUE(ReadWholeFile(P("store.ini"), content).ok());
  EXPECT_EQ(content, "two\r\n");
  ASSERT_TRUE(SetReadOnly(P("store.ini"), true));
  const FileResult read_only = WriteFileAtomically(P("store.ini"), "three");
  EXPECT_EQ(read_only.error, FileError::kReadOnly);
  EXPECT_NE(read_only.message.find("store.ini"), std::string::npos);
  EXPECT_EQ(ReadFileOrDie(P("store.ini")), "two\r\n");
  EXPECT_EQ(WriteFileAtomically(P("nowhere/x.ini"), "x").error, FileError::kFolderMissing);
  EXPECT_EQ(ReadWholeFile(P("missing.ini"), content).error, FileError::kMissing);
  EXPECT_EQ(ReadWholeFile(tmp_.path().string(), content).error, FileError::kUnreadable);
}

TEST(Win32ProcessTest, StartsWithTheCommandLineAsBuiltAndReportsTheExitCode) {
  ProcessResult result = RunProcess("cmd /c exit 7");
  ASSERT_TRUE(result.started) << result.error;
  EXPECT_EQ(result.exit_code, 7);
  result = RunProcess("no-such-program-here --flag");
  EXPECT_FALSE(result.started);
  EXPECT_NE(result.error.find("program not found: no-such-program-here"), std::string::npos);
  EXPECT_FALSE(RunProcess("\"unclosed").started);
}

TEST(Win32LibraryTest, RegistersThroughTheEntryPoint) {
  const std::string dir = KESTRIN_TEST_DLL_DIR;
  std::string error;
  EXPECT_EQ(RegisterServer(dir + "/register_ok.dll", true, &error), 1) << error;
  EXPECT_EQ(RegisterServer(dir + "/register_ok.dll", false, &error), 1) << error;
  EXPECT_EQ(RegisterServer(dir + "/register_fails.dll", true, &error), 0);
  EXPECT_NE(error.find("0x80004005"), std::string::npos) << error;
  EXPECT_EQ(RegisterServer(dir + "/register_none.dll", true, &error), 0);
  EXPECT_NE(error.find("no DllRegisterServer"), std::string::npos) << error;
  EXPECT_EQ(RegisterServer(dir + "/missing.dll", true, &error), 0);
  EXPECT_NE(error.find("cannot load"), std::string::npos) << error;
  EXPECT_EQ(RegisterServer("kernel32.dll", true, &error), 0);  // a bare name is not searched
}

// The program folder and the OEMCAB folder: the Wine stage's installation
// logs them.
TEST(Win32EnvironmentTest, SettingsFallback) {
  // No tessel32.dll beside the tests: the fixed settings path.
  EXPECT_STREQ(VqmGetRegistrySubKey(), "SOFTWARE\\Brantel\\Korvane\\Settings\\");
}

TEST(Win32OutputTest, RefusesNamesWindowsReadsAsSomethingElse) {
  testing::ScopedTempDir tmp;
  OutputTree tree(tmp.path().string());
  std::string shown, error;
  const struct {
    std::vector<std::string> components;
    const char* why;
  } refused[] = {
      {{"CON"}, "device"},        {{"sub", "nul.txt"}, "device"}, {{"COM1.INI"}, "device"},
      {{"a:stream"}, "character"}, {{"x?.ini"}, "character"},    {{"dots."}, "dot"},
  };
  for (const auto& c : refused) {
    error.clear();
    EXPECT_EQ(tree.CreateOutputFile(c.components, &shown, &error), -1) << c.components.back();
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
  const cab::INT_PTR hf = tree.CreateOutputFile({"MODULES", "FX200", "A.INI"}, &shown, &error);
  ASSERT_NE(hf, -1) << error;
  EXPECT_EQ(CrtWrite(hf, "abc", 3), 3u);
  EXPECT_EQ(CrtClose(hf), 0);
  EXPECT_EQ(ReadFileOrDie(tmp.path() / "MODULES/FX200/A.INI"), "abc");
  errno = 0;
  EXPECT_EQ(CrtOpen("CON", kCrtBinary | kCrtRdOnly, 0), -1);
  EXPECT_EQ(errno, ENXIO);
  EXPECT_EQ(CrtOpen(tmp.path().string().c_str(), kCrtBinary | kCrtRdOnly, 0), -1);
  EXPECT_EQ(errno, EISDIR);
}

}  // namespace
}  // namespace kestrin
