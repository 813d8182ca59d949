// Round trips through gcab: what gcab packs, kestrin-cab extracts byte for
// byte, and agrees with cabextract on the same cabinet.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "bundle/cab_builder.h"
#include "bundle/test_util.h"
#include "support/temp_dir.h"

namespace kestrin::testing {
namespace {

namespace fs = std::filesystem;

using FileSet = std::map<std::string, std::string>;

void WriteTree(const fs::path& root, const FileSet& files) {
  for (const auto& [name, data] : files) {
    fs::create_directories((root / name).parent_path());
    WriteFileOrDie(root / name, data);
  }
}

// Packs `files` with gcab (cwd = their folder, so names stay relative).
std::string Gcab(const fs::path& src, const FileSet& files, bool mszip, const fs::path& cab) {
  std::vector<std::string> argv{"gcab", "-c"};
  if (mszip) argv.push_back("-z");
  argv.push_back(cab.string());
  for (const auto& [name, data] : files) argv.push_back(name);
  const RunResult r = RunProgram(argv, src.string());
  EXPECT_EQ(0, r.exit_code) << r.err;
  return SlurpFile(cab);
}

// Same tree, compared without printing megabytes on a mismatch.
void ExpectSameTree(const FileSet& expected, const FileSet& actual, const std::string& what) {
  EXPECT_EQ(expected.size(), actual.size()) << what;
  for (const auto& [name, data] : expected) {
    auto it = actual.find(name);
    if (it == actual.end()) {
      ADD_FAILURE() << what << ": missing " << name;
    } else if (it->second != data) {
      ADD_FAILURE() << what << ": " << name << " differs (" << it->second.size() << " bytes, expected "
                    << data.size() << ")";
    }
  }
}

void CheckExtraction(const fs::path& cab, const FileSet& files, const fs::path& work, const std::string& what) {
  const RunResult x = RunProgram({KestrinCab(), "x", cab.string(), "-d", (work / "ours").string()});
  EXPECT_EQ(0, x.exit_code) << what << "\n" << x.err;
  ExpectSameTree(files, ReadTree(work / "ours"), what + " (kestrin-cab)");
  const RunResult t = RunProgram({KestrinCab(), "t", cab.string()});
  EXPECT_EQ(0, t.exit_code) << what << "\n" << t.err;
  const RunResult l = RunProgram({KestrinCab(), "l", cab.string()});
  EXPECT_EQ(0, l.exit_code) << what;
  EXPECT_EQ(static_cast<long>(files.size()), std::count(l.out.begin(), l.out.end(), '\n')) << what;
  if (HaveProgram("cabextract")) {
    const RunResult c = RunProgram({"cabextract", "-q", "-d", (work / "theirs").string(), cab.string()});
    EXPECT_EQ(0, c.exit_code) << what << "\n" << c.err;
    ExpectSameTree(ReadTree(work / "theirs"), ReadTree(work / "ours"), what + " (agreement with cabextract)");
  }
}

FileSet MixedFiles() {
  return {
      {"readme.txt", MakePayload(5000, 0, 1)},
      {"bin/tool.exe", MakePayload(70000, 1, 2)},
      {"bin/random.dat", MakePayload(100000, 2, 3)},  // larger than several 32 KiB blocks
      {"exact.blk", MakePayload(32768, 0, 4)},          // exactly one block
      {"empty.txt", ""},
      {"deep/er/still/empty", ""},
  };
}

FileSet ManySmallFiles() {
  FileSet files;
  for (int i = 0; i < 600; ++i) {
    std::string name = "d";
    name += std::to_string(i % 7);
    name += "/f";
    name += std::to_string(i);
    name += ".txt";
    files[name] = MakePayload(i % 300, i % 3, i);
  }
  return files;
}

FileSet LongNames() {
  return {
      {std::string(255, 'n'), "255 characters"},
      {"dir/" + std::string(247, 'm') + ".txt", "255 characters with a folder"},
  };
}

FileSet OneLargeFile() { return {{"large.bin", MakePayload(3 << 20, 1, 9) + MakePayload(1 << 20, 2, 8)}}; }

struct GcabCase {
  const char* name;
  std::function<FileSet()> files;
};

const GcabCase kGcabCases[] = {
    {"mixed", MixedFiles},
    {"many_small", ManySmallFiles},
    {"long_names", LongNames},
    {"large", OneLargeFile},
};

class GcabRoundTripTest : public ::testing::TestWithParam<std::tuple<GcabCase, bool>> {
 protected:
  void SetUp() override {
    if (!HaveProgram("gcab")) GTEST_SKIP() << "gcab is not installed";
  }
};

TEST_P(GcabRoundTripTest, ExtractsWhatGcabPacked) {
  const auto& [c, mszip] = GetParam();
  ScopedTempDir tmp;
  const FileSet files = c.files();
  WriteTree(tmp.path() / "src", files);
  Gcab(tmp.path() / "src", files, mszip, tmp.path() / "a.cab");
  CheckExtraction(tmp.path() / "a.cab", files, tmp.path(), std::string(c.name) + (mszip ? " mszip" : " stored"));
}

INSTANTIATE_TEST_SUITE_P(Cases, GcabRoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(kGcabCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_mszip" : "_stored");
                         });

// gcab writes one folder per cabinet; folders of several gcab cabinets are
// combined into one cabinet with mixed methods.
TEST(GcabFoldersTest, ManyFoldersOfMixedMethods) {
  if (!HaveProgram("gcab")) GTEST_SKIP() << "gcab is not installed";
  ScopedTempDir tmp;
  FileSet all;
  CabContents combined;
  for (int i = 0; i < 4; ++i) {
    FileSet files;
    for (int j = 0; j < 3; ++j) {
      std::string name = "folder";
      name += std::to_string(i);
      name += "/file";
      name += std::to_string(j);
      files[name] = MakePayload(20000 * (j + 1) + i, (i + j) % 3, i * 10 + j);
    }
    const fs::path src = tmp.path() / ("src" + std::to_string(i));
    WriteTree(src, files);
    const std::string cab = Gcab(src, files, i % 2 == 0, tmp.path() / ("part" + std::to_string(i) + ".cab"));
    MergeCabinet(&combined, ReadCabinet(cab));
    all.insert(files.begin(), files.end());
  }
  ASSERT_EQ(4u, combined.folders.size());
  WriteFileOrDie(tmp.path() / "combined.cab", WriteCabinet(combined));
  CheckExtraction(tmp.path() / "combined.cab", all, tmp.path(), "four folders");
  const RunResult l = RunProgram({KestrinCab(), "l", tmp.Sub("combined.cab")});
  EXPECT_NE(std::string::npos, l.out.find("\t3\tNONE\tfolder3\\file0\n")) << l.out;
  EXPECT_NE(std::string::npos, l.out.find("\t2\tMSZIP\tfolder2\\file2\n")) << l.out;
}

}  // namespace
}  // namespace kestrin::testing
