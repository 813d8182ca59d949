// Hostile and odd cabinets and bundle folders: next-cabinet names that leave
// the cabinet's folder, FIFOs and folders named *.cab, cabinets of many
// damaged folders, and an output file whose close fails.
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "bundle/bundle_test_util.h"
#include "bundle/cabinet_file.h"

namespace {

// Makes close() of a descriptor open on a file of this name fail (after
// really closing it), so that a failing close of an output file can be
// seen; empty: every close behaves.
std::atomic<bool> g_fail_close{false};
std::string g_fail_close_name;

}  // namespace

extern "C" int close(int fd) {
  using CloseFn = int (*)(int);
  static const CloseFn real_close = reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "close"));
  bool fail = false;
  if (g_fail_close.load()) {  // nothing is allocated otherwise
    char target[4096];
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, 4095);
    const std::string path(target, n > 0 ? static_cast<size_t>(n) : 0);
    fail = path.ends_with("/" + g_fail_close_name);
  }
  const int result = real_close(fd);
  if (!fail) return result;
  errno = EIO;
  return -1;
}

namespace kestrin {
namespace {

using namespace kestrin::testing;  // NOLINT
namespace cb = kestrin::cab::testing;

using HostileBundleTest = BundleFolderTest;

TEST_F(HostileBundleTest, NextCabinetNamesStayInTheCabinetsFolder) {
  struct Case {
    const char* next;   // name in a.cab's header
    const char* place;  // where b.cab is put beside a.cab, or "fifo", "folder", ""
    const char* why;    // in the error; "": the set is extracted
  };
  const Case cases[] = {
      {"b.cab", "b.cab", ""},
      {"B.CAB", "b.cab", ""},  // other letter case
      {"../b.cab", "../b.cab", "folder separator"},
      {"..\\b.cab", "..\\b.cab", "folder separator"},
      {"C:b.cab", "C:b.cab", "drive letter"},
      {"..", "", "not a file name"},
      {"b.cab", "fifo", "not a regular file"},
      {"b.cab", "folder", "a folder"},
      {"", "", "no next cabinet is named"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.next) + " " + c.place);
    const fs::path dir = work_.path() / std::to_string(++n) / "set";
    const cb::TwoCabinets set = cb::CabinetSet(c.next);
    fs::create_directories(dir);
    WriteFileOrDie(dir / "a.cab", set.a.Build());
    const std::string place = c.place;
    if (place == "fifo") { ASSERT_EQ(::mkfifo((dir / "b.cab").c_str(), 0644), 0); }
    else if (place == "folder") fs::create_directories(dir / "b.cab");
    else if (!place.empty()) WriteFileOrDie(dir / place, set.b.Build());
    const std::string cab = (dir / "a.cab").string();
    const RunResult x = Cab({"x", cab, "-d", (dir.parent_path() / "out").string()});
    EXPECT_EQ(x.exit_code, *c.why ? 1 : 0) << x.err;
    EXPECT_TRUE(*c.why ? CleanErrors(x.err) && x.err.find(c.why) != std::string::npos
                       : ReadFileOrDie(dir.parent_path() / "out" / "f2") == set.f2) << x.err;
    // The installer's unpacking takes the same road.
    const std::string target = (dir.parent_path() / "unpacked").string();
    EXPECT_EQ(InChild([&] { return ExtractCabinetFile(cab, target) + 10; }), *c.why ? 8 : 12);
  }
}

TEST_F(HostileBundleTest, FifosAndFoldersNamedCabAreSkippedWithoutWaiting) {
  const fs::path dir = work_.path() / "bundles";
  fs::create_directories(dir / "dir.cab");
  ASSERT_EQ(::mkfifo((dir / "a-fifo.cab").c_str(), 0644), 0);
  WriteFileOrDie(dir / "good.cab", StoredCabinet({{"hw.ini", "[OEMDriverDisk]\nOEMID=1\n"}}));
  const std::string fifo = (dir / "a-fifo.cab").string();
  const std::string good = Upper((dir / "good.cab").string());
  EXPECT_EQ(InChild([&] {  // bit 0: the scan, bit 1: the folder test, bit 2: the FIFO alone
              std::vector<std::string> found;
              const bool scan = ScanBundleDirectory(host_, dir.string(), &found) == 1 && found == std::vector{good};
              return (scan ? 0 : 1) | (DirectoryHasBundle(host_, dir.string()) ? 0 : 2) | (CheckBundle(host_, fifo) ? 4 : 0);
            }),
            0);
}

// Every damaged folder (a block whose checksum does not match) is reported,
// past the 1000 failures the cabinet object keeps too, and every good one
// extracted. The time limit of the 20000-folder row (all
// damaged, tested with t) only catches a return to quadratic time (minutes;
// about 0.2 s optimised), not a slow machine.
TEST_F(HostileBundleTest, DamagedFoldersAreReportedAndTheGoodOnesExtracted) {
  for (const int folders : {20000, 60}) {
    SCOPED_TRACE(folders);
    const auto damaged = [&](int i) { return folders > 100 || i % 3 == 1; };
    const auto data = [](int i) { return "file number " + std::to_string(i) + "\n"; };
    cb::CabBuilder cab;
    for (int i = 0; i < folders; ++i) {
      cab.AddFiles(cab.AddStoredFolder(data(i)), {{"f" + std::to_string(i), data(i)}});
      if (damaged(i)) cab.folders.back().blocks[0].checksum = 0x12345678;
    }
    const fs::path dir = work_.path() / std::to_string(folders);
    fs::create_directories(dir);
    WriteFileOrDie(dir / "mixed.cab", cab.Build());
    std::vector<std::string> args = {"x", (dir / "mixed.cab").string(), "-d", (dir / "out").string()};
    if (folders > 100) args = {"t", args[1]};
    const RunResult r = Cab(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(CleanErrors(r.err)) << r.err.substr(0, 500);
    int reported = 0;
    for (size_t at = 0; (at = r.err.find("\": corrupt cabinet", at)) != std::string::npos; ++at) ++reported;
    EXPECT_EQ(reported, folders > 100 ? folders : 20);
    for (int i = 0; i < folders && folders < 100; ++i) {
      const std::string name = "f" + std::to_string(i);
      if (damaged(i)) {
        EXPECT_NE(r.err.find("\"" + name + "\": corrupt"), std::string::npos) << i;
      } else {
        EXPECT_EQ(ReadFileOrDie(dir / "out" / name), data(i));
      }
    }
  }
}

TEST_F(HostileBundleTest, AFailingCloseKeepsTheExtractionGoingAndFailsIt) {
  const fs::path cab = work_.path() / "three.cab";
  WriteFileOrDie(cab, StoredCabinet({{"a.txt", "first"}, {"b.txt", "second"}, {"c.txt", "third"}}));
  const fs::path out = work_.path() / "out";
  CCabinetFile file;
  ASSERT_TRUE(file.Open(cab.string()));
  g_fail_close_name = "b.txt", g_fail_close = true;
  const int result = file.ExtractAll(out.string());
  g_fail_close = false;
  EXPECT_EQ(result, -2);
  EXPECT_EQ(file.FilesExtracted(), 3);
  EXPECT_EQ(ReadFileOrDie(out / "c.txt"), "third");
  EXPECT_EQ(file.LastErrorCode(), kCabErrorOutput);
  EXPECT_NE(file.LastError().find("b.txt"), std::string::npos) << file.LastError();
}

}  // namespace
}  // namespace kestrin
