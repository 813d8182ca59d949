// The cabinet writer in memory, read back by the decoder: folder limits,
// failing output, inputs that change while they are read; and the MSZIP
// encoder's blocks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "cabinet/block_codec.h"
#include "cabinet/cab_writer.h"
#include "fdi_harness.h"
#include "support/cab_builder.h"
#include "support/sha256.h"

namespace kestrin::cab::testing {
namespace {

// Output files in memory; handle n is files[n - 1]. Writes fail once
// `write_budget` bytes were written.
struct MemoryIo {
  static inline std::vector<std::string> files;
  static inline std::vector<size_t> pos;
  static inline int64_t write_budget = INT64_MAX;
  static inline int open = 0;

  static INT_PTR Create() {
    files.emplace_back();
    pos.push_back(0);
    ++open;
    return static_cast<INT_PTR>(files.size());
  }
  static uint32_t Write(INT_PTR hf, const void* p, uint32_t n) {
    if ((write_budget -= n) < 0) return kIoError;
    std::string& f = files[hf - 1];
    f.replace(pos[hf - 1], n, static_cast<const char*>(p), n);
    pos[hf - 1] += n;
    return n;
  }
  static uint32_t Read(INT_PTR hf, void* p, uint32_t n) {
    const size_t take = std::min<size_t>(n, files[hf - 1].size() - pos[hf - 1]);
    std::memcpy(p, files[hf - 1].data() + pos[hf - 1], take);
    pos[hf - 1] += take;
    return static_cast<uint32_t>(take);
  }
  static long Seek(INT_PTR hf, long at, int) { return static_cast<long>(pos[hf - 1] = at); }
  static int Close(INT_PTR) { return --open, 0; }

  static CabWriterIo Make() {
    files.clear();
    pos.clear();
    write_budget = INT64_MAX;
    open = 0;
    CabWriterIo io;
    io.cabinet_name = [](int i) {
      char name[32];
      std::snprintf(name, sizeof name, "c%d.cab", i);
      return std::string(name);
    };
    io.create_cabinet = [](int, std::string*) { return Create(); };
    io.create_scratch = [](std::string*) { return Create(); };
    io.read = Read;
    io.write = Write;
    io.seek = Seek;
    io.close = Close;
    io.io_error = [] { return std::string("disk full"); };
    return io;
  }
};

CabFileReader ReaderOf(const std::string& content, size_t extra = 0) {
  auto at = std::make_shared<size_t>(0);
  return [&content, at, extra](uint8_t* buf, size_t n, std::string*) -> int64_t {
    const size_t take = std::min(n, content.size() + extra - *at);
    for (size_t i = 0; i < take; ++i) buf[i] = static_cast<uint8_t>(content[(*at + i) % content.size()]);
    *at += take;
    return static_cast<int64_t>(take);
  };
}

TEST(CabWriterTest, FoldersEndAtTheirLimitAndLargerFilesAreRefused) {
  CabWriterOptions options;
  options.method.method = EncoderSpec::kMszip;
  options.max_folder_size = 100000;
  const std::vector<std::string> contents = {Payload(60000, 1), Payload(40000, 2), Payload(1, 3),
                                             Payload(100000, 4), ""};
  CabWriter writer(options, MemoryIo::Make());
  for (size_t i = 0; i < contents.size(); ++i) {
    ASSERT_TRUE(writer.AddFile({"d\\f" + std::to_string(i), static_cast<uint32_t>(contents[i].size())},
                               ReaderOf(contents[i])))
        << writer.LastError();
  }
  ASSERT_TRUE(writer.Finish()) << writer.LastError();
  EXPECT_EQ(0, MemoryIo::open);
  const std::string& cab = MemoryIo::files[1];
  EXPECT_EQ(3, cab[26]);  // 60000+40000 | 1 | 100000 and the empty file
  Harness::Get().Reset();
  Harness::Get().files["/mem/c0.cab"] = cab;
  const CopyResult read = CopyCabinet("/mem/c0.cab");
  ASSERT_TRUE(read.ok) << read.error;
  ASSERT_EQ(contents.size(), read.files.size());
  for (size_t i = 0; i < contents.size(); ++i) EXPECT_EQ(kestrin::testing::Sha256Hex(contents[i]), read.files[i].sha256) << i;

  CabWriter refuses(options, MemoryIo::Make());
  EXPECT_FALSE(refuses.AddFile({"big", 100001}, ReaderOf("x")));
  EXPECT_EQ("big: 100001 bytes is more than a cabinet folder holds (100000 bytes)", refuses.LastError());
}

TEST(CabWriterTest, FailuresNameTheirCause) {
  const std::string data = Payload(200000, 5);
  const struct {
    int64_t write_budget;
    size_t extra;     // bytes the file gives beyond its size
    uint32_t size;    // stated size
    const char* error;
  } cases[] = {
      {100000, 0, 200000, "cannot write the scratch file: disk full"},
      {200100, 0, 200000, "cannot write c0.cab: disk full"},
      {INT64_MAX, 1, 200000, "f: the file grew while it was packed"},
      {INT64_MAX, 0, 200001, "f: the file shrank while it was packed"},
  };
  for (const auto& c : cases) {
    CabWriterOptions options;
    options.method.method = EncoderSpec::kNone;
    CabWriter writer(options, MemoryIo::Make());
    MemoryIo::write_budget = c.write_budget;
    const bool ok = writer.AddFile({"f", c.size}, ReaderOf(data, c.extra)) && writer.Finish();
    EXPECT_FALSE(ok);
    EXPECT_EQ(c.error, writer.LastError());
    EXPECT_FALSE(writer.AddFile({"g", 0}, ReaderOf(data)));  // nothing more after a failure
  }
  std::string why;
  for (const char* name : {"", "\\abs", "C:x", "a\\..\\b", "a\\\\b", "a\\", "a|b", "...", "x\ty"}) {
    EXPECT_FALSE(IsStorableName(name, &why)) << name;
  }
  EXPECT_TRUE(IsStorableName("MODULES\\A.INI", &why));
  EXPECT_TRUE(IsStorableName(std::string(255, 'n'), &why));
  EXPECT_FALSE(IsStorableName(std::string(256, 'n'), &why));
}

// Each frame is a deflate stream of its own that may reach back into the
// frame before; none is larger than a reader's input buffer.
TEST(MszipEncoderTest, BlocksReachIntoThePreviousFrameAndStayWithinTheLimit) {
  std::string input(4 * kMaxBlockSize, '\0');
  std::mt19937 bits(3);
  // Random, then from the middle of frame 1 on a repeat of what lies 16 KiB
  // before: frame 2 is all a copy of bytes of frame 1.
  for (size_t i = 0; i < input.size(); ++i) {
    input[i] = i < kMaxBlockSize + 16384 ? static_cast<char>(bits()) : input[i - 16384];
  }
  input.resize(3 * kMaxBlockSize + 100);
  std::vector<std::string> blocks;
  std::vector<uint32_t> sizes;
  auto encoder = MakeMszipEncoder(
      [&](const uint8_t* p, uint32_t n, uint32_t u) {
        blocks.emplace_back(reinterpret_cast<const char*>(p), n);
        sizes.push_back(u);
        return true;
      },
      nullptr);
  ASSERT_TRUE(encoder);
  for (size_t at = 0; at < input.size(); at += 10000) {
    ASSERT_TRUE(encoder->Write(reinterpret_cast<const uint8_t*>(input.data()) + at,
                               std::min<size_t>(10000, input.size() - at)));
  }
  ASSERT_TRUE(encoder->EndFolder());
  ASSERT_EQ(4u, blocks.size());
  EXPECT_EQ((std::vector<uint32_t>{kMaxBlockSize, kMaxBlockSize, kMaxBlockSize, 100}), sizes);
  EXPECT_EQ(kMaxBlockSize + 7, blocks[0].size());  // random: stored
  EXPECT_LT(blocks[2].size(), 1000u);  // 16 KiB of it random without the history
  void* handle = nullptr;
  uint32_t in_size = 0;
  ASSERT_EQ(kCodecOk, kMszipCodec.create(0, nullptr, TestAlloc(), TestFree(), &in_size, &handle));
  std::string out, frame(kMaxBlockSize, '\0');
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_LE(blocks[i].size(), in_size);
    uint32_t n = kMaxBlockSize;
    ASSERT_EQ(kCodecOk, kMszipCodec.decompress(handle, reinterpret_cast<const uint8_t*>(blocks[i].data()),
                                               static_cast<uint32_t>(blocks[i].size()),
                                               reinterpret_cast<uint8_t*>(frame.data()), &n));
    out.append(frame, 0, n);
  }
  kMszipCodec.destroy(handle);
  EXPECT_TRUE(out == input);
}

}  // namespace
}  // namespace kestrin::cab::testing
