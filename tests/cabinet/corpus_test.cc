// The real cabinets of the shared corpus through the decoder: damaged
// cabinets end with the outcome the container rules give (never a crash or a
// hang; this also runs under the sanitizers) and the benchmark cabinets of
// other encoders match their digests. Whole-corpus extraction against the
// recorded files, sets and gcab round trips run through kestrin-cab
// (tests/bundle/kestrin_cab_test.cc).
#include <gtest/gtest.h>

#include "fdi_harness.h"

namespace kestrin::cab::testing {
namespace {

namespace fs = std::filesystem;

fs::path CabDir() { return CorpusDir() / "cab"; }

class CorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Harness::Get().Reset();
    if (!fs::exists(CabDir() / "MANIFEST.tsv")) GTEST_SKIP() << "no corpus at " << CabDir();
  }
};

// Damaged cabinets: the error code (0: success) and the files served.
TEST_F(CorpusTest, DamagedCabinetsEndWithTheirError) {
  struct DamagedCase {
    int32_t error;
    std::vector<const char*> paths;
    std::vector<std::string> files = {};
  };
  const std::vector<DamagedCase> cases = {
      {FDIERROR_NOT_A_CABINET,
       {"libmspack/bad_signature.cab", "libmspack/partial_shortheader.cab",
        "libmspack/partial_shortextheader.cab",
        // Embedded cabinets are not searched for.
        "cabextract-cabs/search.cab", "libmspack/search_basic.cab"}},
      {FDIERROR_UNKNOWN_CABINET_VERSION,
       {"libmspack/search_tricky1.cab", "libarchive/test_fuzz_cab_null_deref.cab",
        "libarchive/test_read_format_cab_lzx_oob.cab",
        "libarchive/test_read_format_cab_skip_malformed.cab",
        "libmspack/cve-2015-4470-mszip-over-read.cab"}},
      {FDIERROR_CORRUPT_CABINET,
       {"libmspack/partial_nofiles.cab",
        "libmspack/partial_nofolder.cab",
        "libmspack/partial_shortfile1.cab",
        "libmspack/partial_shortfolder.cab",
        "libmspack/partial_str_nofname.cab",
        "libmspack/partial_str_noninfo.cab",
        "libmspack/partial_str_nonname.cab",
        "libmspack/partial_str_nopinfo.cab",
        "libmspack/partial_str_nopname.cab",
        "libmspack/partial_str_shortfname.cab",
        "libmspack/partial_str_shortninfo.cab",
        "libmspack/partial_str_shortnname.cab",
        "libmspack/partial_str_shortpinfo.cab",
        "libmspack/partial_str_shortpname.cab",
        "libmspack/cve-2017-11423-fname-overread.cab",
        "libmspack/hidden-file-beyond-eof.cab",
        "libmspack/cve-2015-4471-lzx-under-read.cab",
        "gcab/test-ncbytes-overflow.cab"}},
      // A block that cannot be read where the folder's counted blocks end:
      // the next cabinet is asked for, and the repeated request is refused.
      {FDIERROR_USER_ABORT,
       {"libmspack/partial_shortfile2.cab", "libmspack/filename-read-violation-2.cab",
        "libmspack/filename-read-violation-3.cab", "libmspack/filename-read-violation-4.cab",
        "libmspack/partial_nodata.cab"}},
      // Folder indexes out of range are passed over.
      {0, {"libmspack/bad_folderindex.cab"}, {"hello.c"}},
      {0,
       {"libmspack/bad_nofolders.cab", "libmspack/bad_nofiles.cab",
        "libmspack/hidden-file-bad-folderid.cab"}},
      {0, {"libmspack/filename-read-violation-1.cab"}, {""}},  // an empty name is still a name
      {FDIERROR_BAD_COMPR_TYPE,
       {"libmspack/cve-2014-9732-folders-segfault.cab"},
       {"1"}},  // method 15
      // Block decoders that meet inconsistent data.
      {FDIERROR_MDI_FAIL,
       {"libmspack/cve-2010-2800-mszip-infinite-loop.cab", "gcab/CVE-2014-9732.cab",
        "libmspack/cve-2014-9556-qtm-infinite-loop.cab",
        "libmspack/cve-2018-18584-qtm-max-size-block.cab", "libmspack/lzx-main-tree-no-lengths.cab",
        "libmspack/lzx-premature-matches.cab",
        "libarchive/test_read_format_cab_lzx_invalid_history.cab"}},
  };
  for (const DamagedCase& c : cases) {
    for (const char* path : c.paths) {
      SCOPED_TRACE(path);
      ASSERT_TRUE(fs::exists(CabDir() / path));
      const CopyResult r = CopyCabinet(CabDir() / path);
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
