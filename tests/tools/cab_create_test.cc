// kestrin-cab c: every method and window packs small payloads, alone and as
// a set, that kestrin-cab x, cabextract and 7z extract byte for byte; the
// format's limits; and the command as a user meets it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <random>

#include "bundle/bundle_test_util.h"
#include "cabinet/block_encoder.h"

namespace kestrin::testing {
namespace {

void WriteTree(const fs::path& root, const FileSet& files) {
  for (const auto& [name, content] : files) {
    fs::create_directories((root / name).parent_path());
    WriteFileOrDie(root / name, content);
  }
}

// Trees each extractor gives for the cabinet (set) `cab`, run in `dir`.
std::vector<std::pair<std::string, FileSet>> ExtractAll(const fs::path& dir, const std::string& cab,
                                                        bool with_7z) {
  std::vector<std::pair<std::string, FileSet>> trees;
  auto run = [&](const std::string& who, const RunResult& r, const std::string& out) {
    EXPECT_EQ(0, r.exit_code) << who << " " << cab << "\n" << r.err << r.out;
    trees.emplace_back(who, ReadTree(dir / out));
    fs::remove_all(dir / out);
  };
  run("kestrin-cab", Cab({"x", cab, "-d", "o-ours"}, dir.string()), "o-ours");
  if (HaveProgram("cabextract")) {
    run("cabextract", RunProgram({"cabextract", "-q", "-d", "o-cabextract", cab}, dir.string()), "o-cabextract");
  }
  if (with_7z && HaveProgram("7z")) {
    run("7z", RunProgram({"7z", "x", "-y", "-bso0", "-bsp0", "-oo-7z", cab}, dir.string()), "o-7z");
  }
  return trees;
}

std::vector<std::string> AllMethods() {
  std::vector<std::string> names = {"none", "mszip"};
  for (int w = 15; w <= 21; ++w) names.push_back("lzx:" + std::to_string(w));
  for (int level = 1; level <= 7; ++level) {
    for (int w = 10; w <= 21; ++w) names.push_back("quantum:" + std::to_string(level) + ":" + std::to_string(w));
  }
  return names;
}

class MethodMatrixTest : public ::testing::TestWithParam<std::string> {};

TEST_P(MethodMatrixTest, PacksWhatEveryExtractorGivesBack) {
  cab::EncoderSpec spec;
  ASSERT_TRUE(cab::ParseEncoderSpec(GetParam(), &spec, nullptr));
  std::string why;
  if (!cab::MakeBlockEncoder(spec, [](const uint8_t*, uint32_t, uint32_t) { return true; }, &why)) {
    if (cab::IsNotAvailableError(why)) GTEST_SKIP() << why;
    FAIL() << why;
  }
  std::string random(100000, '\0');
  std::mt19937 bits(7);
  for (char& c : random) c = static_cast<char>(bits() >> 24);
  // Sorted as packed: random bytes fill the first cabinets of a set, then a
  // text file of more than one read of the writer crosses into the next.
  const FileSet payload = {
      {"in/a/random.bin", random},
      {"in/b/text.txt", Payload(300000, 1)},
      {"in/c/empty.txt", ""},
      {"in/c/one-block.bin", Payload(32768, 2)},
      {"in/c/one-block-and-1.bin", Payload(32769, 3)},
      {"in/d/zeros.bin", std::string(200000, '\0')},
      {"in/d/\xC3\xBC" "ber.txt", "a UTF-8 name"},
  };
  const bool with_7z = spec.method != cab::EncoderSpec::kQuantum;
  for (const std::string span : {"", "64K"}) {
    SCOPED_TRACE(span.empty() ? "one cabinet" : "a set of 64 KiB cabinets");
    ScopedTempDir tmp;
    WriteTree(tmp.path(), payload);
    std::vector<std::string> args = {"c", "out/x.cab", "-m", GetParam(), "in"};
    if (!span.empty()) args.insert(args.end(), {"-d", span});
    fs::create_directories(tmp.path() / "out");
    const RunResult c = Cab(args, tmp.path().string());
    ASSERT_EQ(0, c.exit_code) << c.err;
    for (const auto& entry : fs::directory_iterator(tmp.path() / "out")) {
      EXPECT_LE(fs::file_size(entry), span.empty() ? UINT32_MAX : 65536u) << entry.path();
    }
    if (!span.empty()) { EXPECT_TRUE(fs::exists(tmp.path() / "out/x3.cab")); }
    for (const auto& [who, tree] : ExtractAll(tmp.path(), "out/x.cab", with_7z)) {
      EXPECT_TRUE(tree == payload) << who << " gave " << tree.size() << " files";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, MethodMatrixTest, ::testing::ValuesIn(AllMethods()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name) c = c == ':' ? '_' : c;
                           return name;
                         });

// 65535 files fit one cabinet; one more needs a set, which holds them all.
// Checked without writing 65535 files again: cabextract -p gives the bytes of
// every file in order, kestrin-cab t decodes them, l lists them.
TEST(CabCreateTest, AsManyFilesAsACabinetHolds) {
  ScopedTempDir tmp;
  const std::string in = tmp.Sub("in");
  fs::create_directories(in);
  for (int i = 0; i < 65536; ++i) {
    std::ofstream(tmp.path() / "in" / std::to_string(i)) << (i % 3 == 0 ? "" : std::to_string(i));
  }
  const RunResult over = Cab({"c", "../many.cab", "."}, in);
  EXPECT_EQ(1, over.exit_code);
  EXPECT_NE(std::string::npos, over.err.find("at most 65535 files")) << over.err;
  EXPECT_FALSE(fs::exists(tmp.path() / "many.cab"));
  ASSERT_EQ(0, Cab({"c", "../set.cab", "-d", "64K", ".", "-m", "none"}, in).exit_code);
  const RunResult set = Cab({"t", "set.cab"}, tmp.path().string());
  EXPECT_NE(std::string::npos, set.out.find("all 65536 files OK in")) << set.out << set.err;
  fs::remove(tmp.path() / "in/65535");
  ASSERT_EQ(0, Cab({"c", "../many.cab", "."}, in).exit_code);
  EXPECT_NE(std::string::npos, Cab({"t", "many.cab"}, tmp.path().string()).out.find("all 65535 files OK in 1"));
  const RunResult l = Cab({"l", "many.cab"}, tmp.path().string());
  EXPECT_EQ(65535 + 1, std::count(l.out.begin(), l.out.end(), '\n'));  // and "# not signed"
  EXPECT_NE(std::string::npos, l.out.find("\n# not signed\n"));
  EXPECT_NE(std::string::npos, l.out.find("\t0\tMSZIP\t9999\n")) << l.out.substr(0, 200);
  if (HaveProgram("cabextract")) {
    // Names sort as text: 0, 1, 10, 100, ... ; the bytes come in that order.
    std::vector<std::string> names;
    for (int i = 0; i < 65535; ++i) names.push_back(std::to_string(i));
    std::sort(names.begin(), names.end());
    std::string sorted;
    for (const std::string& name : names) sorted += std::stoi(name) % 3 == 0 ? "" : name;
    const RunResult p = RunProgram({"cabextract", "-q", "-p", "many.cab"}, tmp.path().string());
    EXPECT_EQ(0, p.exit_code) << p.err;
    EXPECT_TRUE(p.out == sorted) << p.out.size() << " bytes instead of " << sorted.size();
  }
}

TEST(CabCreateTest, UsageFailuresAndWhatIsKept) {
  ScopedTempDir tmp;
  const fs::path in = tmp.path() / "in";
  WriteTree(in, {{"hw.ini", "[OEMDriverDisk]\n"}, {"MODULES/A.INI", "a"}, {"MODULES/a.ini.bak", ""},
                 {"Empty/zero", ""}});
  WriteTree(tmp.path() / "dup", {{"x/y", "y"}, {"X/Y", "Y"}});
  fs::create_directories(in / "nothing");
  fs::permissions(in / "MODULES/A.INI", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  fs::permissions(in / "Empty/zero", fs::perms::owner_exec, fs::perm_options::add);
  // 2001-02-03 04:05:06 local time.
  std::tm tm{};
  tm.tm_year = 101, tm.tm_mon = 1, tm.tm_mday = 3, tm.tm_hour = 4, tm.tm_min = 5, tm.tm_sec = 6, tm.tm_isdst = -1;
  const auto stamp = std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(std::mktime(&tm)));
  fs::last_write_time(in / "hw.ini", stamp);
  ASSERT_EQ(0, mkfifo((tmp.path() / "fifo").c_str(), 0600));
  WriteFileOrDie(tmp.path() / "old.cab", "the old cabinet");
  const struct {
    std::vector<std::string> args;
    int exit_code;
    const char* err;  // in stderr ("" = stderr empty)
  } cases[] = {
      {{"c"}, 2, "no cabinet file given"},
      {{"c", "n.cab", "-m", "lzx:22", "in/hw.ini"}, 2, "unknown compression method \"lzx:22\""},
      {{"c", "n.cab", "-d", "1000", "in/hw.ini"}, 2, "-d: a cabinet of a set must have room for 65536"},
      {{"c", "n.cab", "-r", "60001", "in/hw.ini"}, 2, "-r needs a header reserve of 0 to 60000 bytes"},
      {{"c", "n.cab", "-d", "70K", "-r", "10K", "in/hw.ini"}, 2, "larger than the header reserve"},
      {{"c", "n.cab", "in/nothing"}, 1, "no files to pack"},
      {{"c", "n.cab", "in/missing"}, 1, "in/missing: No such file or directory"},
      {{"c", "n.cab", "in/../in/hw.ini"}, 1, "climbs out of its folder"},
      {{"c", "n.cab", "dup"}, 1, "would be stored twice (from dup/X/Y and dup/x/y)"},
      {{"c", "old.cab", "in/hw.ini", "fifo"}, 1, "fifo: not a regular file"},
      {{"c", "old.cab", "in/hw.ini", "in/missing"}, 1, "in/missing"},
      {{"c", "ok.cab", "-r", "6144", "in/hw.ini", "in/MODULES", "in/Empty"}, 0, ""},
      {{"c", "in/self.cab", "in"}, 0, ""},
      {{"c", "in/self.cab", "in"}, 0, "in/self.cab: left out (it is the cabinet being written)"},
  };
  for (const auto& c : cases) {
    const std::string shown = ::testing::PrintToString(c.args);
    const RunResult r = Cab(c.args, tmp.path().string());
    EXPECT_EQ(c.exit_code, r.exit_code) << shown << "\n" << r.err;
    EXPECT_TRUE(*c.err ? r.err.find(c.err) != std::string::npos : r.err.empty()) << shown << "\n" << r.err;
    if (c.exit_code == 2) { EXPECT_NE(std::string::npos, r.err.find("Usage:")) << shown; }
  }
  // Nothing written by a failure, no temporary file left.
  EXPECT_EQ("the old cabinet", ReadFileOrDie(tmp.path() / "old.cab"));
  for (const auto& entry : fs::directory_iterator(tmp.path())) {
    EXPECT_EQ(std::string::npos, entry.path().string().find(".kestrin-")) << entry.path();
  }
  EXPECT_FALSE(fs::exists(tmp.path() / "n.cab"));
  // The header reserve, the names, times and attributes as stored.
  const std::string cab = ReadFileOrDie(tmp.path() / "ok.cab");
  ASSERT_GT(cab.size(), 40u);
  EXPECT_EQ(4, cab[30] & 4);
  EXPECT_EQ(6144, static_cast<uint8_t>(cab[36]) | static_cast<uint8_t>(cab[37]) << 8);
  const RunResult l = Cab({"l", "ok.cab"}, tmp.path().string());
  EXPECT_EQ(0u, l.out.find("16\t2001-02-03 04:05:06\t---a-\t0\tMSZIP\tin\\hw.ini\n")) << l.out;
  EXPECT_NE(std::string::npos, l.out.find("\tr--a-\t0\tMSZIP\tin\\MODULES\\A.INI\n")) << l.out;
  EXPECT_NE(std::string::npos, l.out.find("\t---ax\t0\tMSZIP\tin\\Empty\\zero\n")) << l.out;
  const RunResult x = Cab({"x", "ok.cab", "-d", "o"}, tmp.path().string());
  EXPECT_EQ(0, x.exit_code) << x.err;
  struct stat st {};
  ASSERT_EQ(0, stat((tmp.path() / "o/in/MODULES/A.INI").c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 0222);
  EXPECT_EQ(stamp, fs::last_write_time(tmp.path() / "o/in/hw.ini"));
  EXPECT_EQ("", ReadFileOrDie(tmp.path() / "o/in/Empty/zero"));
  // A cabinet of empty files only: a folder without data blocks.
  ASSERT_EQ(0, Cab({"c", "zero.cab", "in/Empty", "in/MODULES/a.ini.bak"}, tmp.path().string()).exit_code);
  for (const auto& [who, tree] : ExtractAll(tmp.path(), "zero.cab", true)) {
    EXPECT_EQ((FileSet{{"in/Empty/zero", ""}, {"in/MODULES/a.ini.bak", ""}}), tree) << who;
  }
}

}  // namespace
}  // namespace kestrin::testing
