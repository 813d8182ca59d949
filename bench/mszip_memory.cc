// In-memory MSZIP throughput: Kestrin's cabinet decoder driven through
// memory callbacks, against zlib and libdeflate inflating the same CFDATA
// blocks.
//
// The cabinet is read into memory once. Kestrin: FDICopy with open/read/seek
// served from that buffer and every file accepted into a handle whose writes
// are only counted (container, checksums and decoder, no file I/O). zlib: the
// folders' data blocks are walked directly; each block is inflated raw (after
// its "CK" signature) with the previous block's output as dictionary, the way
// MSZIP blocks may refer back. libdeflate: each block inflated on its own
// (libdeflate takes no dictionary), which gives the same output only where no
// block refers back into the previous one (gcab's cabinets); where the output
// differs from zlib's the column says so and shows no figure. No checksums for
// either. Built without libdeflate, the bench says so and skips that column.
//
// usage: mszip_memory FILE.cab [REPS]   (prints MB/s of output, median and best)
//
// A second Kestrin row drives the MSZIP block decoder alone through its codec
// interface over the same blocks where they lie in memory: no container, no
// checksums, no read callback copying each block's input, only the decoding
// (with the history carried from block to block, which libdeflate skips).
// The goal's ratio is the first row's; the second shows what of the
// difference is decoding.
//
// The ratios are given by wall-clock time (median) and by the CPU time of
// the best run, which other processes on a loaded machine disturb less. The
// four take turns within each round of runs.
#include <zlib.h>
#ifdef KESTRIN_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cabinet/block_codec.h"
#include "cabinet/fdi.h"

namespace {

namespace cab = kestrin::cab;

std::string g_cabinet;       // the whole cabinet file
uint64_t g_written = 0;      // bytes "written" by the decoder
constexpr cab::INT_PTR kSinkHandle = 9;

void* MemAlloc(uint32_t size) { return std::malloc(size ? size : 1); }
void MemFree(void* p) { std::free(p); }
uint32_t MemWrite(cab::INT_PTR, const void*, uint32_t count) {
  g_written += count;
  return count;
}
int MemClose(cab::INT_PTR) { return 0; }
cab::INT_PTR Notify(cab::FDINOTIFICATIONTYPE kind, cab::PFDINOTIFICATION) {
  if (kind == cab::fdintCOPY_FILE) return kSinkHandle;
  if (kind == cab::fdintCLOSE_FILE_INFO) return 1;
  return 0;
}

// Every open gets a handle with a read position of its own.
std::vector<size_t> g_positions;
constexpr cab::INT_PTR kFirstHandle = 100;
cab::INT_PTR MemOpen(const char*, int, int) {
  g_positions.push_back(0);
  return kFirstHandle + static_cast<cab::INT_PTR>(g_positions.size()) - 1;
}
size_t& Position(cab::INT_PTR hf) { return g_positions.at(static_cast<size_t>(hf - kFirstHandle)); }
uint32_t MemRead(cab::INT_PTR hf, void* buffer, uint32_t count) {
  size_t& pos = Position(hf);
  const size_t avail = pos < g_cabinet.size() ? g_cabinet.size() - pos : 0;
  const size_t n = std::min<size_t>(count, avail);
  std::memcpy(buffer, g_cabinet.data() + pos, n);
  pos += n;
  return static_cast<uint32_t>(n);
}
long MemSeek(cab::INT_PTR hf, long offset, int origin) {
  size_t& pos = Position(hf);
  const long base = origin == 0 ? 0 : origin == 1 ? static_cast<long>(pos) : static_cast<long>(g_cabinet.size());
  pos = static_cast<size_t>(base + offset);
  return static_cast<long>(pos);
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint16_t U16(size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(g_cabinet[at]) | static_cast<uint8_t>(g_cabinet[at + 1]) << 8);
}
uint32_t U32(size_t at) { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }

struct Block {
  size_t data;
  uint32_t size;
  uint32_t out;
  bool first;
};

// The data blocks of every folder (single cabinet; reserve fields honoured).
std::vector<Block> Blocks() {
  std::vector<Block> blocks;
  const uint16_t folders = U16(26);
  const uint16_t flags = U16(30);
  size_t at = 36;
  uint32_t folder_reserve = 0, data_reserve = 0;
  if (flags & 4) {
    const uint16_t header_reserve = U16(36);
    folder_reserve = static_cast<uint8_t>(g_cabinet[38]);
    data_reserve = static_cast<uint8_t>(g_cabinet[39]);
    at = 40 + header_reserve;
  }
  for (int s = 0; s < ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); ++s) at = g_cabinet.find('\0', at) + 1;
  for (uint16_t f = 0; f < folders; ++f) {
    const size_t rec = at + f * (8 + folder_reserve);
    size_t data = U32(rec);
    const uint16_t count = U16(rec + 4);
    for (uint16_t b = 0; b < count; ++b) {
      const uint16_t csize = U16(data + 4);
      const uint16_t usize = U16(data + 6);
      blocks.push_back({data + 8 + data_reserve, csize, usize, b == 0});
      data += 8 + data_reserve + csize;
    }
  }
  return blocks;
}

void Report(const char* what, std::vector<double> mbs) {
  std::sort(mbs.begin(), mbs.end());
  std::printf("%-34s median %8.1f MB/s   best %8.1f MB/s\n", what, mbs[mbs.size() / 2], mbs.back());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mszip_memory FILE.cab [REPS]\n");
    return 2;
  }
  const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  {
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    g_cabinet = s.str();
  }
  if (g_cabinet.size() < 36 || g_cabinet.compare(0, 4, "MSCF") != 0) {
    std::fprintf(stderr, "%s: not a cabinet\n", argv[1]);
    return 1;
  }

  const std::vector<Block> blocks = Blocks();
  // One column's speeds in MB/s, by wall-clock and by CPU time; a run
  // without a column is not kept (the untimed round).
  struct Column {
    std::vector<double> wall, cpu;
  };
  const auto timed = [](auto run, Column* column) {
    const double t0 = Seconds(), c0 = CpuSeconds();
    const uint64_t bytes = run();
    const double t = Seconds() - t0, c = CpuSeconds() - c0;
    if (column) {
      column->wall.push_back(bytes / t / 1e6);
      column->cpu.push_back(bytes / c / 1e6);
    }
    return bytes;
  };

  // Kestrin through memory callbacks.
  cab::ERF erf{};
  cab::HFDI hfdi = cab::FDICreate(MemAlloc, MemFree, MemOpen, MemRead, MemWrite, MemClose, MemSeek,
                                  cab::cpu80386, &erf);
  bool fdi_failed = false;
  const auto run_fdi = [&]() -> uint64_t {
    g_written = 0;
    g_positions.clear();
    if (!cab::FDICopy(hfdi, "memory.cab", "", 0, Notify, nullptr, nullptr)) fdi_failed = true;
    return g_written;
  };

  // zlib over the same blocks; the first run keeps the CRC of each block's
  // output to check libdeflate's against.
  std::vector<unsigned char> out(32768 * 2);
  std::vector<uint32_t> zlib_crcs(blocks.size());
  z_stream z{};
  inflateInit2(&z, -15);
  bool zlib_failed = false, keep_crcs = true;
  const auto run_zlib = [&]() -> uint64_t {
    uint64_t zlib_total = 0;
    unsigned char* prev = out.data();
    unsigned char* cur = out.data() + 32768;
    uint32_t prev_size = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
      const Block& b = blocks[i];
      inflateReset(&z);
      if (!b.first && prev_size > 0) inflateSetDictionary(&z, prev, prev_size);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(g_cabinet.data() + b.data + 2));
      z.avail_in = b.size - 2;
      z.next_out = cur;
      z.avail_out = 32768;
      const int rc = inflate(&z, Z_FINISH);
      if (rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR) zlib_failed = true;
      prev_size = 32768 - z.avail_out;
      zlib_total += prev_size;
      if (keep_crcs) zlib_crcs[i] = static_cast<uint32_t>(crc32(0, cur, prev_size));
      std::swap(prev, cur);
    }
    return zlib_total;
  };

  // The MSZIP decoder alone over the blocks in memory (the cabinet is copied
  // once, untimed, with room after it for the input the decoder may look at
  // beyond a block).
  const std::string padded = g_cabinet + std::string(64, '\0');
  const auto* base = reinterpret_cast<const uint8_t*>(padded.data());
  void* handle = nullptr;
  uint32_t min_input = 0;
  if (cab::kMszipCodec.create(32768, nullptr, MemAlloc, MemFree, &min_input, &handle) != cab::kCodecOk) {
    std::fprintf(stderr, "cannot create the MSZIP decoder\n");
    return 1;
  }
  std::vector<uint8_t> window(32768);
  bool codec_failed = false;
  const auto run_codec = [&]() -> uint64_t {
    uint64_t produced = 0;
    for (const Block& b : blocks) {
      if (b.first) cab::kMszipCodec.reset(handle);
      uint32_t out_size = b.out;
      if (cab::kMszipCodec.decompress(handle, base + b.data, b.size, window.data(), &out_size) != cab::kCodecOk) {
        codec_failed = true;
      }
      produced += out_size;
    }
    return produced;
  };

  // libdeflate, each block on its own; the first run checks its output
  // against zlib's.
  const char* deflate_note = nullptr;
#ifdef KESTRIN_HAVE_LIBDEFLATE
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
  bool check_deflate = true;
  const auto run_deflate = [&]() -> uint64_t {
    uint64_t ld_total = 0;
    for (size_t i = 0; i < blocks.size() && !deflate_note; ++i) {
      const Block& b = blocks[i];
      size_t got = 0;
      const libdeflate_result rc = libdeflate_deflate_decompress(
          ld, g_cabinet.data() + b.data + 2, b.size - 2, out.data(), 32768, &got);
      if (rc != LIBDEFLATE_SUCCESS ||
          (check_deflate && crc32(0, out.data(), static_cast<uInt>(got)) != zlib_crcs[i])) {
        deflate_note = "not applicable: blocks refer back into the previous block";
      }
      ld_total += got;
    }
    return ld_total;
  };
#else
  deflate_note = "skipped: built without libdeflate";
#endif

  // An untimed round first (it also keeps zlib's CRCs and checks
  // libdeflate's output), then the timed rounds, each running the four in
  // turn, so that what disturbs the machine for a while falls on all of them.
  Column ours, theirs, codec, deflate;
  uint64_t total = 0, zlib_total = 0, produced = 0;
  for (int r = -1; r < reps; ++r) {
    const bool timed_round = r >= 0;
    total = timed(run_fdi, timed_round ? &ours : nullptr);
    zlib_total = timed(run_zlib, timed_round ? &theirs : nullptr);
    keep_crcs = false;
    produced = timed(run_codec, timed_round ? &codec : nullptr);
#ifdef KESTRIN_HAVE_LIBDEFLATE
    if (!deflate_note) timed(run_deflate, timed_round ? &deflate : nullptr);
    check_deflate = false;
#endif
    if (fdi_failed) {
      std::fprintf(stderr, "%s: %s\n", argv[1], cab::FDIErrorText(erf.erfOper));
      return 1;
    }
    if (zlib_failed || codec_failed) {
      std::fprintf(stderr, "%s failed on a block\n", zlib_failed ? "zlib" : "the MSZIP decoder");
      return 1;
    }
  }
  cab::FDIDestroy(hfdi);
  inflateEnd(&z);
  cab::kMszipCodec.destroy(handle);
#ifdef KESTRIN_HAVE_LIBDEFLATE
  libdeflate_free_decompressor(ld);
#endif
  if (zlib_total != total) {
    std::fprintf(stderr, "output sizes differ: kestrin %llu, zlib %llu\n",
                 static_cast<unsigned long long>(total), static_cast<unsigned long long>(zlib_total));
  }
  if (produced != total) {
    std::fprintf(stderr, "the MSZIP decoder alone made %llu bytes, FDI %llu\n",
                 static_cast<unsigned long long>(produced), static_cast<unsigned long long>(total));
    return 1;
  }

  std::printf("%s: %llu bytes out, %zu blocks, %d runs\n", argv[1], static_cast<unsigned long long>(total),
              blocks.size(), reps);
  Report("kestrin (FDI, memory callbacks)", ours.wall);
  Report("kestrin MSZIP decoder alone", codec.wall);
  Report("zlib inflate, same blocks", theirs.wall);
  if (deflate_note) {
    std::printf("%-34s %s\n", "libdeflate, each block alone", deflate_note);
  } else {
    Report("libdeflate, each block alone", deflate.wall);
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("ratio kestrin/zlib (median): %.2f\n", median(ours.wall) / median(theirs.wall));
  if (!deflate_note) std::printf("ratio kestrin/libdeflate (median): %.2f\n", median(ours.wall) / median(deflate.wall));
  const auto best = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
  std::printf("by CPU time, best run: kestrin %.1f MB/s, zlib %.1f, ratio %.2f", best(ours.cpu), best(theirs.cpu),
              best(ours.cpu) / best(theirs.cpu));
  if (!deflate_note) {
    std::printf("; libdeflate %.1f, ratio %.2f", best(deflate.cpu), best(ours.cpu) / best(deflate.cpu));
  }
  std::printf("\n");
  if (!deflate_note) {
    std::printf("decoder alone by CPU time, best run: %.1f MB/s, ratio to libdeflate %.2f\n", best(codec.cpu),
                best(codec.cpu) / best(deflate.cpu));
  }
  return 0;
}
