// Container rules of the cabinet reader on cabinets built byte by byte:
// header, reserve areas, names, folders, checksums, notification answers,
// allocation failures, and cabinet sets: a folder that runs out of blocks,
// continues in the next cabinet or fails there. Real cabinets are in
// corpus_test.cc and tests/tools/kestrin_cab_test.cc.
#include <gtest/gtest.h>

#include "support/cab_builder.h"
#include "fdi_harness.h"
#include "support/sha256.h"

namespace kestrin::cab::testing {
namespace {

using kestrin::testing::Sha256Hex;
using Names = std::vector<std::string>;

class ContainerTest : public FdiTest {
 protected:
  bool CopyBytes(const std::string& bytes, Recorder& rec, PFNFDIDECRYPT decrypt = nullptr) {
    Put("a.cab", bytes);
    return Copy(rec, "a.cab", decrypt);
  }
};

CabBuilder TwoFiles() {
  CabBuilder cab;
  cab.AddFiles(cab.AddStoredFolder("first file\nsecond one\n"),
               {{"a.txt", "first file\n"}, {"b.txt", "second one\n"}});
  return cab;
}

TEST_F(ContainerTest, ExtractsFilesWithTheirRecordFields) {
  CabBuilder cab = TwoFiles();
  cab.files[1].attribs = 0x41, cab.files[1].date = 0x1234, cab.files[1].time = 0x5678;  // 0x41: ro+x
  Recorder rec;
  ASSERT_TRUE(CopyBytes(cab.Build(), rec)) << erf_.erfOper;
  const auto fields = [](const Extracted& f) {  // digest, attributes, cb, date, time
    return std::tuple<std::string, int, int, int, int>{f.sha256, f.attribs, f.exec, f.date, f.time};
  };
  ASSERT_EQ(rec.files.size(), 2u);
  EXPECT_EQ(fields(rec.files[0]), std::tuple(Sha256Hex("first file\n"), 0x20, 0, 0x5A21, 0x6000));
  EXPECT_EQ(fields(rec.files[1]), std::tuple(Sha256Hex("second one\n"), 0x01, 1, 0x1234, 0x5678))
      << "the execute bit moves into cb";
  // The entries still to read, the size offered, the set ID.
  EXPECT_EQ(rec.log, (Names{"info /mem/ 19283", "enum 2", "copy a.txt 11", "close a.txt",
                            "copy b.txt 11", "close b.txt", "enum 0"}));
}

// The outcome of every container rule, in the order the reader checks them:
// each row changes the two-file cabinet (or, with `set`, the two-cabinet set
// of CabinetSet) or the recorder's answers. A copy that succeeds must serve
// the files whole.
struct Scene {
  CabBuilder a, b;  // b: the next cabinet, with `set`
  Recorder rec;
  std::string cab = "a.cab", b_dir = "/mem/";
  PFNFDIDECRYPT decrypt = nullptr;
};

void AnswerTo(FDINOTIFICATIONTYPE kind, INT_PTR answer, Recorder& rec) {
  rec.hook = [=](FDINOTIFICATIONTYPE k, FDINOTIFICATION*) {
    return k == kind ? answer : Recorder::kDefault;
  };
}

TEST_F(ContainerTest, ErrorCodesOfTheContainerRules) {
  const TwoCabinets set = CabinetSet();
  const std::string f1 = set.f1, f2 = set.f2;
  struct Row {
    const char* what;
    bool set;
    std::function<void(Scene&)> change;
    int32_t error;                   // erfOper afterwards
    Names requests = {};             // next-cabinet requests, "NAME/ERROR"
    const char* names = nullptr;     // the one file served although it fails
    bool ok = false;                 // succeeds although erfOper is set
    int32_t type = 0;                // erfType
  };
  const Row rows[] = {
      {"no such cabinet file", false, [](Scene& s) { s.cab = "nowhere.cab"; },
       FDIERROR_CABINET_OPEN},
      {"version 1.2", false, [](Scene& s) { s.a.version_minor = 2; },
       FDIERROR_UNKNOWN_CABINET_VERSION, {}, nullptr, false, 0x0102},
      {"version 2.3", false, [](Scene& s) { s.a.version_major = 2; },
       FDIERROR_UNKNOWN_CABINET_VERSION, {}, nullptr, false, 0x0203},
      {"header reserve 60000", false,
       [](Scene& s) { s.a.reserve_present = true, s.a.header_reserve.assign(60000, 'r'); }, 0},
      {"header reserve 60001", false,
       [](Scene& s) { s.a.reserve_present = true, s.a.header_reserve.assign(60001, 'r'); },
       FDIERROR_NOT_A_CABINET},
      {"reserve sizes present, all 0", false, [](Scene& s) { s.a.reserve_present = true; }, 0},
      {"folder method 4", false, [](Scene& s) { s.a.folders[0].type = 4; },
       FDIERROR_BAD_COMPR_TYPE},
      {"file count beyond the entries", false, [](Scene& s) { s.a.file_count = 3; },
       FDIERROR_CORRUPT_CABINET},
      {"name of 255 bytes", false, [](Scene& s) { s.a.files[1].name.assign(255, 'n'); }, 0},
      {"no terminator in 256 bytes", false, [](Scene& s) { s.a.files[1].name.assign(256, 'n'); },
       FDIERROR_CORRUPT_CABINET},
      {"next cabinet name of 256 bytes", false,
       [](Scene& s) { s.a.next_cabinet = std::string(256, 'c'); }, FDIERROR_CORRUPT_CABINET},
      {"folder index one past the last folder", false,
       [](Scene& s) { s.a.files[1].folder = 1; }, 0, {}, nullptr},
      {"continued to the next cabinet, no folder at all", false,
       [](Scene& s) { s.a.folders.clear(), s.a.files = {File{"x", 5, 0, ifoldCONTINUED_TO_NEXT}}; },
       FDIERROR_CORRUPT_CABINET},
      {"stored size differs from the record", false,
       [](Scene& s) { s.a.folders[0].blocks[0].uncompressed += 1; }, FDIERROR_MDI_FAIL},
      {"MSZIP block decodes to another size", false,
       [](Scene& s) { s.a.folders[0] = {1, {Stored(std::string("CK\x03\x00", 4), 22)}, {}}; },
       FDIERROR_MDI_FAIL},
      // The last block fails: the next cabinet is asked for.
      {"block larger than the input buffer", false,
       [](Scene& s) { s.a.folders[0].blocks[0] = Stored(std::string(32769, 'x'), 1); },
       FDIERROR_USER_ABORT, {"/0", "/1"}},
      {"too few blocks for the file", false, [](Scene& s) { s.a.files[1].size += 5; },
       FDIERROR_USER_ABORT, {"/0", "/1"}},
      {"checksum differs", false,
       [](Scene& s) { s.a.folders[0].blocks[0].checksum = 0x12345678; }, FDIERROR_USER_ABORT,
       {"/0", "/1"}},
      {"checksum 0 is not tested", false,
       [](Scene& s) { s.a.folders[0].blocks[0].checksum = 0, s.a.folders[0].blocks[0].data[0] = 'F'; },
       0},
      {"decrypt answers -1", false,
       [](Scene& s) { s.decrypt = [](FDIDECRYPT* d) { return d->fdidt == fdidtDECRYPT ? -1 : 0; }; },
       FDIERROR_USER_ABORT},
      {"cabinet info answered -1", false,
       [](Scene& s) { AnswerTo(fdintCABINET_INFO, -1, s.rec); }, FDIERROR_USER_ABORT},
      {"enumerate answered -1", false, [](Scene& s) { AnswerTo(fdintENUMERATE, -1, s.rec); },
       FDIERROR_USER_ABORT},
      {"copy answered -1", false, [](Scene& s) { AnswerTo(fdintCOPY_FILE, -1, s.rec); },
       FDIERROR_USER_ABORT},
      {"close answered -1", false, [](Scene& s) { AnswerTo(fdintCLOSE_FILE_INFO, -1, s.rec); },
       FDIERROR_USER_ABORT},
      {"close answered 0", false, [](Scene& s) { AnswerTo(fdintCLOSE_FILE_INFO, 0, s.rec); },
       FDIERROR_TARGET_FILE},
      {"short write (the decoder closes the output itself)", false,
       [](Scene&) { Harness::Get().output_limit = 4; }, FDIERROR_TARGET_FILE},
      // Cabinet sets.
      {"the set", true, [](Scene&) {}, 0, {"b.cab/0"}},
      {"next cabinet missing, the repeated request refused", true,
       [](Scene& s) { s.b_dir = "/nowhere/"; }, FDIERROR_USER_ABORT, {"b.cab/0", "b.cab/1"}, "f1"},
      {"next cabinet found elsewhere on the second request", true,
       [](Scene& s) {
         s.b_dir = "/other/";
         s.rec.hook = [](FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n) -> INT_PTR {
           if (kind != fdintNEXT_CABINET || n->fdie == FDIERROR_NONE) return Recorder::kDefault;
           std::snprintf(n->psz3, 257, "%s", "/other/");
           return 0;
         };
       },
       FDIERROR_CABINET_OPEN, {"b.cab/0", "b.cab/1"}, nullptr, true},
      {"other set", true, [](Scene& s) { s.b.set_id += 1; }, FDIERROR_USER_ABORT,
       {"b.cab/0", "b.cab/10"}},
      {"other index", true, [](Scene& s) { s.b.index = 2; }, FDIERROR_USER_ABORT,
       {"b.cab/0", "b.cab/10"}},
      {"other data reserve", true,
       [](Scene& s) { s.b.reserve_present = true, s.b.data_reserve = 2; }, FDIERROR_USER_ABORT,
       {"b.cab/0", "b.cab/9"}},
      {"next is not a cabinet", true, [](Scene& s) { s.b.version_minor = 2; },
       FDIERROR_USER_ABORT, {"b.cab/0", "b.cab/3"}},
      {"continued file before the current block", true,
       [](Scene& s) {
         s.b.files.insert(s.b.files.begin() + 1, File{"again", 300, 100, ifoldCONTINUED_FROM_PREV});
       },
       FDIERROR_CORRUPT_CABINET, {"b.cab/0"}},
      {"folder ends without a next cabinet", true, [](Scene& s) { s.a.next_cabinet.reset(); },
       FDIERROR_USER_ABORT, {"/0", "/1"}},
      {"damaged last block, the rest in the next cabinet", true,
       [f1, f2](Scene& s) {
         s.a.folders[0].blocks = {Stored(f1 + f2.substr(0, 100), 200), Stored("junk", 100)};
         s.a.folders[0].blocks[1].checksum = 1;
         s.b.folders[0].blocks = {Stored(f2.substr(100), 400)};
       },
       FDIERROR_CORRUPT_CABINET, {"b.cab/0"}, nullptr, true},
      {"the cabinet will not close before the next one", true,
       [](Scene&) { Harness::Get().fail_close = 1; }, FDIERROR_CORRUPT_CABINET},
      // A block count too small with the blocks following in this cabinet: read on.
      {"block count too small", false,
       [f2](Scene& s) {
         s.a = CabBuilder();
         s.a.AddFiles(s.a.AddStoredFolder(f2, 100), {{"f2", f2}});
         s.a.folders[0].block_count = 1;
       },
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Scene s;
    s.a = row.set ? set.a : TwoFiles(), s.b = set.b;
    Harness& h = Harness::Get();
    h.files.clear(), h.output_limit = UINT64_MAX, h.fail_close = 0;
    row.change(s);
    Put("a.cab", s.a.Build());
    Put("b.cab", s.b.Build(), s.b_dir);
    EXPECT_EQ(Copy(s.rec, s.cab, s.decrypt), row.error == 0 || row.ok);
    EXPECT_EQ(erf_.erfOper, row.error) << FDIErrorText(erf_.erfOper);
    EXPECT_EQ(erf_.erfType, row.type);
    EXPECT_EQ(s.rec.Of("next"), row.requests);
    EXPECT_EQ(Harness::Get().open_handles, 0);
    if (row.names) { EXPECT_EQ(s.rec.Names(), Names{row.names}); }
    if (row.error != 0 && !row.ok) continue;
    std::string folder = row.set ? f1 + f2 : "";  // folder 0 uncompressed
    for (const DataBlock& block : row.set ? std::vector<DataBlock>{} : s.a.folders[0].blocks)
      folder += block.data;
    Names want, digests;
    for (const File& f : s.a.files) {
      if (f.folder >= s.a.folders.size() && f.folder != ifoldCONTINUED_TO_NEXT) continue;
      want.push_back(f.name);
      digests.push_back(Sha256Hex(folder.substr(f.offset, f.size)));
    }
    EXPECT_EQ(s.rec.Names(), want);
    for (size_t i = 0; i < want.size() && i < s.rec.files.size(); ++i)
      EXPECT_EQ(s.rec.files[i].sha256, digests[i]) << want[i];
  }
}

TEST_F(ContainerTest, ReserveAreasAreSkippedAndHandedToDecrypt) {
  CabBuilder cab;
  cab.reserve_present = true;
  cab.header_reserve = "HEADER-RESERVE";
  cab.folder_reserve = 5;
  cab.data_reserve = 3;
  cab.AddFiles(cab.AddStoredFolder("abcdefgh", 3), {{"x", "abcdefgh"}});
  static std::string seen;
  seen.clear();
  auto decrypt = [](FDIDECRYPT* d) -> int {
    if (d->fdidt == fdidtNEW_CABINET) {
      seen += std::string(static_cast<char*>(d->cabinet.pHeaderReserve), d->cabinet.cbHeaderReserve);
    } else if (d->fdidt == fdidtNEW_FOLDER) {
      seen += "|folder " + std::to_string(d->folder.cbFolderReserve);
    } else {
      seen += "|" + std::to_string(d->decrypt.cbDataReserve) + ":" +
              std::string(static_cast<char*>(d->decrypt.pbData), d->decrypt.cbData);
    }
    return 0;
  };
  Recorder rec;
  ASSERT_TRUE(CopyBytes(cab.Build(), rec, decrypt)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 1u);
  EXPECT_EQ(rec.files[0].sha256, Sha256Hex("abcdefgh"));
  EXPECT_EQ(seen, "HEADER-RESERVE|folder 5|3:abc|3:def|3:gh");
}

TEST_F(ContainerTest, SkippedFilesEmptyFilesAndFolderSwitches) {
  // Answering 0 skips a file without reading a block; zero-size files need none.
  CabBuilder cab = TwoFiles();
  cab.folders[0].blocks[0].checksum = 0xDEADBEEF;  // reading it would fail
  cab.files.push_back(File{"empty", 0, 0, 0});
  Recorder skip;
  skip.only = {"empty"};
  ASSERT_TRUE(CopyBytes(cab.Build(), skip)) << erf_.erfOper;
  EXPECT_EQ(skip.Of("copy").size(), 3u);
  ASSERT_EQ(skip.files.size(), 1u);
  EXPECT_EQ(skip.files[0].sha256, Sha256Hex(""));

  // A file before the current block restarts the folder; decoders switch between folders.
  const std::string a = Payload(50000, 1), b = Payload(30000, 2), c = Payload(1000, 4),
                    d = Payload(70000, 5);
  cab = CabBuilder();
  cab.AddFiles(cab.AddMszipFolder(a + b), {{"a", a}, {"b", b}});
  std::swap(cab.files[0], cab.files[1]);
  cab.AddFiles(cab.AddStoredFolder(c, 300), {{"c", c}});
  cab.AddFiles(cab.AddMszipFolder(d), {{"d", d}});
  static int folders_opened;
  folders_opened = 0;
  auto count = [](FDIDECRYPT* x) { return folders_opened += x->fdidt == fdidtNEW_FOLDER, 0; };
  Recorder mixed;
  ASSERT_TRUE(CopyBytes(cab.Build(), mixed, count)) << erf_.erfOper;
  EXPECT_EQ(mixed.Names(), (Names{"b", "a", "c", "d"}));
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(mixed.files[i].sha256, Sha256Hex(std::vector{b, a, c, d}[i])) << i;
  EXPECT_EQ(folders_opened, 4) << "folder 0 twice, then 1 and 2";
}

TEST_F(ContainerTest, EveryAllocationFailureIsReportedAndLeaksNothing) {
  const std::string a = Payload(40000, 6);
  CabBuilder cab;
  cab.reserve_present = true;
  cab.header_reserve = "hr";
  cab.AddFiles(cab.AddMszipFolder(a), {{"a", a}});
  const std::string bytes = cab.Build();
  FDIDestroy(hfdi_), hfdi_ = nullptr;
  for (int n = 0;; ++n) {
    SCOPED_TRACE(n);
    Harness::Get().Reset();
    Put("a.cab", bytes);
    Harness::Get().fail_allocation = n;
    ERF erf{};
    HFDI h = MakeTestContext(&erf);
    Recorder rec;
    const bool ok = h && rec.Copy(h, "/mem/", "a.cab");
    if (h) FDIDestroy(h);
    EXPECT_EQ(Harness::Get().live_blocks, 0);
    EXPECT_EQ(Harness::Get().open_handles, 0);
    if (ok) {
      ASSERT_EQ(rec.files.size(), 1u);
      EXPECT_EQ(rec.files[0].sha256, Sha256Hex(a));
      EXPECT_GT(n, 2);
      break;
    }
    EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
    EXPECT_EQ(erf.fError, 1);
    ASSERT_LT(n, 50);
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
