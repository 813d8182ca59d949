// The registry store file and CRegistryKey over it, including the recorded
// results of the default-value registry calls (corpus/winapi/registry.tsv).
#include "host/registry_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/ini_document.h"
#include "host/registry_key.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::WriteFileOrDie;

const std::string kHeader = "Windows Registry Editor Version 5.00\n";

struct BadStore {
  const char* name;
  std::string text;
  size_t line;
  const char* what;  // part of the message
};

TEST(RegistryStoreParse, RejectsWhatItCannotReadWithTheLine) {
  const BadStore cases[] = {
      {"wrong header", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n", 1, "first line"},
      {"delete key", kHeader + "\n[HKEY_LOCAL_MACHINE\\A]\n@=\"x\"\n[-HKEY_LOCAL_MACHINE\\A]\n", 5,
       "[-KEY]"},
      {"delete value", kHeader + "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=-\n", 3, "deleting a value"},
      {"value before key", kHeader + "@=\"x\"\n", 2, "outside"},
      {"bad escape", kHeader + "[HKEY_LOCAL_MACHINE\\A]\n@=\"C:\\dir\"\n", 3, "backslash"},
      {"unclosed string", kHeader + "[HKEY_LOCAL_MACHINE\\A]\n@=\"open\n", 3, "closing quote"},
      {"unknown data", kHeader + "[HKEY_LOCAL_MACHINE\\A]\n@=qword:1\n", 3, "unknown value data"},
      {"short dword", kHeader + "[HKEY_LOCAL_MACHINE\\A]\n@=dword:1\n", 3, "unknown value data"},
      {"no root", kHeader + "[SOFTWARE\\A]\n", 2, "registry root"},
      {"unclosed key", kHeader + "[HKEY_LOCAL_MACHINE\\A\n", 2, "closing ]"},
      {"junk", kHeader + "[HKEY_LOCAL_MACHINE\\A]\nname=value\n", 3, "expected"},
      {"crlf counts lines", "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n",
       3, "[-KEY]"},
  };
  for (const BadStore& c : cases) {
    SCOPED_TRACE(c.name);
    RegistryStore store;
    size_t line = 0;
    std::string what;
    EXPECT_FALSE(store.Parse(c.text, line, what));
    EXPECT_EQ(line, c.line);
    EXPECT_NE(what.find(c.what), std::string::npos) << what;
    EXPECT_TRUE(store.KeyPaths().empty());
  }
}

TEST(RegistryStoreParse, ReadsKeysValuesAndKeepsUnknownTypes) {
  const std::string text = kHeader +
                           "\n"
                           "; exported by hand\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\IniPath]\n"
                           "@=\"/opt/k/Ini/\"\n"
                           "\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Empty]\n"
                           "\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Esc]\n"
                           "@=\"a \\\"q\\\" \\\\ b\"\n"
                           "\"Named\"=\"n\"\n"
                           "  ; about Count\n"
                           "\"Count\"=dword:0000002a\n"
                           "\"Path\"=hex(2):25,00,53,00,\\\n"
                           "  00,00\n"
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

  // A rewrite keeps every key, its spelling and the unknown types verbatim.
  ASSERT_TRUE(store.SetString(base + "BRANTEL\\korvane\\New", "", "v"));
  const std::string out = store.Serialize();
  EXPECT_NE(out.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\New]\n@=\"v\"\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"Count\"=dword:0000002a\n"), std::string::npos);
  EXPECT_NE(out.find("\"Path\"=hex(2):25,00,53,00,\\\n  00,00\n"), std::string::npos);
  EXPECT_NE(out.find("@=\"a \\\"q\\\" \\\\ b\"\n"), std::string::npos);
  // Comments stay where they were.
  EXPECT_EQ(out.find(kHeader + "\n; exported by hand\n"), 0u) << out;
  EXPECT_NE(out.find("\"Named\"=\"n\"\n  ; about Count\n\"Count\"="), std::string::npos) << out;
  RegistryStore again;
  ASSERT_TRUE(again.Parse(out, line, what)) << what;
  EXPECT_EQ(again.Serialize(), out);
  EXPECT_FALSE(store.SetString(base + "X", "", "two\nlines"));
}

TEST(RegistryStoreParse, ReadsUtf16AndCrlfExports) {
  const std::string crlf =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n@=\"\xC3\xA4\"\r\n";
  const std::string utf16 = std::string("\xFF\xFE", 2) + Utf8ToUtf16(crlf, false);
  for (const std::string& text : {crlf, utf16, "\xEF\xBB\xBF" + crlf}) {
    RegistryStore store;
    size_t line = 0;
    std::string what;
    ASSERT_TRUE(store.Parse(text, line, what)) << what;
    ASSERT_NE(store.FindValue("HKEY_LOCAL_MACHINE\\A", ""), nullptr);
    EXPECT_EQ(store.FindValue("HKEY_LOCAL_MACHINE\\A", "")->data, "\xC3\xA4");
    EXPECT_EQ(store.Serialize(), kHeader + "\n[HKEY_LOCAL_MACHINE\\A]\n@=\"\xC3\xA4\"\n");
  }
}

class RegistryFileTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir tmp_;
};

TEST_F(RegistryFileTest, UnparsableStoreIsReportedAndNeverOverwritten) {
  const std::string path = tmp_.Sub("registry.reg");
  const std::string broken = kHeader + "[HKEY_LOCAL_MACHINE\\A]\n@=\"x\"\n[-HKEY_LOCAL_MACHINE\\B]\n";
  WriteFileOrDie(path, broken);
  RegistryStore store;
  const RegistryResult load = LoadRegistryStore(path, store);
  EXPECT_EQ(load.status, RegistryStatus::kUnparsable);
  EXPECT_NE(load.message.find(path), std::string::npos) << load.message;
  EXPECT_NE(load.message.find("line 4"), std::string::npos) << load.message;

  const CRegistryKey key(RegistryRoot::kLocalMachine, "A", path);
  EXPECT_EQ(key.GetString("fallback"), "fallback");
  EXPECT_FALSE(key.SetString("new"));
  EXPECT_NE(key.LastError().find("line 4"), std::string::npos);
  EXPECT_EQ(ReadFileOrDie(path), broken);
}

TEST_F(RegistryFileTest, MissingStoreReadsEmptyAndIsCreatedOnWrite) {
  const std::string path = tmp_.Sub("registry.reg");
  const CRegistryKey key(RegistryRoot::kLocalMachine, "SOFTWARE\\Brantel\\Korvane\\Settings\\X", path);
  EXPECT_EQ(key.GetString("dflt"), "dflt");
  EXPECT_EQ(key.GetInt(7), 7);
  EXPECT_TRUE(key.SetInt(-42));
  EXPECT_EQ(key.GetInt(7), -42);
  EXPECT_EQ(ReadFileOrDie(path), kHeader +
                                     "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\X]\n"
                                     "@=\"-42\"\n");
  ::chmod(path.c_str(), 0600);
  EXPECT_TRUE(CRegistryKey(RegistryRoot::kLocalMachine, "SOFTWARE\\Y", path).SetString("y"));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A store in a folder that does not exist is not created.
  EXPECT_FALSE(CRegistryKey(RegistryRoot::kLocalMachine, "A", tmp_.Sub("nodir/r.reg")).SetString("x"));
}

TEST_F(RegistryFileTest, GetIntReadsLeadingDigitsOfAtMostFifteenCharacters) {
  const std::string path = tmp_.Sub("registry.reg");
  const struct {
    const char* stored;
    int expected;
  } rows[] = {{"12", 12}, {"  -7x", -7}, {"abc", 0}, {"", 0}, {"123456789012345", 2147483647},
              {"1234567890123456", 99}, {"000000000000042", 42}};
  for (const auto& row : rows) {
    const CRegistryKey key(RegistryRoot::kLocalMachine, "SOFTWARE\\N", path);
    ASSERT_TRUE(key.SetString(row.stored));
    if (row.expected == 2147483647) continue;  // atoi overflow is undefined; only the fit matters
    EXPECT_EQ(key.GetInt(99), row.expected) << row.stored;
  }
  EXPECT_EQ(CRegistryKey(RegistryRoot::kLocalMachine, "SOFTWARE\\N", path).GetString("d"),
            "000000000000042");
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

// ---------------------------------------------------------------- registry.tsv replay

std::optional<std::string> Unescape(const std::string& field) {
  if (field == "\\N") return std::nullopt;
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 1 < field.size()) {
      const char c = field[++i];
      if (c == '0') {
        out += '\0';
      } else if (c == 'x') {
        out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += c;
      }
    } else {
      out += field[i];
    }
  }
  return out;
}

// The oracle's test tree as a store: string defaults as set up, the other
// types in regedit's notation.
const char* const kOracleTree =
    "Windows Registry Editor Version 5.00\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest]\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\WithDefault]\n@=\"hello\"\n\"other\"=\"x\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\NoDefault]\n\"named\"=\"x\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\Empty]\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\Len18]\n@=\"abcdefghijklmnopqr\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\Len19]\n@=\"abcdefghijklmnopqrs\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\Len20]\n@=\"abcdefghijklmnopqrst\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\Len21]\n@=\"abcdefghijklmnopqrstu\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\DefDword]\n@=dword:12345678\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\DefExpand]\n@=hex(2):25,00,00,00\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\DefMulti]\n@=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\DefBinary]\n@=hex:01,02,03\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\DefEmpty]\n@=\"\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\DefNullName]\n@=\"viaNULL\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\Parent\\Child]\n@=\"child\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\MiXeDCase]\n@=\"mc\"\n";

TEST_F(RegistryFileTest, DefaultValueCallsAgreeWithTheRecordedResults) {
  const std::string path = tmp_.Sub("registry.reg");
  WriteFileOrDie(path, kOracleTree);
  std::ifstream in(testing::SharedDir() / "corpus/winapi/registry.tsv", std::ios::binary);
  std::string line;
  std::getline(in, line);
  int queries = 0, sets = 0, tree = 0;
  // Non-string defaults (the text store keeps them in regedit notation and
  // CRegistryKey does not read them as text) and REG_SZ data without its NUL
  // have no text form: context only.
  const std::set<std::string> binary_keys = {"DefDword", "DefExpand", "DefMulti", "DefBinary",
                                             "DefNoNul", "DefZeroLen"};
  const std::string base = "SOFTWARE\\OracleTest";
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) f.push_back(cell);
    while (f.size() < 13) f.emplace_back();
    const std::string api = f[1];
    const std::string hkey = f[2];
    const std::optional<std::string> subkey = Unescape(f[3]);
    SCOPED_TRACE("row " + f[0] + " " + api + " " + f[3]);
    std::string relative;
    if (hkey == "BASE") {
      relative = base;
    } else if (hkey.rfind("KEY:", 0) == 0) {
      relative = base + "\\" + hkey.substr(4);
    } else if (hkey != "HKLM") {
      continue;
    }
    const std::string sub = subkey.value_or("");
    if (binary_keys.count(sub) != 0 || binary_keys.count(hkey.substr(hkey.find(':') + 1)) != 0) {
      continue;
    }
    // A leading backslash is an invalid path wherever it appears.
    const bool bad_path = !sub.empty() && sub.front() == '\\';
    const std::string key_path = relative.empty() ? sub : (sub.empty() ? relative : relative + "\\" + sub);
    const CRegistryKey key(RegistryRoot::kLocalMachine, bad_path ? sub : key_path, path);
    const int ret = std::stoi(f[8]);
    if (api == "RegQueryValueA" && f[6] == "buf" && f[7] == "20" && f[12].find("after") == std::string::npos) {
      // The 20-byte read of the installed version: a text of 19 or fewer fits.
      const std::string got = key.GetString("\x01missing");
      const std::string expected_text = Unescape(f[11]).value_or("");
      if (ret == 0) {
        EXPECT_EQ(got + '\0', expected_text);
      } else if (ret == 234) {
        EXPECT_GE(got.size() + 1, 21u);  // did not fit 20 bytes
      } else {
        EXPECT_EQ(got, "\x01missing");
      }
      ++queries;
    } else if (api == "RegSetValueA" && f[5] == "REG_SZ" && Unescape(f[6])) {
      EXPECT_EQ(key.SetString(*Unescape(f[6])), ret == 0) << key.LastError();
      ++sets;
    }
  }
  // The keys and default values the sets made, with the spelling stored first.
  RegistryStore store;
  ASSERT_TRUE(LoadRegistryStore(path, store).ok());
  const struct {
    const char* key;
    const char* value;
  } expected[] = {{"", "basedefault"},        {"Deep\\L1\\L2\\L3", "deepval"}, {"Dbl\\Sub", "dbl"},
                  {"TrailSet", "trail"},      {"CbOne", "value"},              {"Overwrite", "second"},
                  {"NoDefault", "nowset"},    {"Empty", ""}};
  for (const auto& e : expected) {
    const std::string full = "HKEY_LOCAL_MACHINE\\" + base + (*e.key ? "\\" : "") + e.key;
    const RegistryValue* v = store.FindValue(full, "");
    ASSERT_NE(v, nullptr) << e.key;
    EXPECT_EQ(v->data, e.value) << e.key;
    ++tree;
  }
  EXPECT_TRUE(store.KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\Deep\\L1"));
  EXPECT_FALSE(store.KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\LeadSet"));
  EXPECT_FALSE(store.KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\OracleTest\\TypeDword"));
  for (const std::string& k : store.KeyPaths()) {
    EXPECT_EQ(k.find("OVERWRITE"), std::string::npos) << "case of an existing key changed";
    EXPECT_EQ(k.find("\\\\"), std::string::npos) << k;
  }
  EXPECT_GT(queries, 25);
  EXPECT_GT(sets, 8);
  EXPECT_EQ(tree, 8);
}

}  // namespace
}  // namespace kestrin
