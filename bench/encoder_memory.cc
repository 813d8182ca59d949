// In-memory LZX and Quantum encoding: size, CPU speed and peak memory of the
// encoders on whole files, each file one folder, every data block decoded
// back by our decoder and compared as it comes out.
//
// usage: encoder_memory METHOD FILE...   METHOD is lzx:15..21 or
//        quantum:1..7:10..21, as kestrin-cab c takes it
//
// Prints per file: bytes in and out, out/in, the encoder's CPU seconds and
// MB/s of input (the decoding is timed apart and left out), and the peak RSS
// of the whole process (input and output are streamed, so that is the
// encoder and one decoder). The match finder's tables are backed by huge
// pages where the system offers them, as in kestrin-cab.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cabinet/block_codec.h"
#include "cabinet/block_encoder.h"
#include "cabinet/match_finder.h"
#include "host/large_memory.h"

namespace {

using namespace kestrin::cab;

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void* Alloc(uint32_t size) { return std::malloc(size); }
void Free(void* block) { std::free(block); }

}  // namespace

int main(int argc, char** argv) {
  int level = 0, window = 0;
  if (argc < 3 || (std::sscanf(argv[1], "lzx:%d", &window) != 1 &&
                   std::sscanf(argv[1], "quantum:%d:%d", &level, &window) != 2)) {
    std::fprintf(stderr, "usage: encoder_memory lzx:WINDOW|quantum:LEVEL:WINDOW FILE...\n");
    return 2;
  }
  SetLargeMemory({kestrin::host::AllocateLarge, kestrin::host::ReleaseLarge});
  const CabBlockCodec& codec = level == 0 ? kLzxCodec : kQuantumCodec;
  const LzxConfig lzx{1u << window, 1};
  const QuantumConfig quantum{window, 1};
  uint32_t min_input = 0;
  void* decoder = nullptr;
  if (codec.create(0, level == 0 ? static_cast<const void*>(&lzx) : &quantum, Alloc, Free, &min_input,
                   &decoder) != kCodecOk) {
    std::fprintf(stderr, "encoder_memory: no decoder for %s\n", argv[1]);
    return 2;
  }
  std::vector<uint8_t> input(min_input), output(kMaxBlockSize), expected(kMaxBlockSize);
  FILE* check = nullptr;
  uint64_t out_bytes = 0;
  double decode_seconds = 0;
  bool ok = true;
  const EncodedBlockSink sink = [&](const uint8_t* data, uint32_t size, uint32_t produced) {
    const double start = CpuSeconds();
    out_bytes += size;
    std::memcpy(input.data(), data, size);
    uint32_t got = produced;
    ok = ok && codec.decompress(decoder, input.data(), size, output.data(), &got) == kCodecOk &&
         got == produced && std::fread(expected.data(), 1, got, check) == got &&
         std::memcmp(output.data(), expected.data(), got) == 0;
    decode_seconds += CpuSeconds() - start;
    return true;
  };
  std::string error;
  std::unique_ptr<BlockEncoder> encoder =
      level == 0 ? MakeLzxEncoder(window, sink, &error) : MakeQuantumEncoder(level, window, sink, &error);
  if (!encoder) {
    std::fprintf(stderr, "encoder_memory: %s\n", error.c_str());
    return 2;
  }
  std::vector<uint8_t> chunk(1 << 20);
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    FILE* in = std::fopen(argv[i], "rb");
    check = std::fopen(argv[i], "rb");
    if (in == nullptr || check == nullptr) {
      std::fprintf(stderr, "encoder_memory: cannot read %s\n", argv[i]);
      return 2;
    }
    codec.reset(decoder);
    out_bytes = 0;
    decode_seconds = 0;
    ok = true;
    uint64_t in_bytes = 0;
    const double start = CpuSeconds();
    for (size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0; in_bytes += n) encoder->Write(chunk.data(), n);
    encoder->EndFolder();
    const double seconds = CpuSeconds() - start - decode_seconds;
    std::fclose(in);
    std::fclose(check);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-12s %-30s %11llu %11llu %6.4f %7.2f s %6.2f MB/s %5ld MiB%s\n", argv[1], argv[i],
                static_cast<unsigned long long>(in_bytes), static_cast<unsigned long long>(out_bytes),
                in_bytes ? static_cast<double>(out_bytes) / in_bytes : 0.0, seconds,
                seconds > 0 ? in_bytes / seconds / 1e6 : 0.0, usage.ru_maxrss / 1024,
                ok ? "" : "  DECODED WRONG");
    if (!ok) status = 1;
  }
  codec.destroy(decoder);
  return status;
}
