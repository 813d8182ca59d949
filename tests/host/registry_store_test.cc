// The registry store file and CRegistryKey over it, values of other types included.
#include "host/registry_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "host/ini_document.h"
#include "host/registry_key.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

using testing::ReadFileOrDie;
using testing::WriteFileOrDie;

const std::string kHeader = "Windows Registry Editor Version 5.00\n";
const std::string kKeyA = "[HKEY_LOCAL_MACHINE\\A]\n";

TEST(RegistryStoreParse, RejectsWhatItCannotReadWithTheLine) {
  const struct {
    std::string text;
    size_t line;
    const char* what;  // part of the message
  } cases[] = {
      {"REGEDIT4\n\n" + kKeyA, 1, "first line"},
      {kHeader + "\n" + kKeyA + "@=\"x\"\n[-HKEY_LOCAL_MACHINE\\A]\n", 5, "[-KEY]"},
      {kHeader + kKeyA + "\"v\"=-\n", 3, "deleting a value"},
      {kHeader + "@=\"x\"\n", 2, "outside"},
      {kHeader + kKeyA + "@=\"C:\\dir\"\n", 3, "backslash"},
      {kHeader + kKeyA + "@=\"open\n", 3, "closing quote"},
      {kHeader + kKeyA + "@=qword:1\n", 3, "unknown value data"},
      {kHeader + kKeyA + "@=dword:1\n", 3, "unknown value data"},
      {kHeader + "[SOFTWARE\\A]\n", 2, "registry root"},
      {kHeader + "[HKEY_LOCAL_MACHINE\\A\n", 2, "closing ]"},
      {kHeader + kKeyA + "name=value\n", 3, "expected"},
      {kHeader + kKeyA + "\"v\" \"x\"\n", 3, "without \"=\""},
      {"Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n", 3, "[-KEY]"},
  };
  for (const auto& c : cases) {
    RegistryStore store;
    size_t line = 0;
    std::string what;
    EXPECT_FALSE(store.Parse(c.text, line, what)) << c.text;
    EXPECT_EQ(line, c.line) << c.text;
    EXPECT_NE(what.find(c.what), std::string::npos) << what;
    EXPECT_TRUE(store.KeyPaths().empty());
  }
}

TEST(RegistryStoreParse, RoundTripKeepsSpellingCommentsAndUnknownTypes) {
  const std::string text = "; written by hand\n;   keep me too\n" + kHeader + "\n; exported by hand\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\IniPath]\n"
                           "@=\"/opt/k/Ini/\"\n\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Empty]\n\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Esc]\n"
                           "@=\"a \\\"q\\\" \\\\ b\"\n"
                           "\"Named\"=\"n\"\n"
                           "  ; about Count\n"
                           "\"Count\"=dword:0000002a\n"
                           "\"Path\"=hex(2):25,00,53,00,\\\n  00,00\n"
                           "\"Bin\"=hex:01,02\n";
  RegistryStore store;
  size_t line = 0;
  std::string what;
  ASSERT_TRUE(store.Parse(text, line, what)) << line << ": " << what;
  const std::string base = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
  ASSERT_NE(store.FindValue(base + "brantel\\KORVANE\\Settings\\IniPath", ""), nullptr);
  EXPECT_EQ(store.FindValue(base + "Brantel\\Korvane\\Settings\\IniPath", "")->data, "/opt/k/Ini/");
  EXPECT_EQ(store.FindValue(base + "Esc", "")->data, "a \"q\" \\ b");
  EXPECT_EQ(store.FindValue(base + "esc", "NAMED")->data, "n");
  EXPECT_FALSE(store.FindValue(base + "Esc", "Count")->is_string);
  // Keys exist explicitly, as parents, or not at all.
  EXPECT_TRUE(store.KeyExists(base + "Brantel\\Empty"));
  EXPECT_TRUE(store.KeyExists(base + "brantel\\korvane"));
  EXPECT_FALSE(store.KeyExists(base + "Brantel\\Korv"));
  EXPECT_EQ(store.FindValue(base + "Brantel\\Empty", ""), nullptr);

  ASSERT_TRUE(store.SetString(base + "BRANTEL\\korvane\\New", "", "v"));
  EXPECT_FALSE(store.SetString(base + "X", "", "two\nlines"));
  const std::string out = store.Serialize();
  for (const std::string& part :
       {"; written by hand\n;   keep me too\n" + kHeader + "\n; exported by hand\n", std::string("\"Named\"=\"n\"\n  ; about Count\n\"Count\"=dword:0000002a\n"),
        std::string("\"Path\"=hex(2):25,00,53,00,\\\n  00,00\n"), std::string("@=\"a \\\"q\\\" \\\\ b\"\n"),
        std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\New]\n@=\"v\"\n")}) {
    EXPECT_NE(out.find(part), std::string::npos) << part << " in:\n" << out;
  }
  EXPECT_EQ(out.rfind("; written by hand\n", 0), 0u) << out;  // comments before the header stay first
  // CRLF, UTF-8 with mark and UTF-16LE exports read alike.
  const std::string crlf = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n@=\"\xC3\xA4\"\r\n";
  for (const std::string& bytes : {crlf, std::string("\xFF\xFE") + Utf8ToUtf16(crlf, false), "\xEF\xBB\xBF" + crlf}) {
    RegistryStore s;
    ASSERT_TRUE(s.Parse(bytes, line, what)) << what;
    EXPECT_EQ(s.Serialize(), kHeader + "\n" + kKeyA + "@=\"\xC3\xA4\"\n");
  }
}

class RegistryFileTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir tmp_;
  std::string path_ = tmp_.Sub("registry.reg");
  RegistryStoreFile registry_{path_};
};

TEST_F(RegistryFileTest, MissingStoreReadsEmptyAndIsCreatedOnWrite) {
  const CRegistryKey key(registry_, RegistryRoot::kLocalMachine, "SOFTWARE\\Brantel\\X");
  EXPECT_EQ(key.GetString("dflt"), "dflt");
  EXPECT_EQ(key.GetInt(7), 7);
  EXPECT_TRUE(key.SetInt(-42));
  EXPECT_EQ(key.GetInt(7), -42);
  EXPECT_EQ(ReadFileOrDie(path_), kHeader + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\X]\n@=\"-42\"\n");
  ::chmod(path_.c_str(), 0600);
  EXPECT_TRUE(CRegistryKey(registry_, RegistryRoot::kLocalMachine, "SOFTWARE\\Y").SetString("y"));
  EXPECT_EQ(std::filesystem::status(path_).permissions(), std::filesystem::perms(0600));
  RegistryStoreFile nowhere(tmp_.Sub("nodir/r.reg"));
  EXPECT_FALSE(CRegistryKey(nowhere, RegistryRoot::kLocalMachine, "A").SetString("x"));
  // GetInt reads leading digits like atoi, of a text of at most 15 characters.
  for (const auto& [stored, expected] : std::vector<std::pair<std::string, int>>{
           {"  -7x", -7}, {"abc", 0}, {"", 0}, {"000000000000042", 42}, {"1234567890123456", 99}}) {
    ASSERT_TRUE(key.SetString(stored));
    EXPECT_EQ(key.GetInt(99), expected) << stored;
  }
}

TEST_F(RegistryFileTest, StorePathFollowsTheEnvironment) {
  using testing::ScopedEnv;
  {
    ScopedEnv reg("KESTRIN_REGISTRY", "/x/store.reg");
    EXPECT_EQ(RegistryStorePath(), "/x/store.reg");
  }
  ScopedEnv reg("KESTRIN_REGISTRY", std::nullopt);
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(RegistryStorePath(), "/cfg/Brantel/registry.reg");
  }
  ScopedEnv config("XDG_CONFIG_HOME", "");
  ScopedEnv home("HOME", "/home/ann");
  EXPECT_EQ(RegistryStorePath(), "/home/ann/.config/Brantel/registry.reg");
}

TEST_F(RegistryFileTest, ValuesOfOtherTypesReadAsTheirBytes) {
  const std::string& store = path_;
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
  const std::pair<const char*, std::string> cases[] = {
      {"Dword", "xV4\x12"}, {"Zero", ""},     {"Binary", "\x01\x02\x03"}, {"Cut", "AB"},
      {"Expand", "%Sys%\\x"}, {"Multi", "a"}, {"None", ""}, {"Number", "7"}, {"Text", "plain"}};
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    const std::string key = std::string("T\\") + name;
    EXPECT_EQ(ReadLocalMachineString(registry_, key, ""), std::optional<std::string>(text));
    EXPECT_EQ(CRegistryKey(registry_, RegistryRoot::kLocalMachine, key).GetString("default"), text);
  }
  EXPECT_EQ(CRegistryKey(registry_, RegistryRoot::kLocalMachine, "T\\Number").GetInt(-1), 7);
  EXPECT_EQ(CRegistryKey(registry_, RegistryRoot::kLocalMachine, "T\\Missing").GetString("d"), "d");
}

// `parent` followed by a key name of `length` times `c`.
std::string Key(std::string parent, size_t length, char c) { return parent.append(length, c); }

TEST_F(RegistryFileTest, SetDefaultValuesSetsEachValueAndReadsTellWhyNot) {
  const std::string& store = path_;
  WriteFileOrDie(store,
                 "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A\\Named]\n"
                 "\"x\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\A\\Dword]\n@=dword:00000001\n");
  std::vector<tRegistryWrite> writes = {{"a\\New", "one", false, {}},
                                        {Key("A\\", 256, 'k'), "long", false, {}},
                                        {Key("A\\", 255, 'k'), "fits", false, {}},
                                        {"A\\new", "two", false, {}}};
  std::string error;
  EXPECT_FALSE(registry_.SetDefaultValues(writes, &error));  // one was refused
  EXPECT_EQ(std::vector<bool>({writes[0].done, writes[1].done, writes[2].done, writes[3].done}),
            std::vector<bool>({true, false, true, true}));
  EXPECT_NE(writes[1].error.find("255"), std::string::npos) << writes[1].error;

  struct {
    std::string key;
    RegistryReadStatus status;
    std::string text;
  } reads[] = {{"A\\NEW", RegistryReadStatus::kOk, "two"},  // spelt as first stored
               {Key("A\\", 255, 'K'), RegistryReadStatus::kOk, "fits"},
               {"A", RegistryReadStatus::kNoValue, ""},  // a parent exists implicitly
               {"A\\Named", RegistryReadStatus::kNoValue, ""},
               {"A\\Dword", RegistryReadStatus::kNotString, ""},
               {"A\\Missing", RegistryReadStatus::kNoKey, ""},
               {"\\A", RegistryReadStatus::kFailed, ""}};
  for (const auto& r : reads) {
    std::string text;
    EXPECT_EQ(CRegistryKey(registry_, RegistryRoot::kLocalMachine, r.key).Read(&text), r.status)
        << r.key;
    EXPECT_EQ(text, r.text) << r.key;
  }
  EXPECT_NE(ReadFileOrDie(store).find("[HKEY_LOCAL_MACHINE\\A\\New]"), std::string::npos);

  // A store that cannot be parsed takes none of the values and stays as it
  // is; the messages name the store and the line.
  const std::string broken = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X\n";
  WriteFileOrDie(store, broken);
  EXPECT_FALSE(registry_.SetDefaultValues(writes, &error));
  EXPECT_FALSE(writes[0].done || writes[2].done || writes[3].done);
  EXPECT_NE(error.find(store + " line 2"), std::string::npos) << error;
  const CRegistryKey key(registry_, RegistryRoot::kLocalMachine, "A");
  EXPECT_EQ(key.Read(nullptr), RegistryReadStatus::kFailed);
  EXPECT_EQ(key.GetString("fallback"), "fallback");
  EXPECT_FALSE(key.SetString("new"));
  EXPECT_NE(key.LastError().find("line 2"), std::string::npos) << key.LastError();
  EXPECT_EQ(ReadFileOrDie(store), broken);
}

}  // namespace
}  // namespace kestrin
