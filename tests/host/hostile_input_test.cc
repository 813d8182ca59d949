// Odd and hostile inputs to the host layer: names holding wildcard
// characters taken literally, FIFOs where files are expected, an empty
// destination, and registry values of other types.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/file_system.h"
#include "host/registry_key.h"
#include "host/registry_store.h"
#include "support/child.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::InChild;
using testing::WriteFileOrDie;

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) names.insert(entry.path().filename());
  return names;
}

class HostileHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = tmp_.path() / "src";
    dst_ = tmp_.path() / "dst";
    fs::create_directories(src_);
    // Names that a pattern would match besides the literal one.
    for (const char* name : {"w*.ini", "wx.ini", "w?.ini", "wz.ini"}) {
      WriteFileOrDie(src_ / name, std::string("content of ") + name);
    }
    fs::create_directories(src_ / "t*" / "inner");
    WriteFileOrDie(src_ / "t*" / "inner" / "f", "f");
    fs::create_directories(src_ / "tz");
    WriteFileOrDie(src_ / "tz" / "g", "g");
  }
  testing::ScopedTempDir tmp_;
  fs::path src_, dst_;
};

TEST_F(HostileHostTest, LiteralNamesNameOneEntryPatternsStillMatch) {
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
    fs::remove_all(src_);
    fs::remove_all(dst_);
    SetUp();
    const std::string s = (src_ / c.name).string(), d = dst_.string();
    EXPECT_EQ(c.op == 'c' ? CopyFiles(s, d, nullptr, c.mode)
              : c.op == 'v' ? CopyFilesChecked(s, d, 0, 1, nullptr, c.mode)
                            : DeleteFiles(s, nullptr, c.mode),
              1);
    EXPECT_EQ(Names(src_), c.src_after);
    EXPECT_EQ(Names(dst_), c.dst_after);
    if (c.dst_after.count("w*.ini")) {
      EXPECT_EQ(ReadFileOrDie(dst_ / "w*.ini"), "content of w*.ini");
    }
    if (c.dst_after.count("t*")) {
      EXPECT_EQ(ReadFileOrDie(dst_ / "t*" / "inner" / "f"), "f");
    }
  }
}

TEST_F(HostileHostTest, LiteralNameThatDoesNotExistFailsInsteadOfMatching) {
  // "w*.txt" would match nothing as a pattern (a success); as a literal name
  // it names a missing file.
  FsError error;
  EXPECT_EQ(CopyFiles((src_ / "wx*").string(), dst_.string(), &error, NameMode::kLiteral), 0);
  EXPECT_NE(error.text.find("wx*"), std::string::npos) << error.text;
  EXPECT_EQ(DeleteFiles((src_ / "w*.txt").string(), nullptr, NameMode::kLiteral), 0);
  EXPECT_EQ(DeleteFiles((src_ / "w*.txt").string()), 1);
  EXPECT_EQ(Names(src_).size(), 6u);
  // A verified copy of a literal name is not verified as a folder pattern.
  EXPECT_EQ(CopyFilesChecked((src_ / "*.*").string(), dst_.string(), 0, 1, nullptr,
                             NameMode::kLiteral), 0);
}

TEST_F(HostileHostTest, EmptyDestinationOfAVerifiedCopyFails) {
  // A source folder whose only entry is a folder also found in "/": were the
  // empty destination taken for "/", the verification would hold.
  fs::remove_all(src_);
  fs::create_directories(src_ / "tmp");
  EXPECT_EQ(CopyFilesChecked((src_ / "*.*").string(), "", 0, 1), 0);
  EXPECT_EQ(CopyFilesChecked((src_ / "*.*").string(), "", 0, 0), 0);
}

TEST_F(HostileHostTest, SpecialFilesAreNotCopiedAndNothingWaits) {
  const fs::path fifo = src_ / "pipe.cab";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // Alone, and inside a folder copied whole: the FIFO is refused, the rest
  // of the folder still arrives.
  EXPECT_EQ(InChild([&] {
              FsError error;
              return CopyFiles(fifo.string(), dst_.string(), &error, NameMode::kLiteral) == 0 &&
                             error.text.find("not a regular file") != std::string::npos
                         ? 0
                         : 1;
            }),
            0);
  EXPECT_EQ(InChild([&] { return CopyFiles((src_ / "*.*").string(), dst_.string()); }), 0);
  EXPECT_TRUE(fs::exists(dst_ / "wx.ini"));
  EXPECT_FALSE(fs::exists(dst_ / "pipe.cab"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(FindFiles((src_ / "*.*").string(), &entries));
  for (const DirEntry& entry : entries) {
    EXPECT_EQ(entry.is_regular, entry.name != "pipe.cab" && !entry.is_directory) << entry.name;
  }
}

TEST_F(HostileHostTest, RegistryValuesOfOtherTypesReadAsTheirBytes) {
  const std::string store = tmp_.Sub("registry.reg");
  WriteFileOrDie(store,
                 "Windows Registry Editor Version 5.00\n\n"
                 "[HKEY_LOCAL_MACHINE\\T\\Dword]\n@=dword:12345678\n"
                 "[HKEY_LOCAL_MACHINE\\T\\Zero]\n@=dword:00000000\n"
                 "[HKEY_LOCAL_MACHINE\\T\\Binary]\n@=hex:01,02,03\n"
                 "[HKEY_LOCAL_MACHINE\\T\\Cut]\n@=hex:41,42,00,43\n"
                 "[HKEY_LOCAL_MACHINE\\T\\Expand]\n@=hex(2):25,00,53,00,79,00,73,00,25,00,5c,00,\\\n"
                 "  78,00,00,00\n"
                 "[HKEY_LOCAL_MACHINE\\T\\Multi]\n@=hex(7):61,00,00,00,62,00,00,00,00,00\n"
                 "[HKEY_LOCAL_MACHINE\\T\\None]\n@=hex(0):\n"
                 "[HKEY_LOCAL_MACHINE\\T\\Number]\n@=hex(4):37,00,00,00\n"
                 "[HKEY_LOCAL_MACHINE\\T\\Text]\n@=\"plain\"\n");
  struct Case {
    const char* key;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"Dword", std::string("xV4\x12")}, {"Zero", ""},          {"Binary", "\x01\x02\x03"},
      {"Cut", "AB"},                     {"Expand", "%Sys%\\x"}, {"Multi", "a"},
      {"None", ""},                      {"Number", "7"},        {"Text", "plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const std::string key = std::string("T\\") + c.key;
    EXPECT_EQ(ReadLocalMachineString(key, "", store), std::optional<std::string>(c.text));
    EXPECT_EQ(CRegistryKey(RegistryRoot::kLocalMachine, key, store).GetString("default"), c.text);
  }
  EXPECT_EQ(CRegistryKey(RegistryRoot::kLocalMachine, "T\\Number", store).GetInt(-1), 7);
  EXPECT_EQ(CRegistryKey(RegistryRoot::kLocalMachine, "T\\Missing", store).GetString("d"), "d");
}

}  // namespace
}  // namespace kestrin
