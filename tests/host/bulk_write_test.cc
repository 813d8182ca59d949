// Writes of values into an INI text, one key at a time (SetValue) and many at
// once (SetValues), and SetDefaultValues and CRegistryKey::Read on the store.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "host/ini_document.h"
#include "host/registry_key.h"
#include "support/temp_dir.h"

namespace kestrin::testing {
namespace {

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

void PrintTo(const tBulkCase& c, std::ostream* os) { *os << c.name; }

// SetValue one key at a time gives the expected file; SetValues all at once agrees.
class SetValuesTest : public ::testing::TestWithParam<tBulkCase> {};

TEST_P(SetValuesTest, AgreesWithOneKeyAtATime) {
  const tBulkCase& c = GetParam();
  IniDocument one_by_one = IniDocument::Parse(c.file);
  bool changed = false;
  for (const auto& [key, value] : c.entries) changed |= one_by_one.SetValue(c.section, key, value);
  EXPECT_EQ(one_by_one.Serialize(), c.expected);
  IniDocument bulk = IniDocument::Parse(c.file);
  EXPECT_EQ(bulk.SetValues(c.section, c.entries), changed);
  EXPECT_EQ(bulk.Serialize(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetValuesTest, ::testing::ValuesIn(kBulkCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SetValuesTest, ManyKeysStayLinear) {
  IniDocument doc;
  Entries entries;
  for (int i = 0; i < 200000; ++i) entries.emplace_back(std::to_string(i).insert(0, 1, 'K'), "v");
  EXPECT_TRUE(doc.SetValues("S", entries));
  EXPECT_EQ(doc.KeyNames("S").size(), entries.size());
}

// `parent` followed by a key name of `length` times `c`.
std::string Key(std::string parent, size_t length, char c) { return parent.append(length, c); }

TEST(RegistryBulkTest, SetsEachValueAndReadsTellWhyNot) {
  ScopedTempDir dir;
  const std::string store = dir.Sub("registry.reg");
  WriteFileOrDie(store,
                 "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A\\Named]\n"
                 "\"x\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\A\\Dword]\n@=dword:00000001\n");
  std::vector<tRegistryWrite> writes = {{"a\\New", "one", false, {}},
                                        {Key("A\\", 256, 'k'), "long", false, {}},
                                        {Key("A\\", 255, 'k'), "fits", false, {}},
                                        {"A\\new", "two", false, {}}};
  std::string error;
  EXPECT_TRUE(SetDefaultValues(writes, &error, store));
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
    EXPECT_EQ(CRegistryKey(RegistryRoot::kLocalMachine, r.key, store).Read(&text), r.status)
        << r.key;
    EXPECT_EQ(text, r.text) << r.key;
  }
  EXPECT_NE(ReadFileOrDie(store).find("[HKEY_LOCAL_MACHINE\\A\\New]"), std::string::npos);

  // A store that cannot be parsed takes none of the values and stays as it
  // is; the messages name the store and the line.
  const std::string broken = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X\n";
  WriteFileOrDie(store, broken);
  EXPECT_FALSE(SetDefaultValues(writes, &error, store));
  EXPECT_FALSE(writes[0].done || writes[2].done || writes[3].done);
  EXPECT_NE(error.find(store + " line 2"), std::string::npos) << error;
  const CRegistryKey key(RegistryRoot::kLocalMachine, "A", store);
  EXPECT_EQ(key.Read(nullptr), RegistryReadStatus::kFailed);
  EXPECT_EQ(key.GetString("fallback"), "fallback");
  EXPECT_FALSE(key.SetString("new"));
  EXPECT_NE(key.LastError().find("line 2"), std::string::npos) << key.LastError();
  EXPECT_EQ(ReadFileOrDie(store), broken);
}

}  // namespace
}  // namespace kestrin::testing
