// The cabinet decoder tests' harness: plain-function callbacks over in-memory
// files (paths not registered are read from disk on first open), output
// handles that hash instead of writing, counted allocations and handles so
// leaks show, a notification recorder, and a reader of the corpus' EXPECTED
// lists.
#ifndef KESTRIN_TESTS_CABINET_FDI_HARNESS_H_
#define KESTRIN_TESTS_CABINET_FDI_HARNESS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "cabinet/fdi.h"

namespace kestrin::cab::testing {

// Process-wide state behind the callbacks (tests run one at a time).
struct Harness {
  static Harness& Get();
  void Reset();  // closes what is open and forgets everything

  std::map<std::string, std::string> files;  // file contents by full path
  bool allow_disk = true;                    // load unregistered paths from disk
  int64_t live_blocks = 0, allocations = 0;
  int fail_allocation = -1;            // make the n-th allocation (0-based) fail
  int open_handles = 0, fail_close = 0;  // make the next n closes of cabinet handles fail
  uint64_t output_limit = UINT64_MAX;  // writes beyond this many bytes per file are cut short
};

PFNALLOC TestAlloc();
PFNFREE TestFree();
HFDI MakeTestContext(ERF* erf);

struct Extracted {
  std::string name, sha256;
  uint64_t size = 0;
  uint16_t date = 0, time = 0, attribs = 0;
  int32_t exec = 0;
};

// Records notifications and answers them: accepts every file (or those in
// `only`) with a hashing output handle, answers 0 to the first next-cabinet
// request and -1 when one is repeated after a failure. `hook` may answer
// first; Recorder::kDefault falls through to the default. The log has one
// line a notification: "info CABINET-PATH SET-ID", "enum ENTRIES-LEFT",
// "copy NAME SIZE", "close NAME", "next NAME/ERROR", "partial NAME".
class Recorder {
 public:
  static constexpr INT_PTR kDefault = std::numeric_limits<INT_PTR>::min();
  std::function<INT_PTR(FDINOTIFICATIONTYPE, FDINOTIFICATION*)> hook;
  std::vector<std::string> only;
  std::vector<std::string> log;
  std::vector<Extracted> files;

  static INT_PTR Notify(FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n);
  bool Copy(HFDI hfdi, const std::string& dir, const std::string& name,
            PFNFDIDECRYPT decrypt = nullptr);
  std::vector<std::string> Of(const std::string& kind) const;  // those lines, less the kind
  std::vector<std::string> Names() const;
};

// One FDICopy of a cabinet in a fresh context; checks that it leaks nothing.
struct CopyResult {
  bool ok;
  int32_t error;  // erfOper, 0 on success
  std::vector<Extracted> files;
};
CopyResult CopyCabinet(const std::filesystem::path& cab);

std::filesystem::path CorpusDir();

// Rows "sha256 <tab> size <tab> name-column ..." of an EXPECTED list.
struct ExpectedFile {
  std::string sha256;
  uint64_t size;
  std::string name;
};
std::vector<ExpectedFile> ReadExpected(const std::filesystem::path& file);

// A decoder context on the in-memory files only, checked afterwards for
// handles left open and memory left behind.
class FdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Harness::Get().Reset();
    Harness::Get().allow_disk = false;
    hfdi_ = MakeTestContext(&erf_);
    ASSERT_NE(hfdi_, nullptr);
  }
  void TearDown() override {
    if (hfdi_) { EXPECT_TRUE(FDIDestroy(hfdi_)); }
    EXPECT_EQ(Harness::Get().open_handles, 0) << "handles left open";
    EXPECT_EQ(Harness::Get().live_blocks, 0) << "memory left behind";
  }
  void Put(const std::string& name, const std::string& bytes, const std::string& dir = "/mem/") {
    Harness::Get().files[dir + name] = bytes;
  }
  bool Copy(Recorder& rec, const std::string& name, PFNFDIDECRYPT decrypt = nullptr) {
    erf_ = ERF{};
    return rec.Copy(hfdi_, "/mem/", name, decrypt);
  }

  ERF erf_{};
  HFDI hfdi_ = nullptr;
};

}  // namespace kestrin::cab::testing

#endif  // KESTRIN_TESTS_CABINET_FDI_HARNESS_H_
