// MSZIP history across blocks on real cabinets, and round trips through
// cabinets that gcab writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cab_builder.h"
#include "cabinet/block_codec.h"
#include "fdi_harness.h"
#include "support/sha256.h"
#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

namespace fs = std::filesystem;
using kestrin::testing::ReadFileOrDie;
using kestrin::testing::ScopedTempDir;
using kestrin::testing::Sha256Hex;
using kestrin::testing::SharedDir;

uint32_t U16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}
uint32_t U32(const std::string& s, size_t at) { return U16(s, at) | U16(s, at + 2) << 16; }

// Data blocks of each MSZIP folder of a single cabinet, in order.
std::vector<std::vector<std::string>> MszipBlocks(const std::string& cab) {
  std::vector<std::vector<std::string>> folders;
  const uint32_t count = U16(cab, 26), flags = U16(cab, 30);
  size_t at = 36, folder_reserve = 0, data_reserve = 0;
  if (flags & 4) {
    folder_reserve = static_cast<uint8_t>(cab[38]);
    data_reserve = static_cast<uint8_t>(cab[39]);
    at += 4 + U16(cab, 36);
  }
  for (uint32_t i = 0; i < count; ++i, at += 8 + folder_reserve) {
    size_t p = U32(cab, at);
    const uint32_t blocks = U16(cab, at + 4);
    std::vector<std::string> folder;
    for (uint32_t k = 0; k < blocks; ++k) {
      const uint32_t comp = U16(cab, p + 4);
      folder.push_back(cab.substr(p + 8 + data_reserve, comp));
      p += 8 + data_reserve + comp;
    }
    folders.push_back(folder);
  }
  return folders;
}

// Decodes every block, resetting before each one when `forget`; returns the
// number of blocks that fail.
int FailingBlocks(const std::vector<std::vector<std::string>>& folders, bool forget) {
  void* h = nullptr;
  uint32_t in_size = 0;
  EXPECT_EQ(kMszipCodec.create(0, nullptr, TestAlloc(), TestFree(), &in_size, &h), kCodecOk);
  std::vector<uint8_t> out(32768);
  int failed = 0;
  for (const auto& folder : folders) {
    kMszipCodec.reset(h);
    for (const std::string& block : folder) {
      if (forget) kMszipCodec.reset(h);
      uint32_t n = 32768;
      failed += kMszipCodec.decompress(h, reinterpret_cast<const uint8_t*>(block.data()),
                                       static_cast<uint32_t>(block.size()), out.data(), &n) != kCodecOk;
    }
  }
  kMszipCodec.destroy(h);
  return failed;
}

TEST(MszipHistoryTest, RealCabinetsReferIntoThePreviousBlock) {
  const fs::path cab_dir = SharedDir() / "corpus" / "cab";
  if (!fs::exists(cab_dir)) GTEST_SKIP() << "no corpus";
  for (const char* path : {"jklof-cabextract/test.cab", "python-cabarchive/multi-folder-compressed.cab",
                           "libarchive/test_read_format_cab_2.cab"}) {
    SCOPED_TRACE(path);
    Harness::Get().Reset();
    const auto folders = MszipBlocks(ReadFileOrDie(cab_dir / path));
    // With the previous block as history every block decodes; without it
    // some cannot, so these cabinets really test the history.
    EXPECT_EQ(FailingBlocks(folders, false), 0);
    EXPECT_GT(FailingBlocks(folders, true), 0);

    ERF erf{};
    HFDI hfdi = MakeTestContext(&erf);
    Recorder rec;
    ASSERT_TRUE(rec.Copy(hfdi, (cab_dir / path).parent_path().string() + "/",
                         fs::path(path).filename().string()))
        << erf.erfOper;
    FDIDestroy(hfdi);
    std::ifstream expected(cab_dir / "EXPECTED" / (std::string(path) + ".sha256"));
    std::string line;
    size_t i = 0;
    while (std::getline(expected, line)) {
      if (line.empty() || line[0] == '#') continue;
      ASSERT_LT(i, rec.files.size());
      EXPECT_EQ(line.substr(0, 64), rec.files[i].sha256) << rec.files[i].name;
      ++i;
    }
    EXPECT_EQ(i, rec.files.size());
    EXPECT_EQ(Harness::Get().live_blocks, 0);
  }
}

bool HaveGcab() { return std::system("gcab --version >/dev/null 2>&1") == 0; }

TEST(MszipHistoryTest, GcabCabinetsRoundTrip) {
  if (!HaveGcab()) GTEST_SKIP() << "gcab not installed";
  ScopedTempDir tmp;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty.txt", ""},
      {"one.bin", "x"},
      {"text.txt", Payload(100000, 31)},
      {"exact.bin", Payload(32768, 32)},
      {"zeros.bin", std::string(300000, '\0')},
      {"mixed.bin", Payload(250000, 33) + std::string(70000, 'z') + Payload(5000, 34)},
  };
  fs::create_directories(tmp.path() / "in");
  std::string args;
  for (const auto& [name, data] : files) {
    kestrin::testing::WriteFileOrDie(tmp.path() / "in" / name, data);
    args += " " + name;
  }
  for (const char* mode : {"-z", ""}) {
    SCOPED_TRACE(mode);
    const std::string cmd = "cd '" + (tmp.path() / "in").string() + "' && gcab -c " + mode + " ../out.cab" +
                            args + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    Harness::Get().Reset();
    ERF erf{};
    HFDI hfdi = MakeTestContext(&erf);
    Recorder rec;
    ASSERT_TRUE(rec.Copy(hfdi, tmp.path().string() + "/", "out.cab")) << erf.erfOper;
    FDIDestroy(hfdi);
    ASSERT_EQ(rec.files.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(rec.files[i].name, files[i].first);
      EXPECT_EQ(rec.files[i].sha256, Sha256Hex(files[i].second)) << files[i].first;
    }
    EXPECT_EQ(Harness::Get().live_blocks, 0);
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
