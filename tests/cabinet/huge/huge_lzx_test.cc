// The two LZX cabinets of the corpus that each expand to one 2 GiB file:
// offsets past 2^31 and long match runs. Streamed and hashed, never held.
// Too slow for the sanitizer build (CTest label optimised_only).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cabinet/fdi_harness.h"
#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

namespace fs = std::filesystem;

class HugeLzxTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HugeLzxTest, ExpandsToTheRecordedFile) {
  const fs::path cab = kestrin::testing::SharedDir() / "corpus" / "cab" / "libmspack-history" / GetParam();
  if (!fs::exists(cab)) GTEST_SKIP() << "no corpus at " << cab;
  std::ifstream expected_file(cab.parent_path().parent_path() / "EXPECTED" / "libmspack-history" /
                              (std::string(GetParam()) + ".sha256"));
  std::string line, sha, size;
  while (std::getline(expected_file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    fields >> sha >> size;
    break;
  }
  ASSERT_FALSE(sha.empty());

  Harness::Get().Reset();
  ERF erf{};
  HFDI hfdi = MakeTestContext(&erf);
  ASSERT_NE(hfdi, nullptr);
  Recorder rec;
  const bool ok = rec.Copy(hfdi, cab.parent_path().string() + "/", cab.filename().string());
  EXPECT_TRUE(FDIDestroy(hfdi));
  ASSERT_TRUE(ok) << FDIErrorText(erf.erfOper);
  ASSERT_EQ(rec.files.size(), 1u);
  EXPECT_EQ(std::to_string(rec.files[0].size), size);
  EXPECT_EQ(rec.files[0].sha256, sha);
  EXPECT_EQ(Harness::Get().live_blocks, 0);
  EXPECT_EQ(Harness::Get().open_handles, 0);
}

INSTANTIATE_TEST_SUITE_P(Corpus, HugeLzxTest, ::testing::Values("huge-lzx15.cab", "huge-lzx21.cab"));

}  // namespace
}  // namespace kestrin::cab::testing
