// The INI engine and IniFile: replay of the recorded Windows profile calls
// (corpus/winapi/ini), writes that change only their lines, and what IniFile
// does with the file on disk.
#include "host/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/ini_document.h"
#include "support/temp_dir.h"
#include "winapi_table.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::Unescape;
using testing::WriteFileOrDie;

// What a whole-file rewrite by the Windows calls makes of a file (each
// non-blank line trimmed around "[]" and "="): ours keep the layout, so
// written files are compared in this form.
std::string Normalise(const std::string& text) {
  std::string out;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line(IniTrim(std::string_view(text).substr(pos, end - pos).substr(0, text.find('\0', pos) - pos)));
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (line.empty()) continue;
    const size_t close = line.rfind(']'), eq = line.find('=');
    if (line[0] == '[' && close != std::string::npos) {
      line = std::string("[").append(IniTrim(line.substr(1, close - 1))).append("]");
    } else if (line[0] != ';' && eq != std::string::npos) {
      line = std::string(IniTrim(line.substr(0, eq))) + "=" + std::string(IniTrim(line.substr(eq + 1)));
    }
    out += line + "\n";
  }
  return out;
}

std::string JoinList(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += name + '\0';
  return out;
}

// Rows left as context: what the README marks as Wine-only (empty key names,
// 070000 mod 65536 characters kept of a long value), calls without a section,
// which the Windows call rejects and no caller makes, and files with a
// byte-order mark, which the Windows calls read in another code page (the
// engine's UTF-16 and UTF-8 handling is in IniDocumentEdit).
bool IsContextRow(const std::string& kase, const std::string& op, bool has_section, bool has_key,
                  const std::string& bytes) {
  return kase.rfind("010-", 0) == 0 || kase.rfind("042-", 0) == 0 || kase.rfind("073-", 0) == 0 ||
         (op == "Write" && !has_section) || (op == "GetInt" && (!has_section || !has_key)) ||
         bytes.rfind("\xEF\xBB\xBF", 0) == 0 || bytes.rfind("\xFF\xFE", 0) == 0 ||
         bytes.rfind("\xFE\xFF", 0) == 0;
}

TEST(IniOracle, AgreesWithRecordedProfileCalls) {
  testing::ScopedTempDir tmp;
  const auto rows = testing::ReadWinapiTable("ini/EXPECTED.tsv", 15);
  ASSERT_EQ(rows.size(), 963u);
  const fs::path cases = testing::SharedDir() / "corpus/winapi/ini/cases";
  const fs::path after = testing::SharedDir() / "corpus/winapi/ini/after";
  fs::create_directories(tmp.path() / "work");
  std::set<std::string> work_made;
  int compared = 0, truncated = 0, context = 0, files_compared = 0;
  for (const auto& f : rows) {
    const std::string& kase = f[1];
    const std::string& op = f[2];
    const size_t size = f[7].empty() ? 0 : std::stoul(f[7]);
    const auto ret = static_cast<uint32_t>(std::stoul(f[8]));
    const std::string expected_out = Unescape(f[10]).value_or("");
    SCOPED_TRACE("row " + f[0] + " " + kase + " " + op);
    fs::path path = tmp.path() / "no-such-dir" / (kase + ".ini");
    if (f[3] == "case") {
      path = cases / (kase + ".ini");
    } else if (f[3] == "work") {
      path = tmp.path() / "work" / (kase + ".ini");
      if (work_made.insert(kase).second && fs::exists(cases / (kase + ".ini"))) {
        fs::copy_file(cases / (kase + ".ini"), path);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
      }
    }
    const std::string bytes = fs::exists(path) ? ReadFileOrDie(path) : "";
    if (IsContextRow(kase, op, Unescape(f[4]).has_value(), Unescape(f[5]).has_value(), bytes)) {
      ++context;
      continue;
    }
    const auto section = Unescape(f[4]), key = Unescape(f[5]), arg = Unescape(f[6]);
    const IniDocument doc = IniDocument::Parse(bytes);
    const IniFile ini(path.string());
    // A missing entry gives the caller's default, trailing blanks and quotes removed.
    std::string fallback = arg.value_or("");
    fallback.erase(fallback.find_last_not_of(' ') + 1);
    fallback = std::string(IniUnquote(fallback));

    if (op == "Write") {
      const bool ok = !key ? ini.DeleteSection(*section)
                           : !arg ? ini.DeleteKey(*section, *key) : ini.WriteString(*section, *key, *arg);
      EXPECT_EQ(ok, ret == 1) << ini.LastError();
      if (f[13] == "(absent)") {
        EXPECT_FALSE(fs::exists(path));
      } else if (!f[13].empty()) {
        EXPECT_EQ(Normalise(ReadFileOrDie(path)), Normalise(ReadFileOrDie(after / f[13])));
        ++files_compared;
      }
      ++compared;
      continue;
    }
    if (op == "GetInt") {
      const int dflt = static_cast<int>(static_cast<uint32_t>(std::stoll(*arg)));
      const auto value = doc.FindValue(*section, *key);
      const int got = value ? IniParseInt(*value).value_or(dflt) : dflt;
      EXPECT_EQ(static_cast<uint32_t>(got), ret);
      if (dflt == 0 || dflt == -1) {
        EXPECT_EQ(ini.GetInt(*section, *key, dflt == -1), got);
      }
      ++compared;
      continue;
    }
    std::string ours;
    size_t raw_size = std::string::npos;
    size_t limit = size < 2 ? 0 : size - 2;  // results this long were cut by the buffer
    if (op == "GetSectionNames" || (op == "GetString" && !section)) {
      ours = JoinList(doc.SectionNames());
      EXPECT_EQ(ini.GetSectionNames(), doc.SectionNames());
    } else if (op == "GetString" && !key) {
      ours = JoinList(doc.KeyNames(*section));
      if (ours.empty() && !doc.HasSection(*section)) ours = fallback;
      EXPECT_EQ(ini.GetKeyNames(*section), doc.KeyNames(*section));
    } else if (op == "GetString") {
      const auto value = doc.FindValue(*section, *key);
      ours = value ? std::string(IniUnquote(*value)) : fallback;
      raw_size = value ? value->size() : ours.size();  // the buffer cuts before unquoting
      if (!arg || arg->empty()) {
        EXPECT_EQ(ini.GetString(*section, *key), ours);
      }
      limit = size < 1 ? 0 : size - 1;
    } else {
      ASSERT_EQ(op, "GetSection");
      const std::vector<IniDocument::Entry> entries = doc.SectionEntries(*section);
      IniEntryList list;
      ini.ReadSectionList(*section, list);
      ASSERT_EQ(list.size(), entries.size());
      for (size_t i = 0; i < list.size(); ++i) {
        ours += entries[i].key + (entries[i].value ? "=" + *entries[i].value : "") + '\0';
        EXPECT_EQ(list[i], std::make_pair(entries[i].key, entries[i].value.value_or("")));
      }
    }
    if (raw_size == std::string::npos) raw_size = ours.size();
    if (raw_size >= limit && size != 0 && ret != ours.size()) {
      // Cut by a small buffer: ours must start with what fitted (unless quotes were taken off).
      if (expected_out.find('"') == std::string::npos && ours.find('"') == std::string::npos) {
        EXPECT_EQ(ours.substr(0, expected_out.size()), expected_out.substr(0, ours.size()));
      }
      ++truncated;
    } else if (size == 0) {
      ++context;
    } else {
      EXPECT_EQ(ours.size(), ret);
      EXPECT_EQ(ours, expected_out);
      ++compared;
    }
  }
  EXPECT_EQ(compared + truncated + context, 963);
  EXPECT_GT(compared, 760);
  EXPECT_EQ(files_compared, 75);
  std::printf("oracle: %d compared, %d cut by small buffers, %d context, %d files\n", compared,
              truncated, context, files_compared);
}

TEST(IniDocumentEdit, ChangesOnlyTheLinesItMust) {
  const struct {
    const char* name;
    std::string before;
    const char* section;
    const char* key;    // nullptr: delete the section
    const char* value;  // nullptr: delete the key
    std::string expected;
  } edits[] = {
      {"replace keeps layout", "; head\n\n[S]\n  a = 1   ; x\nb=2\n\n[T]\nc=3\n", "s", "A", "9",
       "; head\n\n[S]\n  a = 9\nb=2\n\n[T]\nc=3\n"},
      {"new key after last non-blank line", "[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n", "S", "n", "v",
       "[S]\r\na=1\r\nn=v\r\n\r\n[T]\r\nb=2\r\n"},
      {"new section with the file's line end", "[S]\na=1\n", "New", "k", "v", "[S]\na=1\n[New]\nk=v\n"},
      {"missing final newline gets one", "[S]\na=1", "S", "b", "2", "[S]\na=1\nb=2\n"},
      {"replace on last line without newline", "[S]\na=1", "S", "a", "22", "[S]\na=22"},
      {"first of duplicate sections", "[S]\na=1\n[T]\n[S]\nc=3\n", "S", "c", "x",
       "[S]\na=1\nc=x\n[T]\n[S]\nc=3\n"},
      {"first duplicate key", "[S]\na=1\na=2\n", "S", "a", "3", "[S]\na=3\na=2\n"},
      {"delete key", "[S]\n;c\na=1\nb=2\n", "S", "a", nullptr, "[S]\n;c\nb=2\n"},
      {"delete section up to next header", "; top\n[S]\n; c\na=1\n\n[T]\nb=2\n", "s", nullptr, nullptr,
       "; top\n[T]\nb=2\n"},
      {"key-less line becomes key", "[S]\n  noeq\n", "S", "noeq", "x", "[S]\n  noeq=x\n"},
      {"keys before first header", "a=1\n[S]\nb=2\n", "", "n", "y", "a=1\nn=y\n[S]\nb=2\n"},
      {"empty file", "", "S", "k", "v", "[S]\r\nk=v\r\n"},
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
  testing::ScopedTempDir tmp_;
};

// GetInt and GetString are replayed in the oracle; here what it leaves out.
TEST_F(IniFileTest, LongValuesAndAMissingFile) {
  const std::string long_value(70000, 'y');
  const IniFile ini(Make("[S]\nzero=0\nlong=" + long_value + "\n"));
  EXPECT_EQ(ini.GetString("s", "LONG"), long_value);
  EXPECT_EQ(ini.GetInt("S", "zero", true), 0);
  EXPECT_EQ(IniFile(tmp_.Sub("missing.ini")).GetInt("S", "zero", true), -1);
}

TEST_F(IniFileTest, SectionReadersSplitAsTheCallersExpect) {
  const IniFile ini(Make("[S]\na = 1 = 2\ndelete\nKey=upper\nkey=lower\ndup=first\ndup=second\n"
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
  const IniFile ini(tmp_.Sub("BUNDLE/hw.ini"));
  EXPECT_EQ(ini.GetInt("oemdriverdisk", "oemid", true), 7);
  EXPECT_TRUE(ini.WriteString("OEMDriverDisk", "VERSION", "1.0"));
  // The write went into the existing file, not a second one beside it.
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / "Bundle" / "HW.INI"), "[OEMDriverDisk]\nOEMID=7\nVERSION=1.0\n");
  EXPECT_FALSE(fs::exists(tmp_.path() / "Bundle" / "hw.ini"));
}

TEST_F(IniFileTest, FailuresAreToldApartAndLeaveTheFile) {
  const IniFile missing(tmp_.Sub("nothere.ini"));
  EXPECT_EQ(missing.GetString("S", "k"), "");
  EXPECT_EQ(missing.LastStatus(), IniStatus::kFileMissing);
  fs::create_directory(tmp_.path() / "folder.ini");
  const IniFile folder(tmp_.Sub("folder.ini"));
  EXPECT_EQ(folder.GetString("S", "k"), "");
  EXPECT_EQ(folder.LastStatus(), IniStatus::kUnreadable);
  EXPECT_NE(folder.LastError().find("folder.ini"), std::string::npos);
  EXPECT_FALSE(folder.WriteString("S", "k", "v"));
  // A write creates a missing file but never a missing folder.
  const IniFile fresh(tmp_.Sub("new.ini"));
  EXPECT_TRUE(fresh.WriteString("S", "k", "v"));
  EXPECT_EQ(fresh.LastStatus(), IniStatus::kOk);
  EXPECT_EQ(ReadFileOrDie(fresh.path()), "[S]\r\nk=v\r\n");
  const IniFile lost(tmp_.Sub("no-such-dir/x.ini"));
  EXPECT_FALSE(lost.WriteString("S", "k", "v"));
  EXPECT_EQ(lost.LastStatus(), IniStatus::kFolderMissing);
  EXPECT_NE(lost.LastError().find("no-such-dir"), std::string::npos);
  EXPECT_FALSE(fs::exists(tmp_.path() / "no-such-dir"));
  // A read-only file is not written; writing what is there already succeeds.
  const std::string path = Make("[S]\nk=v\n");
  ::chmod(path.c_str(), 0444);
  const IniFile ini(path);
  EXPECT_FALSE(ini.WriteString("S", "k", "changed"));
  EXPECT_EQ(ini.LastStatus(), IniStatus::kReadOnly);
  EXPECT_FALSE(ini.DeleteSection("S"));
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nk=v\n");
  EXPECT_TRUE(ini.WriteString("S", "k", "v"));
}

TEST_F(IniFileTest, WriteKeepsModeAndFollowsSymbolicLinks) {
  const std::string real = Make("; keep me\n[S]\nk=v\n", "real.ini");
  ::chmod(real.c_str(), 0640);
  fs::create_symlink("real.ini", tmp_.path() / "link.ini");
  EXPECT_TRUE(IniFile(tmp_.Sub("link.ini")).WriteString("S", "n", "1"));
  EXPECT_TRUE(fs::is_symlink(tmp_.path() / "link.ini"));
  EXPECT_EQ(ReadFileOrDie(real), "; keep me\n[S]\nk=v\nn=1\n");
  struct stat st;
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // The lock lies beside the real file; no temporary file is left.
  EXPECT_TRUE(fs::exists(tmp_.path() / "real.ini.lock"));
  for (const auto& entry : fs::directory_iterator(tmp_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrin
