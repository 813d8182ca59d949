// Callbacks and notification recorder for driving the cabinet decoder in
// tests: files come from memory (or, for paths not registered, from the real
// disk through POSIX calls); output files are hashed, never written; every
// allocation and handle is counted so leaks show.
#ifndef KESTRIN_TESTS_CABINET_FDI_HARNESS_H_
#define KESTRIN_TESTS_CABINET_FDI_HARNESS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cabinet/fdi.h"
#include "support/sha256.h"

namespace kestrin::cab::testing {

// Process-wide state behind the plain-function callbacks (tests run one at a
// time). Reset() in every fixture's SetUp.
struct Harness {
  static Harness& Get();
  void Reset();

  std::map<std::string, std::string> files;  // in-memory files by full path
  bool allow_disk = true;                    // open unregistered paths from disk

  // Statistics.
  int64_t live_blocks = 0;
  int64_t allocations = 0;
  int fail_allocation = -1;  // make the n-th allocation (0-based) fail
  int open_handles = 0;
  int opens = 0;
  std::vector<std::string> opened_paths;
  uint64_t cabinet_bytes_read = 0;
  int fail_close = 0;  // make the next n closes of cabinet handles fail

  // Output files (handles made by the recorder).
  uint64_t output_limit = UINT64_MAX;  // writes beyond this many bytes per file are cut short
};

PFNALLOC TestAlloc();
PFNFREE TestFree();
INT_PTR TestOpen(const char* path, int oflag, int pmode);
HFDI MakeTestContext(ERF* erf);

// One finished output file.
struct Extracted {
  std::string name;
  uint64_t size = 0;
  std::string sha256;
  uint16_t date = 0, time = 0, attribs = 0;
  int32_t exec = 0;
  uint16_t folder = 0;
};

// One notification as received.
struct Event {
  FDINOTIFICATIONTYPE kind;
  std::string psz1, psz2, psz3;
  int32_t cb;
  uint16_t setID, iCabinet, iFolder;
  FDIERROR fdie;
};

// Records notifications and answers them: by default it accepts every file
// (a hashing output handle), answers 0 to the next-cabinet request the first
// time and -1 when it is repeated after a failure.
class Recorder {
 public:
  // Optional override: return a value to answer, or std::nullopt-like
  // kDefault to fall back to the default behaviour.
  static constexpr INT_PTR kDefault = INT64_MIN;
  std::function<INT_PTR(FDINOTIFICATIONTYPE, FDINOTIFICATION*)> hook;
  bool accept_files = true;
  // Names to accept (empty: all).
  std::vector<std::string> only;
  // Where to redirect fdintNEXT_CABINET (replaces psz3 when not empty).
  std::string next_dir;

  std::vector<Event> events;
  std::vector<Extracted> files;
  int next_cabinet_requests = 0;

  static INT_PTR Notify(FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n);
  bool Copy(HFDI hfdi, const std::string& dir, const std::string& name,
            PFNFDIDECRYPT decrypt = nullptr);
  int Count(FDINOTIFICATIONTYPE kind) const;
};

// Hex of the bytes of s ("41" for "A").
std::string Hex(const std::string& s);

}  // namespace kestrin::cab::testing

#endif  // KESTRIN_TESTS_CABINET_FDI_HARNESS_H_
