// LZX folders of real cabinets through the whole cabinet decoder: the
// realistic benchmark cabinets (text and x86-64 code, E8 translation,
// verbatim and aligned blocks) against their recorded digests, and the two
// 2 GiB cabinets, which must stream through one 32 KiB block at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cabinet/fdi.h"
#include "support/sha256.h"
#include "support/temp_dir.h"

namespace kestrin::cab {
namespace {

namespace fs = std::filesystem;

// Cabinet files are read through POSIX calls (handle = descriptor + 1, so
// never 0); the one output file is a sink that hashes, or checks for zeros.
constexpr INT_PTR kSink = 0x5151;

struct Sink {
  bool hash = true;
  kestrin::testing::Sha256 sha;
  uint64_t size = 0;
  uint64_t nonzero = 0;  // bytes other than 0
  uint8_t last = 0;
  std::vector<std::pair<std::string, std::string>> files;  // name, digest
  std::string name;
};
Sink* g_sink = nullptr;

void* Alloc(uint32_t size) { return std::malloc(size); }
void Free(void* p) { std::free(p); }
INT_PTR Open(const char* path, int, int) {
  int fd = ::open(path, O_RDONLY);
  return fd < 0 ? -1 : fd + 1;
}
uint32_t Read(INT_PTR hf, void* buf, uint32_t cb) {
  ssize_t n = ::read(static_cast<int>(hf - 1), buf, cb);
  return n < 0 ? kIoError : static_cast<uint32_t>(n);
}
uint32_t Write(INT_PTR hf, const void* buf, uint32_t cb) {
  if (hf != kSink) return kIoError;
  const auto* p = static_cast<const uint8_t*>(buf);
  if (g_sink->hash) {
    g_sink->sha.Update(p, cb);
  } else {
    static const uint8_t zeros[32768] = {};
    for (uint32_t at = 0; at < cb; at += sizeof zeros) {
      uint32_t n = cb - at < sizeof zeros ? cb - at : static_cast<uint32_t>(sizeof zeros);
      if (std::memcmp(p + at, zeros, n) != 0) {
        for (uint32_t i = 0; i < n; ++i) g_sink->nonzero += p[at + i] != 0;
      }
    }
  }
  if (cb > 0) g_sink->last = p[cb - 1];
  g_sink->size += cb;
  return cb;
}
int Close(INT_PTR hf) { return hf == kSink ? 0 : ::close(static_cast<int>(hf - 1)); }
long Seek(INT_PTR hf, long dist, int whence) {
  return static_cast<long>(::lseek(static_cast<int>(hf - 1), dist, whence));
}
INT_PTR Notify(FDINOTIFICATIONTYPE kind, PFDINOTIFICATION n) {
  if (kind == fdintCOPY_FILE) {
    g_sink->name = n->psz1;
    return kSink;
  }
  if (kind == fdintCLOSE_FILE_INFO) {
    g_sink->files.emplace_back(g_sink->name, g_sink->hash ? g_sink->sha.HexDigest() : "");
    g_sink->sha = kestrin::testing::Sha256();
    return 1;
  }
  return 0;
}

// Extracts every file of `cab` into `sink`; returns the ERF code (0 = ok).
int Extract(const fs::path& cab, Sink* sink) {
  g_sink = sink;
  ERF erf{};
  HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
  EXPECT_NE(hfdi, nullptr);
  if (hfdi == nullptr) return erf.erfOper;
  std::string dir = cab.parent_path().string() + "/";
  bool ok = FDICopy(hfdi, cab.filename().string().c_str(), dir.c_str(), 0, Notify, nullptr, nullptr);
  FDIDestroy(hfdi);
  g_sink = nullptr;
  return ok ? 0 : erf.erfOper;
}

fs::path BenchDir() { return kestrin::testing::SharedDir() / "corpus" / "bench"; }

TEST(LzxCorpus, RealisticCabinetsMatchTheirDigests) {
  if (!fs::exists(BenchDir() / "EXPECTED.sha256")) GTEST_SKIP() << "no benchmark cabinets";
  // "sha256 <tab> size <tab> name" for the two files both cabinets hold.
  std::vector<std::pair<std::string, std::string>> expected;
  std::ifstream list(BenchDir() / "EXPECTED.sha256");
  std::string digest, size, name;
  while (list >> digest >> size >> name) expected.emplace_back(name, digest);
  ASSERT_EQ(expected.size(), 2u);
  for (const char* cab : {"lzx21-mixed-4M.cab", "lzx16-mixed-4M.cab"}) {
    Sink sink;
    EXPECT_EQ(Extract(BenchDir() / cab, &sink), 0) << cab;
    EXPECT_EQ(sink.files, expected) << cab;
    EXPECT_EQ(sink.size, 4u << 20) << cab;
  }
}

// 2,147,450,880 bytes each: all zeros but the last, an "x" (as cabextract
// writes them). Decoded in well under a second each by an optimised build;
// too slow for the sanitizer builds, which skip it.
TEST(LzxCorpus, TwoGibZeroRunCabinetsStream) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "2 GiB of output: optimised builds only";
#endif
  const fs::path dir = kestrin::testing::SharedDir() / "corpus" / "cab" / "libmspack-history";
  if (!fs::exists(dir / "huge-lzx15.cab")) GTEST_SKIP() << "no corpus";
  for (const char* cab : {"huge-lzx15.cab", "huge-lzx21.cab"}) {
    Sink sink;
    sink.hash = false;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Extract(dir / cab, &sink), 0) << cab;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[   info   ] %s: %.2f s, %.0f MB/s\n", cab, seconds, sink.size / seconds / 1e6);
    ASSERT_EQ(sink.files.size(), 1u) << cab;
    EXPECT_EQ(sink.files[0].first, "empty.dat");
    EXPECT_EQ(sink.size, 2147450880u) << cab;
    EXPECT_EQ(sink.nonzero, 1u) << cab;
    EXPECT_EQ(sink.last, 'x') << cab;
  }
}

}  // namespace
}  // namespace kestrin::cab
