// The Win32 back end of src/host (its file system runs the shared suite,
// tests/host/file_system_test.cc), the output tree's refusal of names
// Windows reads as something else, and folders deeper than MAX_PATH.
#include <errno.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "bundle/crt_file_io.h"
#include "bundle/output_tree.h"
#include "host/atomic_file.h"
#include "host/file_system.h"
#include "host/library_loader.h"
#include "host/path_resolve.h"
#include "host/process.h"
#include "host/safe_path.h"
#include "host/registry_key.h"
#include "host/settings.h"
#include "support/cab_builder.h"
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
    return CRegistryKey(SystemRegistry(), RegistryRoot::kLocalMachine, Key(name));
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
  EXPECT_EQ(ReadLocalMachineString(SystemRegistry(), dword, "InstallRoot"), "named text");
  EXPECT_EQ(ReadLocalMachineString(SystemRegistry(), dword, "Other"), std::nullopt);
}

// A refused write stops none of the others.
TEST_F(Win32RegistryTest, RefusedWrites) {
  const std::string too_long(kMaxRegistryKeyNameLength + 1, 'k');
  std::vector<tRegistryWrite> writes{{Key("One"), "1", false, {}},
                                     {Key(too_long), "2", false, {}},
                                     {Key("Three"), "3", false, {}}};
  std::string error;
  EXPECT_FALSE(SystemRegistry().SetDefaultValues(writes, &error));
  EXPECT_EQ(std::vector<bool>({writes[0].done, writes[1].done, writes[2].done}),
            std::vector<bool>({true, false, true}));
  EXPECT_EQ(ReadLocalMachineString(SystemRegistry(), Key("Three"), ""), "3");
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

TEST_F(Win32FilesTest, NeverTheContentsOfADrive) {
  EXPECT_EQ(DeleteFiles(SystemFileSystem(), "C:\\*.*"), 0);
  EXPECT_EQ(DeleteFiles(SystemFileSystem(), "C:\\"), 0);
}

TEST_F(Win32FilesTest, AtomicWritesKeepReadOnlyFilesAndNeedTheirFolder) {
  ASSERT_TRUE(WriteFileAtomically(P("store.ini"), "one\r\n").ok());
  ASSERT_TRUE(WriteFileAtomically(P("store.ini"), "two\r\n").ok());
  std::string content;
  ASSERT_TRUE(ReadWholeFile(P("store.ini"), content).ok());
  EXPECT_EQ(content, "two\r\n");
  ASSERT_TRUE(SetReadOnly(SystemFileSystem(), P("store.ini"), true));
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

// Below a folder deeper than MAX_PATH: the decoder (a set whose second
// cabinet it opens by the folder's alias) and the INI files (Kestrin's own
// engine beyond the profile calls) work; the calls that take no "\\?\" form
// refuse with the reason. (Wine's wide calls take long paths without that
// form as well; Windows needs it.)
TEST(Win32DeepFolderTest, BeyondMaxPath) {
  testing::ScopedTempDir tmp;
  FileSystem& files = SystemFileSystem();
  const std::string top = JoinPath(tmp.path().string(), "deep");
  std::string deep = top;
  while (deep.size() < 300) deep = JoinPath(deep, std::string(40, 'd'));
  const std::string bundles = JoinPath(deep, "bundles"), out = JoinPath(deep, "out");
  ASSERT_EQ(CreateDirectoryTree(files, bundles), 1);
  const cab::testing::TwoCabinets set = cab::testing::CabinetSet();
  ASSERT_TRUE(WriteFileAtomically(JoinPath(bundles, "a.cab"), set.a.Build()).ok());
  ASSERT_TRUE(WriteFileAtomically(JoinPath(bundles, "b.cab"), set.b.Build()).ok());
  EXPECT_EQ(SystemBundleUnpacker().ExtractAll(JoinPath(bundles, "A.CAB"), out), 2);
  std::string content;
  ASSERT_TRUE(ReadWholeFile(JoinPath(out, "f2"), content).ok());
  EXPECT_EQ(content, set.f2);

  IniFiles& ini = SystemIniFiles();
  const std::string modules = JoinPath(deep, "MODULES.INI");
  IniResult result;
  ASSERT_TRUE(ini.SetValues(modules, "Modules", {{"Count", "1"}, {"1", "FX200.INI"}}, &result))
      << result.message;
  EXPECT_EQ(ini.GetInt(modules, "MODULES", "count", &result), 1);
  EXPECT_TRUE(ini.DeleteKey(modules, "Modules", "1", &result));
  ASSERT_TRUE(ReadWholeFile(modules, content).ok());
  EXPECT_EQ(content, "[Modules]\r\nCount=1\r\n");

  ASSERT_TRUE(WriteFileAtomically(JoinPath(deep, "tool.exe"), "MZ").ok());
  std::string error;
  EXPECT_EQ(RegisterServer(JoinPath(deep, "tool.exe"), true, &error), 0);
  EXPECT_NE(error.find("longer than 259 characters"), std::string::npos) << error;
  const ProcessResult process = RunProcess("\"" + JoinPath(deep, "tool.exe") + "\"");
  EXPECT_FALSE(process.started);
  EXPECT_NE(process.error.find("longer than 259 characters"), std::string::npos) << process.error;
  EXPECT_EQ(DeleteFiles(files, top), 1);
}

// A name a bundle gives with "/" or "\" becomes a path with "\" alone,
// as every path a Windows user reads.
TEST(Win32PathTest, BundleNamesTakeTheOneSeparator) {
  std::string relative;
  ASSERT_TRUE(SafeRelativePath("EXE/sub\\x.dll", &relative));
  EXPECT_EQ(relative, "EXE\\sub\\x.dll");
}

}  // namespace
}  // namespace kestrin
