// Odd and hostile inputs to the host layer: names holding wildcard
// characters taken literally, FIFOs where files are expected, an empty
// destination, registry values of other types, and comment lines before
// the registry store's header.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
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
  struct Case {
    const char* what;
    std::function<int(const std::string& src, const std::string& dst)> op;
    std::set<std::string> src_after, dst_after;
  };
  const std::vector<Case> cases = {
      {"literal copy of w*.ini",
       [](auto s, auto d) { return CopyFiles(s + "/w*.ini", d, nullptr, NameMode::kLiteral); },
       all, {"w*.ini"}},
      {"literal copy of w?.ini, spelled in other letter case",
       [](auto s, auto d) { return CopyFiles(s + "/W?.INI", d, nullptr, NameMode::kLiteral); },
       all, {"w?.ini"}},
      {"pattern copy of w*.ini",
       [](auto s, auto d) { return CopyFiles(s + "/w*.ini", d); },
       all, {"w*.ini", "w?.ini", "wx.ini", "wz.ini"}},
      {"literal checked copy of a folder named t*",
       [](auto s, auto d) { return CopyFilesChecked(s + "/t*", d, 0, 1, nullptr, NameMode::kLiteral); },
       all, {"t*"}},
      {"literal delete of w*.ini",
       [](auto s, auto) { return DeleteFiles(s + "/w*.ini", nullptr, NameMode::kLiteral); },
       {"t*", "tz", "w?.ini", "wx.ini", "wz.ini"}, {}},
      {"literal delete of the folder t*",
       [](auto s, auto) { return DeleteFiles(s + "/t*", nullptr, NameMode::kLiteral); },
       {"tz", "w*.ini", "w?.ini", "wx.ini", "wz.ini"}, {}},
      {"pattern delete of w?.ini",
       [](auto s, auto) { return DeleteFiles(s + "/w?.ini"); },
       {"t*", "tz"}, {}},  // "?" matches the "*" of w*.ini too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    fs::remove_all(dst_);
    EXPECT_EQ(c.op(src_.string(), dst_.string()), 1);
    EXPECT_EQ(Names(src_), c.src_after);
    EXPECT_EQ(Names(dst_), c.dst_after);
    if (c.dst_after.count("w*.ini")) {
      EXPECT_EQ(ReadFileOrDie(dst_ / "w*.ini"), "content of w*.ini");
    }
    if (c.dst_after.count("t*")) {
      EXPECT_EQ(ReadFileOrDie(dst_ / "t*" / "inner" / "f"), "f");
    }
    fs::remove_all(src_);
    fs::create_directories(src_);
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
  const std::string dst = dst_.string();
  // Alone, and inside a folder copied whole: the FIFO is refused, the rest
  // of the folder still arrives.
  EXPECT_EQ(InChild([&] { return CopyFiles(fifo.string(), dst, nullptr, NameMode::kLiteral); }), 0);
  EXPECT_EQ(InChild([&] { return CopyFiles((src_ / "*.*").string(), dst); }), 0);
  EXPECT_TRUE(fs::exists(dst_ / "wx.ini"));
  EXPECT_FALSE(fs::exists(dst_ / "pipe.cab"));
  const std::string d2 = (tmp_.path() / "d2").string();
  EXPECT_EQ(InChild([&] {
              FsError error;
              return CopyFiles(fifo.string(), d2, &error, NameMode::kLiteral) == 0 &&
                             error.text.find("not a regular file") != std::string::npos
                         ? 0
                         : 1;
            }),
            0);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(FindFiles((src_ / "*.cab").string(), &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_FALSE(entries[0].is_regular);
  ASSERT_TRUE(FindFiles((src_ / "*.ini").string(), &entries));
  for (const DirEntry& entry : entries) EXPECT_TRUE(entry.is_regular) << entry.name;
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

TEST_F(HostileHostTest, CommentLinesBeforeTheStoreHeaderSurviveAWrite) {
  const std::string store = tmp_.Sub("registry.reg");
  WriteFileOrDie(store,
                 "; written by hand\n;   keep me too\n"
                 "Windows Registry Editor Version 5.00\n\n; after the header\n\n"
                 "[HKEY_LOCAL_MACHINE\\A]\n@=\"1\"\n");
  ASSERT_TRUE(CRegistryKey(RegistryRoot::kLocalMachine, "A", store).SetString("2"));
  const std::string text = ReadFileOrDie(store);
  EXPECT_EQ(text.rfind("; written by hand\n;   keep me too\nWindows Registry Editor Version 5.00\n", 0),
            0u)
      << text;
  EXPECT_NE(text.find("; after the header"), std::string::npos) << text;
  EXPECT_NE(text.find("@=\"2\""), std::string::npos) << text;
  // And the file reads back the same.
  ASSERT_TRUE(CRegistryKey(RegistryRoot::kLocalMachine, "A", store).SetString("3"));
  EXPECT_EQ(ReadFileOrDie(store).rfind("; written by hand\n;   keep me too\nWindows", 0), 0u);
}

}  // namespace
}  // namespace kestrin
