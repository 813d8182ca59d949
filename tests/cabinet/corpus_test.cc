// The real cabinets of the shared corpus through the decoder: damaged
// cabinets end with the outcome the container rules give (never a crash or a
// hang; this also runs under the sanitizers) and the benchmark cabinets of
// other encoders match their digests. Whole-corpus extraction against the
// recorded files, sets and gcab round trips run through kestrin-cab
// (tests/tools/kestrin_cab_test.cc).
#include <gtest/gtest.h>

#include "fdi_harness.h"
#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

namespace fs = std::filesystem;

fs::path CabDir() { return CorpusDir() / "cab"; }

class CorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Harness::Get().Reset();
    KESTRIN_NEED_CORPUS(CabDir() / "MANIFEST.tsv");
  }
};

// Damaged cabinets: the error code (0: success) and the files served.
TEST_F(CorpusTest, DamagedCabinetsEndWithTheirError) {
  struct DamagedCase {
    int32_t error;
    std::vector<const char*> paths;  // below libmspack/, without ".cab"
    std::vector<std::string> files = {};
  };
  const std::vector<DamagedCase> cases = {
      // Embedded cabinets are not searched for.
      {FDIERROR_NOT_A_CABINET,
       {"bad_signature", "partial_shortheader", "partial_shortextheader", "search_basic",
        "../cabextract-cabs/search"}},
      {FDIERROR_UNKNOWN_CABINET_VERSION,
       {"search_tricky1", "cve-2015-4470-mszip-over-read", "../libarchive/test_fuzz_cab_null_deref",
        "../libarchive/test_read_format_cab_lzx_oob",
        "../libarchive/test_read_format_cab_skip_malformed"}},
      {FDIERROR_CORRUPT_CABINET,
       {"partial_nofiles", "partial_nofolder", "partial_shortfile1", "partial_shortfolder",
        "partial_str_nofname", "partial_str_noninfo", "partial_str_nonname",
        "partial_str_nopinfo", "partial_str_nopname", "partial_str_shortfname",
        "partial_str_shortninfo", "partial_str_shortnname", "partial_str_shortpinfo",
        "partial_str_shortpname", "cve-2017-11423-fname-overread", "hidden-file-beyond-eof",
        "cve-2015-4471-lzx-under-read", "../gcab/test-ncbytes-overflow"}},
      // A block that cannot be read where the folder's counted blocks end:
      // the next cabinet is asked for, and the repeated request is refused.
      {FDIERROR_USER_ABORT,
       {"partial_shortfile2", "filename-read-violation-2", "filename-read-violation-3",
        "filename-read-violation-4", "partial_nodata"}},
      {0, {"bad_folderindex"}, {"hello.c"}},  // folder indexes out of range are passed over
      {0, {"bad_nofolders", "bad_nofiles", "hidden-file-bad-folderid"}},
      {0, {"filename-read-violation-1"}, {""}},  // an empty name is still a name
      {FDIERROR_BAD_COMPR_TYPE, {"cve-2014-9732-folders-segfault"}, {"1"}},  // method 15
      // Block decoders that meet inconsistent data.
      {FDIERROR_MDI_FAIL,
       {"cve-2010-2800-mszip-infinite-loop", "cve-2014-9556-qtm-infinite-loop",
        "cve-2018-18584-qtm-max-size-block", "lzx-main-tree-no-lengths", "lzx-premature-matches",
        "../gcab/CVE-2014-9732", "../libarchive/test_read_format_cab_lzx_invalid_history"}},
  };
  for (const DamagedCase& c : cases) {
    for (const char* name : c.paths) {
      const fs::path path = (CabDir() / "libmspack" / (std::string(name) + ".cab")).lexically_normal();
      SCOPED_TRACE(path);
      ASSERT_TRUE(fs::exists(path));
      const CopyResult r = CopyCabinet(path);
      EXPECT_EQ(r.error, c.error) << FDIErrorText(r.error);
      std::vector<std::string> names;
      for (const auto& f : r.files) names.push_back(f.name);
      EXPECT_EQ(names, c.files);
    }
  }
}

// Four 4 MiB cabinets from other encoders (LZX windows 2^21 and 2^16 with
// E8 translation and aligned blocks; Quantum 7/21 and 4/16), same content.
TEST_F(CorpusTest, BenchCabinetsMatchTheirDigests) {
  const fs::path bench = CorpusDir() / "bench";
  const auto expected = ReadExpected(bench / "EXPECTED.sha256");
  ASSERT_EQ(expected.size(), 2u);
  for (const char* name : {"lzx21-mixed-4M.cab", "lzx16-mixed-4M.cab", "qtm7-21-mixed-4M.cab",
                           "qtm4-16-mixed-4M.cab"}) {
    SCOPED_TRACE(name);
    const CopyResult r = CopyCabinet(bench / name);
    ASSERT_TRUE(r.ok) << FDIErrorText(r.error);
    ASSERT_EQ(r.files.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(r.files[i].name, expected[i].name);
      EXPECT_EQ(r.files[i].size, expected[i].size);
      EXPECT_EQ(r.files[i].sha256, expected[i].sha256);
    }
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
