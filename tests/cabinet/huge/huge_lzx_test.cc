// The two LZX cabinets of the corpus that each expand to one 2 GiB file:
// offsets past 2^31 and long match runs. Streamed and hashed, never held.
// Too slow for the sanitizer build (CTest label optimised_only).
#include <gtest/gtest.h>

#include "cabinet/fdi_harness.h"
#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

TEST(HugeLzxTest, ExpandsToTheRecordedFile) {
  const auto dir = CorpusDir() / "cab";
  KESTRIN_NEED_CORPUS(dir / "libmspack-history/huge-lzx15.cab");
  for (const char* name : {"huge-lzx15.cab", "huge-lzx21.cab"}) {
    SCOPED_TRACE(name);
    Harness::Get().Reset();
    const auto expected =
        ReadExpected(dir / "EXPECTED/libmspack-history" / (std::string(name) + ".sha256"));
    const CopyResult r = CopyCabinet(dir / "libmspack-history" / name);
    ASSERT_TRUE(r.ok) << FDIErrorText(r.error);
    ASSERT_EQ(r.files.size(), 1u);
    ASSERT_EQ(expected.size(), 1u);
    EXPECT_EQ(r.files[0].size, expected[0].size);
    EXPECT_EQ(r.files[0].sha256, expected[0].sha256);
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
