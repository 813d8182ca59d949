// CRegistryKey on the real registry calls against the recorded results of
// those calls (corpus/winapi/registry.tsv): the recorded tree is set up with
// RegSetValueExA as the recording did, then every default-value read and
// write the key offers must give what the table says.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "host/registry_key.h"
#include "winapi_table.h"

namespace kestrin {
namespace {

using testing::Unescape;

DWORD TypeOf(const std::string& name) {
  if (name == "REG_DWORD") return REG_DWORD;
  if (name == "REG_EXPAND_SZ") return REG_EXPAND_SZ;
  if (name == "REG_MULTI_SZ") return REG_MULTI_SZ;
  if (name == "REG_BINARY") return REG_BINARY;
  return REG_SZ;
}

TEST(Win32RegistryOracle, DefaultValueCallsGiveTheRecordedResults) {
  // The recording's own key: some rows name it from HKEY_LOCAL_MACHINE.
  const std::string base = "SOFTWARE\\OracleTest";
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, base.c_str());
  const auto rows = testing::ReadWinapiTable("registry.tsv", 13);
  ASSERT_GT(rows.size(), 100u);
  // Types other than REG_SZ (and REG_SZ data without its NUL) read as the
  // caller's default, as the Linux store gives them: not compared here.
  const std::set<std::string> binary = {"DefDword", "DefExpand", "DefMulti", "DefBinary", "DefNoNul", "DefZeroLen"};
  int setups = 0, queries = 0, sets = 0;
  for (const auto& f : rows) {
    const std::string& api = f[1];
    const std::string& hkey = f[2];
    const std::string sub = Unescape(f[3]).value_or("");
    SCOPED_TRACE("row " + f[0] + " " + api + " " + f[3]);
    std::string relative;
    if (hkey == "BASE") {
      relative = base;
    } else if (hkey.rfind("KEY:", 0) == 0) {
      relative = base + "\\" + hkey.substr(4);
    } else if (hkey != "HKLM") {
      continue;
    }
    const int ret = std::stoi(f[8]);
    const std::string key_path = relative.empty() ? sub : sub.empty() ? relative : relative + "\\" + sub;
    if (api == "setup" || api == "RegSetValueExA") {
      // The tree as the recording made it, with the same calls.
      HKEY key = nullptr;
      ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr),
                ERROR_SUCCESS);
      if (!f[5].empty()) {
        const auto name = Unescape(f[4]);
        const std::string data = Unescape(f[6]).value_or("");
        EXPECT_EQ(RegSetValueExA(key, name ? name->c_str() : nullptr, 0, TypeOf(f[5]),
                                 reinterpret_cast<const BYTE*>(data.data()), std::stoul(f[7])),
                  ret);
      }
      RegCloseKey(key);
      ++setups;
      continue;
    }
    if (binary.count(sub) != 0 || binary.count(hkey.substr(hkey.find(':') + 1)) != 0) continue;
    const bool bad_path = !sub.empty() && sub.front() == '\\';
    const CRegistryKey key(RegistryRoot::kLocalMachine, bad_path ? sub : key_path);
    if (api == "RegQueryValueA" && f[6] == "buf" && f[7] == "20" && f[12].find("after") == std::string::npos) {
      // The 20-byte read of the installed version: a text of 19 or fewer fits.
      const std::string got = key.GetString("\x01missing");
      if (ret == 0) {
        EXPECT_EQ(got + '\0', Unescape(f[11]).value_or(""));
      } else if (ret == ERROR_MORE_DATA) {
        EXPECT_GE(got.size() + 1, 21u);
      } else {
        EXPECT_EQ(got, "\x01missing");
      }
      ++queries;
    } else if (api == "RegSetValueA" && f[5] == "REG_SZ" && Unescape(f[6])) {
      EXPECT_EQ(key.SetString(*Unescape(f[6])), ret == 0) << key.LastError();
      ++sets;
    }
  }
  EXPECT_GT(setups, 10);
  EXPECT_GT(queries, 25);
  EXPECT_GT(sets, 8);
  // The default values the sets left, read back through the key.
  const std::pair<const char*, const char*> expected[] = {
      {"", "basedefault"}, {"\\Deep\\L1\\L2\\L3", "deepval"}, {"\\Dbl\\Sub", "dbl"}, {"\\TrailSet", "trail"},
      {"\\CbOne", "value"}, {"\\Overwrite", "second"}, {"\\NoDefault", "nowset"}, {"\\Empty", ""}};
  for (const auto& [sub, value] : expected) {
    EXPECT_EQ(CRegistryKey(RegistryRoot::kLocalMachine, base + sub).GetString("\x01missing"), value) << sub;
  }
  for (const char* absent : {"\\LeadSet", "\\TypeDword"}) {
    std::string text;
    EXPECT_EQ(CRegistryKey(RegistryRoot::kLocalMachine, base + absent).Read(&text), RegistryReadStatus::kNoKey)
        << absent;
  }
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, base.c_str());
}

}  // namespace
}  // namespace kestrin
