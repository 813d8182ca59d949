// CRegistryKey against the recorded results of the default-value registry
// calls (corpus/winapi/registry.tsv), on both platforms: the recorded tree is
// set up first (on Windows with the recording's own calls, elsewhere as a
// store file), then every default-value read and write the key offers must
// give what the table says.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/registry_key.h"
#include "host/registry_store.h"
#include "support/temp_dir.h"
#include "winapi_table.h"

namespace kestrin {
namespace {

using testing::Unescape;
using Row = std::vector<std::string>;
const std::string kBase = "SOFTWARE\\OracleTest";

// The key a row names below HKEY_LOCAL_MACHINE; none for other roots.
std::optional<std::string> KeyPath(const Row& f) {
  const std::string sub = Unescape(f[3]).value_or("");
  std::string relative;
  if (f[2] == "BASE") {
    relative = kBase;
  } else if (f[2].rfind("KEY:", 0) == 0) {
    relative = kBase + "\\" + f[2].substr(4);
  } else if (f[2] != "HKLM") {
    return std::nullopt;
  }
  return relative.empty() ? sub : sub.empty() ? relative : relative + "\\" + sub;
}

#ifdef _WIN32
void MakeKey(const std::string& path, const Row& f, std::string&) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  if (!f[5].empty()) {
    const DWORD type = f[5] == "REG_DWORD" ? REG_DWORD : f[5] == "REG_EXPAND_SZ" ? REG_EXPAND_SZ
                       : f[5] == "REG_MULTI_SZ" ? REG_MULTI_SZ : f[5] == "REG_BINARY" ? REG_BINARY : REG_SZ;
    const auto name = Unescape(f[4]);
    const std::string data = Unescape(f[6]).value_or("");
    EXPECT_EQ(RegSetValueExA(key, name ? name->c_str() : nullptr, 0, type,
                             reinterpret_cast<const BYTE*>(data.data()), std::stoul(f[7])),
              std::stoi(f[8]));
  }
  RegCloseKey(key);
}
#else
// As store lines: the key, and a REG_SZ value with its NUL (other data has
// no text form and its keys are not replayed).
void MakeKey(const std::string& path, const Row& f, std::string& store) {
  store += "[HKEY_LOCAL_MACHINE\\" + path + "]\n";
  const std::string data = Unescape(f[6]).value_or("");
  const std::string name = Unescape(f[4]).value_or("");
  if (f[5] == "REG_SZ" && !data.empty() && data.back() == '\0') {
    store += (name.empty() ? "@" : "\"" + name + "\"") + "=\"" + data.substr(0, data.size() - 1) + "\"\n";
  }
}
#endif

TEST(RegistryOracle, DefaultValueCallsGiveTheRecordedResults) {
  testing::ScopedTempDir tmp;
  std::string store_path, store = "Windows Registry Editor Version 5.00\n";
#ifdef _WIN32
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase.c_str());
#else
  store_path = tmp.Sub("registry.reg");
#endif
  const auto rows = testing::ReadWinapiTable("registry.tsv", 13);
  RegistryStoreFile store_file(store_path);
  Registry& registry = store_path.empty() ? SystemRegistry() : store_file;
  int setups = 0, queries = 0, sets = 0;
  for (const Row& f : rows) {
    if ((f[1] == "setup" || f[1] == "RegSetValueExA") && KeyPath(f)) {
      MakeKey(*KeyPath(f), f, store);
      ++setups;
    }
  }
  if (!store_path.empty()) testing::WriteFileOrDie(store_path, store);
  // Non-string defaults and REG_SZ data without its NUL read as the caller's default.
  const std::set<std::string> binary = {"DefDword", "DefExpand", "DefMulti", "DefBinary", "DefNoNul", "DefZeroLen"};
  for (const Row& f : rows) {
    const std::string sub = Unescape(f[3]).value_or("");
    SCOPED_TRACE("row " + f[0] + " " + f[1] + " " + f[3]);
    if (!KeyPath(f) || binary.count(sub) != 0 || binary.count(f[2].substr(f[2].find(':') + 1)) != 0) continue;
    // A leading backslash is an invalid path wherever it appears.
    const CRegistryKey key(registry, RegistryRoot::kLocalMachine, sub.rfind('\\', 0) == 0 ? sub : *KeyPath(f));
    const int ret = std::stoi(f[8]);
    if (f[1] == "RegQueryValueA" && f[6] == "buf" && f[7] == "20" && f[12].find("after") == std::string::npos) {
      // The 20-byte read of the installed version: a text of 19 or fewer fits.
      const std::string got = key.GetString("\x01missing");
      if (ret == 0) {
        EXPECT_EQ(got + '\0', Unescape(f[11]).value_or(""));
      } else if (ret == 234) {  // more data
        EXPECT_GE(got.size() + 1, 21u);
      } else {
        EXPECT_EQ(got, "\x01missing");
      }
      ++queries;
    } else if (f[1] == "RegSetValueA" && f[5] == "REG_SZ" && Unescape(f[6])) {
      EXPECT_EQ(key.SetString(*Unescape(f[6])), ret == 0) << key.LastError();
      ++sets;
    }
  }
  EXPECT_GT(setups, 10);
  EXPECT_GT(queries, 25);
  EXPECT_GT(sets, 8);
  // The default values the sets left, and the keys they refused to make.
  const std::pair<const char*, const char*> expected[] = {
      {"", "basedefault"}, {"\\Deep\\L1\\L2\\L3", "deepval"}, {"\\Dbl\\Sub", "dbl"}, {"\\TrailSet", "trail"},
      {"\\CbOne", "value"}, {"\\Overwrite", "second"}, {"\\NoDefault", "nowset"}, {"\\Empty", ""}};
  for (const auto& [sub, value] : expected) {
    EXPECT_EQ(CRegistryKey(registry, RegistryRoot::kLocalMachine, kBase + sub).GetString("\x01missing"), value)
        << sub;
  }
  for (const char* absent : {"\\LeadSet", "\\TypeDword"}) {
    EXPECT_EQ(CRegistryKey(registry, RegistryRoot::kLocalMachine, kBase + absent).Read(nullptr),
              RegistryReadStatus::kNoKey)
        << absent;
  }
#ifdef _WIN32
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase.c_str());
#endif
}

}  // namespace
}  // namespace kestrin
