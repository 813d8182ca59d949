// kestrin-cab over the shared cabinet corpus, over gcab round trips (checked
// against cabextract) and as a user meets it on the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "bundle/bundle_test_util.h"
#include "support/sha256.h"

namespace kestrin::testing {
namespace {

fs::path CorpusDir() { return SharedDir() / "corpus" / "cab"; }

std::vector<std::string> Columns(const std::string& line) {
  std::vector<std::string> cols;
  std::stringstream s(line);
  for (std::string col; std::getline(s, col, '\t');) cols.push_back(col);
  return cols;
}

// The tree below `out` against the recorded output (rows "sha256 size name-in-hex",
// FAILED rows left out; "\" and "/" separate, "." parts dropped, a later entry of a
// name replaces it as on disk): every recorded file (`all`) or those written, and
// with `exact` nothing else.
void CompareTree(const fs::path& out, const std::string& record, bool all, bool exact) {
  SCOPED_TRACE(record);
  std::map<std::string, std::string> expected;  // path -> "size:sha256"
  std::ifstream in(CorpusDir() / "EXPECTED" / record);
  for (std::string line; std::getline(in, line);) {
    const auto cols = Columns(line);
    if (line[0] == '#' || line.rfind("FAILED", 0) == 0 || cols.size() < 3) continue;
    std::string raw, name;
    for (size_t i = 0; i + 1 < cols[2].size(); i += 2)
      raw += static_cast<char>(std::stoi(cols[2].substr(i, 2), nullptr, 16));
    std::replace(raw.begin(), raw.end(), '\\', '/');
    std::istringstream parts(raw);
    for (std::string part; std::getline(parts, part, '/');)
      if (!part.empty() && part != ".") name += (name.empty() ? "" : "/") + part;
    expected[name] = cols[1] + ":" + cols[0];
  }
  const FileSet tree = ReadTree(out);
  for (const auto& [name, digest] : expected) {
    auto it = tree.find(name);
    EXPECT_TRUE(it != tree.end() || !all) << "missing " << name;
    if (it != tree.end()) {
      EXPECT_EQ(digest, std::to_string(it->second.size()) + ":" + Sha256Hex(it->second)) << name;
    }
  }
  for (const auto& entry : tree) EXPECT_TRUE(!exact || expected.count(entry.first)) << entry.first;
}

// Where kestrin-cab deliberately reads a cabinet otherwise than cabextract.
struct Deviation {
  const char* path;
  std::vector<std::string> files;  // what we extract instead (whole or in part)
  int exit_code;
};
const Deviation kDeviations[] = {
    // cabextract also finds cabinets embedded at any offset of a file.
    {"cabextract-cabs/search.cab", {}, 1},
    {"libmspack/search_basic.cab", {}, 1},
    {"libmspack/search_tricky1.cab", {}, 1},
    // The header's offset of the first file entry points past two entries;
    // the decoder honours it (cabextract reads the entries after the folders).
    {"libmspack/hidden-files.cab", {"hidden1.txt", "hidden2.txt"}, 0},
    // The last Quantum block ends inside a match longer than the bytes it still
    // owes: the decoder fails the block (cabextract cuts the match).
    {"cabextract-bugs/cve-2010-2801-qtm-flush.cab", {"zeroes"}, 1},
};

TEST(CorpusTest, EveryCabinetExtractsAsRecordedOrFailsCleanly) {
  KESTRIN_NEED_CORPUS(CorpusDir() / "MANIFEST.tsv");
  std::ifstream manifest(CorpusDir() / "MANIFEST.tsv");
  int extracted = 0, damaged = 0, traversal = 0;
  std::string line;
  std::getline(manifest, line);
  while (std::getline(manifest, line)) {
    const auto cols = Columns(line);
    if (cols.size() < 9 || cols[0].find("huge-lzx") != std::string::npos) continue;
    const std::string& path = cols[0];
    const std::string cab = (CorpusDir() / path).string();
    if (cols[8] == "yes(set-renamed)") continue;  // MultiBasicSetFromAnyPart
    ScopedTempDir tmp;
    const fs::path out = tmp.path() / "a" / "b" / "out";
    fs::create_directories(out);
    const RunResult x = Cab({"x", cab, "-d", out.string()}, out.string());
    const RunResult t = Cab({"t", cab});
    const Deviation* dev = nullptr;
    for (const Deviation& d : kDeviations) dev = path == d.path ? &d : dev;
    if (path.find("dirwalk") != std::string::npos ||
        path.find("traversal.cab") != std::string::npos) {
      ++traversal;  // refused; nothing outside the target; what was written is right
      EXPECT_EQ(1, x.exit_code) << path;
      EXPECT_NE(std::string::npos, x.err.find("(code 100)")) << path << "\n" << x.err;
      for (const auto& entry : ReadTree(tmp.path())) {
        EXPECT_EQ(0u, entry.first.rfind("a/b/out/", 0)) << entry.first;
      }
      CompareTree(out, path + ".sha256", false, false);
    } else if (dev != nullptr) {
      std::vector<std::string> names;
      for (const auto& entry : ReadTree(out)) names.push_back(entry.first);
      EXPECT_EQ(dev->files, names) << path;
      EXPECT_EQ(dev->exit_code, x.exit_code) << path << "\n" << x.err;
    } else if (cols[8].rfind("yes", 0) == 0) {
      ++extracted;
      EXPECT_TRUE(x.exit_code == 0 && t.exit_code == 0) << path << "\n" << x.err << t.err;
      CompareTree(out, path + ".sha256", true, true);
    } else {
      ++damaged;
      EXPECT_TRUE(x.exit_code == 1 && t.exit_code == 1) << path << " (" << cols[7] << ")\n"
                                                        << x.err;
      EXPECT_LT(Cab({"l", cab}).exit_code, 2) << path;
      if (cols[8].rfind("partial", 0) == 0) CompareTree(out, path + ".partial.sha256", true, false);
    }
    if (x.exit_code != 0) { EXPECT_TRUE(CleanErrors(x.err)) << path << "\n" << x.err; }
  }
  EXPECT_GT(extracted, 50);
  EXPECT_GT(damaged, 30);
  EXPECT_EQ(3, traversal);
}

// A set is joined through the "cabd_" names its headers give.
TEST(CorpusTest, MultiBasicSetFromAnyPart) {
  KESTRIN_NEED_CORPUS(CorpusDir());
  ScopedTempDir tmp;
  std::vector<std::string> names;
  for (int i = 1; i <= 5; ++i) names.push_back("multi_basic_pt" + std::to_string(i) + ".cab");
  for (const std::string& name : names)
    fs::create_symlink(CorpusDir() / "libmspack" / name, tmp.path() / ("cabd_" + name));
  for (const std::string& name : names) {
    const RunResult r = Cab({"x", tmp.Sub("cabd_" + name), "-d", tmp.Sub("out" + name)});
    EXPECT_EQ(0, r.exit_code) << name << "\n" << r.err;
    CompareTree(tmp.path() / ("out" + name), "libmspack/" + name + ".sha256", true, true);
    EXPECT_EQ(0, Cab({"t", tmp.Sub("cabd_" + name)}).exit_code) << name;
  }
  const RunResult alone =
      Cab({"x", (CorpusDir() / "libmspack/multi_basic_pt2.cab").string(), "-d", tmp.Sub("o")});
  EXPECT_EQ(1, alone.exit_code);
  EXPECT_TRUE(CleanErrors(alone.err)) << alone.err;
}

// gcab packs with MSZIP; kestrin-cab and cabextract both give the files.
TEST(GcabRoundTripTest, ExtractsWhatGcabPacked) {
  if (!HaveProgram("gcab") || !HaveProgram("cabextract"))
    GTEST_SKIP() << "gcab or cabextract missing";
  FileSet many;
  for (int i = 0; i < 600; ++i)
    many[std::string(1, static_cast<char>('0' + i % 7)) + "/f" + std::to_string(i) + ".txt"] =
        Payload(i % 300, i);
  const std::vector<std::pair<const char*, FileSet>> cases = {
      {"mixed",
       {{"readme.txt", Payload(5000, 1)}, {"bin/tool.exe", Payload(70000, 2)},
        {"exact.blk", Payload(32768, 4)}, {"zeros.bin", std::string(300000, '\0')},
        {"empty.txt", ""}, {"deep/er/still/empty", ""}}},
      {"many_small", many},
      {"long_names",
       {{std::string(255, 'n'), "255"}, {"dir/" + std::string(247, 'm') + ".txt", "255, a folder"}}},
      {"large", {{"large.bin", Payload(4 << 20, 9)}}},
  };
  for (const auto& [name, files] : cases) {
    SCOPED_TRACE(name);
    ScopedTempDir work;
    const std::string cab = work.Sub("a.cab");
    kestrin::cab::testing::PackWithGcab(cab, {files.begin(), files.end()});
    const RunResult x = Cab({"x", cab, "-d", work.Sub("ours")});
    EXPECT_EQ(0, x.exit_code) << x.err;
    EXPECT_EQ(0, Cab({"t", cab}).exit_code);
    const FileSet ours = ReadTree(work.path() / "ours");
    EXPECT_TRUE(ours == files);  // no megabytes printed on a mismatch
    const RunResult c = RunProgram({"cabextract", "-q", "-d", work.Sub("theirs"), cab});
    EXPECT_EQ(0, c.exit_code) << c.err;
    EXPECT_TRUE(ReadTree(work.path() / "theirs") == ours) << "differs from cabextract";
  }
}

TEST(KestrinCabTest, UsageListingFailuresAndExitCodes) {
  ScopedTempDir tmp;
  fs::create_directories(tmp.path() / "in");
  WriteFileOrDie(tmp.path() / "in/a.cab", StoredCabinet({{"a.txt", "a"}}));
  CabBuilder listed;  // a stored, an LZX:21 and a QTM:7/21 folder (the last two empty)
  listed.AddFiles(listed.AddStoredFolder("hello"), {{"plain.txt", "hello"}});
  for (const uint16_t type : {0x1503, 0x1572}) {
    listed.folders.push_back(kestrin::cab::testing::Folder{type, {}, {}});
    listed.files.push_back({"e", 0, 0, static_cast<uint16_t>(listed.folders.size() - 1)});
  }
  WriteFileOrDie(tmp.path() / "in/l.cab", listed.Build());
  WriteFileOrDie(tmp.path() / "in/junk.cab", std::string(300, 'j'));
  WriteFileOrDie(tmp.path() / "in/evil.cab",
                 StoredCabinet({{"..\\..\\escape.txt", "x"}, {"ok.txt", "ok"}}));
  const FileSet inputs = ReadTree(tmp.path());
  const std::string cab = "in/a.cab";
  const struct {
    std::vector<std::string> args;
    int exit_code;
    const char* err;  // "" = stderr empty; exit 2 also shows the usage, exit 1 is one line
    const char* out;  // found in stdout
  } cases[] = {
      {{}, 2, "no command given", ""},
      {{"-h"}, 0, "", "Usage: kestrin-cab l FILE"},
      {{"t", "--version"}, 2, "unknown option \"--version\"", ""},
      {{"x", cab, "-d"}, 2, "-d needs a folder", ""},
      {{"l", "in/missing.cab"}, 1, "missing.cab: cannot open the file: No such file or directory (code 1)", ""},
      {{"t", cab}, 0, "", "all 1 files OK in 1 cabinet"},
      {{"l", "in/l.cab"}, 0, "",  // one tab-separated line a file
       "5\t2025-01-01 12:00:00\t---a-\t0\tNONE\tplain.txt\n"
       "0\t2025-01-01 12:00:00\t---a-\t1\tLZX:21\te\n0\t2025-01-01 12:00:00\t---a-\t2\tQTM:7/21\te\n"},
      {{"x", "in/junk.cab", "-d", "o2"}, 1, "junk.cab: file is not a cabinet (code 2)", ""},
      {{"x", "in/evil.cab", "-d", "o3/in"}, 1,
       "the name climbs out of its folder with \"..\"; nothing was written for it (code 100)", ""},
      {{"x", cab, "-d", "in/a.cab"}, 1, "a.cab: cannot create folder", ""},
      {{"x", cab}, 0, "", ""},                      // into the current folder
      {{"x", "-d", "new/deeper", cab}, 0, "", ""},  // -d folders are created
  };
  for (const auto& c : cases) {
    const RunResult r = Cab(c.args, tmp.path().string());
    const std::string shown = ::testing::PrintToString(c.args);
    EXPECT_EQ(c.exit_code, r.exit_code) << shown << "\n" << r.err;
    EXPECT_TRUE(*c.err ? r.err.find(c.err) != std::string::npos : r.err.empty()) << shown << r.err;
    EXPECT_NE(std::string::npos, r.out.find(c.out)) << shown << "\n" << r.out;
    if (c.exit_code == 2) { EXPECT_NE(std::string::npos, r.err.find("Usage:")) << shown; }
    if (c.exit_code == 1) {
      EXPECT_TRUE(CleanErrors(r.err) && r.err.find('\n') + 1 == r.err.size()) << r.err;
    }
  }
  // The refused name wrote nothing.
  FileSet expected = inputs;
  expected.insert({{"o3/in/ok.txt", "ok"}, {"a.txt", "a"}, {"new/deeper/a.txt", "a"}});
  EXPECT_EQ(expected, ReadTree(tmp.path()));
}

}  // namespace
}  // namespace kestrin::testing
