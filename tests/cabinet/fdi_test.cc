// Container rules of the cabinet reader, on cabinets built byte by byte.
#include <gtest/gtest.h>

#include "cab_builder.h"
#include "fdi_harness.h"
#include "support/sha256.h"

namespace kestrin::cab::testing {
namespace {

using kestrin::testing::Sha256Hex;

const std::string kDir = "/mem/";

class FdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Harness::Get().Reset();
    Harness::Get().allow_disk = false;
    hfdi_ = MakeTestContext(&erf_);
    ASSERT_NE(hfdi_, nullptr);
  }
  void TearDown() override {
    if (hfdi_) {
      EXPECT_TRUE(FDIDestroy(hfdi_));
    }
    EXPECT_EQ(Harness::Get().open_handles, 0) << "handles left open";
    EXPECT_EQ(Harness::Get().live_blocks, 0) << "memory left behind";
  }
  void Put(const std::string& name, const std::string& bytes) { Harness::Get().files[kDir + name] = bytes; }
  bool Copy(Recorder& rec, const std::string& name, PFNFDIDECRYPT decrypt = nullptr) {
    return rec.Copy(hfdi_, kDir, name, decrypt);
  }
  // Copies `bytes` as a.cab with a default recorder.
  bool CopyBytes(const std::string& bytes, Recorder& rec) {
    Put("a.cab", bytes);
    return Copy(rec, "a.cab");
  }

  ERF erf_{};
  HFDI hfdi_ = nullptr;
};

// A stored cabinet of two files in one folder.
CabBuilder TwoFiles(const std::string& a = "first file\n", const std::string& b = "second one\n") {
  CabBuilder cab;
  const int folder = cab.AddStoredFolder(a + b);
  cab.AddFiles(folder, {{"a.txt", a}, {"b.txt", b}});
  return cab;
}

// --- Interface ---------------------------------------------------------------

TEST_F(FdiTest, CreateAndCopyRejectNullArguments) {
  EXPECT_EQ(FDICreate(TestAlloc(), TestFree(), TestOpen, nullptr, nullptr, nullptr, nullptr, 1, nullptr),
            nullptr);
  EXPECT_FALSE(FDIDestroy(nullptr));
  erf_ = ERF{7, 7, 1};
  Put("a.cab", TwoFiles().Build());
  EXPECT_FALSE(FDICopy(nullptr, "a.cab", kDir.c_str(), 0, Recorder::Notify, nullptr, nullptr));
  EXPECT_FALSE(FDICopy(hfdi_, "a.cab", kDir.c_str(), 0, nullptr, nullptr, nullptr));
  EXPECT_EQ(erf_.erfOper, 7) << "a refused call leaves the error record alone";
}

TEST_F(FdiTest, CreateFailsCleanlyWithoutMemory) {
  Harness::Get().fail_allocation = static_cast<int>(Harness::Get().allocations);
  ERF erf{3, 3, 0};
  EXPECT_EQ(MakeTestContext(&erf), nullptr);
  EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
  EXPECT_EQ(erf.erfType, 0);
  EXPECT_EQ(erf.fError, 1);
}

TEST_F(FdiTest, ExtractsFilesWithTheirRecordFields) {
  CabBuilder cab = TwoFiles();
  cab.files[1].attribs = 0x41;  // read-only + execute
  cab.files[1].date = 0x1234;
  cab.files[1].time = 0x5678;
  Recorder rec;
  ASSERT_TRUE(CopyBytes(cab.Build(), rec)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 2u);
  EXPECT_EQ(rec.files[0].name, "a.txt");
  EXPECT_EQ(rec.files[0].sha256, Sha256Hex("first file\n"));
  EXPECT_EQ(rec.files[0].exec, 0);
  EXPECT_EQ(rec.files[1].sha256, Sha256Hex("second one\n"));
  EXPECT_EQ(rec.files[1].attribs, 0x01) << "execute bit moves into cb";
  EXPECT_EQ(rec.files[1].exec, 1);
  EXPECT_EQ(rec.files[1].date, 0x1234);
  EXPECT_EQ(rec.files[1].time, 0x5678);
  // Notification order: cabinet info, enumerate, copy/close per file, enumerate.
  std::vector<FDINOTIFICATIONTYPE> kinds;
  for (const Event& e : rec.events) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<FDINOTIFICATIONTYPE>{fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE,
                                                     fdintCLOSE_FILE_INFO, fdintCOPY_FILE,
                                                     fdintCLOSE_FILE_INFO, fdintENUMERATE}));
  EXPECT_EQ(rec.events[0].psz3, kDir);
  EXPECT_EQ(rec.events[0].setID, cab.set_id);
  EXPECT_EQ(rec.events[1].iFolder, 2) << "entries still to read";
  EXPECT_EQ(rec.events[2].cb, 11);
  EXPECT_EQ(rec.events.back().iFolder, 0);
  EXPECT_EQ(erf_.fError, 0);
}

TEST_F(FdiTest, ContextServesSeveralCopiesAndKeepsTheLastError) {
  Recorder bad;
  Put("bad.cab", "not a cabinet at all, not at all, not at all, no");
  EXPECT_FALSE(Copy(bad, "bad.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_NOT_A_CABINET);
  Recorder good;
  ASSERT_TRUE(CopyBytes(TwoFiles().Build(), good));
  EXPECT_EQ(good.files.size(), 2u);
  EXPECT_EQ(erf_.erfOper, FDIERROR_NOT_A_CABINET) << "success does not clear the record";
  EXPECT_EQ(erf_.fError, 1);
}

// --- Header ------------------------------------------------------------------

struct HeaderCase {
  const char* what;
  std::function<void(CabBuilder&)> change;
  int32_t error;
  int32_t type;
};

TEST_F(FdiTest, HeaderRules) {
  const std::vector<HeaderCase> cases = {
      {"version 1.2", [](CabBuilder& c) { c.version_minor = 2; }, FDIERROR_UNKNOWN_CABINET_VERSION, 0x0102},
      {"version 1.4", [](CabBuilder& c) { c.version_minor = 4; }, FDIERROR_UNKNOWN_CABINET_VERSION, 0x0104},
      {"version 2.3", [](CabBuilder& c) { c.version_major = 2; }, FDIERROR_UNKNOWN_CABINET_VERSION, 0x0203},
      {"header reserve 60000",
       [](CabBuilder& c) {
         c.reserve_present = true;
         c.header_reserve.assign(60000, 'r');
       },
       0, 0},
      {"header reserve 60001",
       [](CabBuilder& c) {
         c.reserve_present = true;
         c.header_reserve.assign(60001, 'r');
       },
       FDIERROR_NOT_A_CABINET, 0},
      {"reserve sizes present, all 0", [](CabBuilder& c) { c.reserve_present = true; }, 0, 0},
      {"folder method 4", [](CabBuilder& c) { c.folders[0].type = 4; }, FDIERROR_BAD_COMPR_TYPE, 0},
      {"folder method 15", [](CabBuilder& c) { c.folders[0].type = 15; }, FDIERROR_BAD_COMPR_TYPE, 0},
      {"file count beyond the entries", [](CabBuilder& c) { c.file_count = 2; }, FDIERROR_CORRUPT_CABINET, 0},
  };
  for (const HeaderCase& hc : cases) {
    SCOPED_TRACE(hc.what);
    CabBuilder cab;
    const int folder = cab.AddStoredFolder("payload");
    cab.AddFiles(folder, {{"p.txt", "payload"}});
    hc.change(cab);
    Recorder rec;
    erf_ = ERF{};
    const bool ok = CopyBytes(cab.Build(), rec);
    EXPECT_EQ(ok, hc.error == 0);
    EXPECT_EQ(erf_.erfOper, hc.error);
    EXPECT_EQ(erf_.erfType, hc.type);
    if (hc.error == 0) {
      ASSERT_EQ(rec.files.size(), 1u);
      EXPECT_EQ(rec.files[0].sha256, Sha256Hex("payload"));
    }
  }
}

TEST_F(FdiTest, ShortOrForeignFilesAreNotCabinets) {
  const std::string good = TwoFiles().Build();
  for (size_t len : {size_t{0}, size_t{4}, size_t{35}}) {
    Recorder rec;
    EXPECT_FALSE(CopyBytes(good.substr(0, len), rec)) << len;
    EXPECT_EQ(erf_.erfOper, FDIERROR_NOT_A_CABINET) << len;
  }
  std::string wrong = good;
  wrong[0] = 'm';
  Recorder rec;
  EXPECT_FALSE(CopyBytes(wrong, rec));
  EXPECT_EQ(erf_.erfOper, FDIERROR_NOT_A_CABINET);
  Recorder missing;
  EXPECT_FALSE(Copy(missing, "nowhere.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CABINET_OPEN);
}

TEST_F(FdiTest, ReserveAreasAreSkippedAndHandedToDecrypt) {
  CabBuilder cab;
  cab.reserve_present = true;
  cab.header_reserve = "HEADER-RESERVE";
  cab.folder_reserve = 5;
  cab.data_reserve = 3;
  const int folder = cab.AddStoredFolder("abcdefgh", 3);
  cab.AddFiles(folder, {{"x", "abcdefgh"}});
  Put("a.cab", cab.Build());
  struct Seen {
    std::vector<int> kinds;
    std::string header_reserve;
    int folder_reserve = 0, data_reserve = 0;
    std::string data;
  };
  static Seen seen;
  seen = Seen{};
  auto decrypt = [](FDIDECRYPT* d) -> int {
    seen.kinds.push_back(d->fdidt);
    if (d->fdidt == fdidtNEW_CABINET) {
      seen.header_reserve.assign(static_cast<char*>(d->cabinet.pHeaderReserve), d->cabinet.cbHeaderReserve);
    } else if (d->fdidt == fdidtNEW_FOLDER) {
      seen.folder_reserve = d->folder.cbFolderReserve;
    } else {
      seen.data_reserve = d->decrypt.cbDataReserve;
      seen.data.append(static_cast<char*>(d->decrypt.pbData), d->decrypt.cbData);
    }
    return 0;
  };
  Recorder rec;
  ASSERT_TRUE(Copy(rec, "a.cab", decrypt)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 1u);
  EXPECT_EQ(rec.files[0].sha256, Sha256Hex("abcdefgh"));
  EXPECT_EQ(seen.kinds, (std::vector<int>{0, 1, 2, 2, 2}));
  EXPECT_EQ(seen.header_reserve, "HEADER-RESERVE");
  EXPECT_EQ(seen.folder_reserve, 5);
  EXPECT_EQ(seen.data_reserve, 3);
  EXPECT_EQ(seen.data, "abcdefgh");

  // A decrypt callback answering -1 aborts.
  auto refuse = [](FDIDECRYPT* d) -> int { return d->fdidt == fdidtDECRYPT ? -1 : 0; };
  Recorder aborted;
  EXPECT_FALSE(Copy(aborted, "a.cab", refuse));
  EXPECT_EQ(erf_.erfOper, FDIERROR_USER_ABORT);
}

TEST_F(FdiTest, NamesOf255CharactersAreReadAndLongerOnesAreCorrupt) {
  const std::string n255(255, 'n');
  CabBuilder ok_cab;
  int folder = ok_cab.AddStoredFolder("x");
  ok_cab.AddFiles(folder, {{n255, "x"}});
  Recorder rec;
  ASSERT_TRUE(CopyBytes(ok_cab.Build(), rec)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 1u);
  EXPECT_EQ(rec.files[0].name, n255);

  CabBuilder bad_cab;
  folder = bad_cab.AddStoredFolder("x");
  bad_cab.AddFiles(folder, {{std::string(256, 'n'), "x"}});
  Recorder bad;
  EXPECT_FALSE(CopyBytes(bad_cab.Build(), bad));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CORRUPT_CABINET);

  // The same for the set names in the header.
  CabBuilder long_next = TwoFiles();
  long_next.next_cabinet = std::string(256, 'c');
  Recorder header;
  EXPECT_FALSE(CopyBytes(long_next.Build(), header));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CORRUPT_CABINET);
  EXPECT_EQ(header.events.size(), 0u);
}

// --- File entries and folders --------------------------------------------------

TEST_F(FdiTest, FolderIndexOutOfRangeIsPassedOverSilently) {
  CabBuilder cab = TwoFiles();
  File ghost = cab.files[0];
  ghost.name = "ghost";
  ghost.folder = 1;  // only folder 0 exists
  cab.files.insert(cab.files.begin() + 1, ghost);
  File far = ghost;
  far.name = "far";
  far.folder = 0xFFFB;
  cab.files.push_back(far);
  Recorder rec;
  ASSERT_TRUE(CopyBytes(cab.Build(), rec)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 2u);
  for (const Event& e : rec.events) EXPECT_TRUE(e.psz1 != "ghost" && e.psz1 != "far") << e.kind;
}

TEST_F(FdiTest, ChecksumsAreTestedUnlessZero) {
  CabBuilder cab = TwoFiles();
  cab.folders[0].blocks[0].data[0] = 'F';  // damage the data, keep the old checksum
  cab.folders[0].blocks[0].checksum = BuilderChecksum(
      std::string("\x16\x00\x16\x00", 4), BuilderChecksum("first file\nsecond one\n", 0));
  Recorder bad;
  EXPECT_FALSE(CopyBytes(cab.Build(), bad));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CORRUPT_CABINET);
  EXPECT_TRUE(bad.files.empty());

  cab.folders[0].blocks[0].checksum = 0;  // 0: not tested
  Recorder unchecked;
  ASSERT_TRUE(CopyBytes(cab.Build(), unchecked)) << erf_.erfOper;
  ASSERT_EQ(unchecked.files.size(), 2u);
  EXPECT_EQ(unchecked.files[0].sha256, Sha256Hex("First file\n"));
}

TEST_F(FdiTest, AnsweringZeroListsWithoutReadingABlock) {
  CabBuilder cab = TwoFiles();
  cab.folders[0].blocks[0].checksum = 0xDEADBEEF;  // reading it would fail
  Recorder rec;
  rec.accept_files = false;
  ASSERT_TRUE(CopyBytes(cab.Build(), rec)) << erf_.erfOper;
  EXPECT_EQ(rec.Count(fdintCOPY_FILE), 2);
  EXPECT_TRUE(rec.files.empty());
  EXPECT_EQ(erf_.fError, 0);
}

TEST_F(FdiTest, ZeroSizeFilesAreClosedWithoutData) {
  CabBuilder cab;
  const int folder = cab.AddStoredFolder("data");
  cab.folders[folder].blocks[0].checksum = 0xDEADBEEF;  // never read
  cab.AddFiles(folder, {{"empty1", ""}, {"empty2", ""}});
  Recorder rec;
  ASSERT_TRUE(CopyBytes(cab.Build(), rec)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 2u);
  EXPECT_EQ(rec.files[0].size, 0u);
  EXPECT_EQ(rec.files[1].sha256, Sha256Hex(""));
}

TEST_F(FdiTest, FileBeforeTheCurrentBlockRestartsTheFolder) {
  const std::string a = Payload(50000, 1), b = Payload(30000, 2);
  CabBuilder cab;
  const int folder = cab.AddMszipFolder(a + b);
  cab.AddFiles(folder, {{"a", a}, {"b", b}});
  std::swap(cab.files[0], cab.files[1]);  // b (offset 50000) first, then a (offset 0)
  Put("a.cab", cab.Build());
  static int folders_opened;
  folders_opened = 0;
  auto decrypt = [](FDIDECRYPT* d) -> int {
    folders_opened += d->fdidt == fdidtNEW_FOLDER;
    return 0;
  };
  Recorder rec;
  ASSERT_TRUE(Copy(rec, "a.cab", decrypt)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 2u);
  EXPECT_EQ(rec.files[0].sha256, Sha256Hex(b));
  EXPECT_EQ(rec.files[1].sha256, Sha256Hex(a));
  EXPECT_EQ(folders_opened, 2);

  // In folder order no restart is needed.
  std::swap(cab.files[0], cab.files[1]);
  Put("a.cab", cab.Build());
  folders_opened = 0;
  Recorder in_order;
  ASSERT_TRUE(Copy(in_order, "a.cab", decrypt));
  EXPECT_EQ(folders_opened, 1);
}

TEST_F(FdiTest, SwitchesDecodersBetweenFolders) {
  const std::string a = Payload(40000, 3), b = Payload(1000, 4), c = Payload(70000, 5);
  CabBuilder cab;
  const int f0 = cab.AddMszipFolder(a);
  const int f1 = cab.AddStoredFolder(b, 300);
  const int f2 = cab.AddMszipFolder(c);
  cab.AddFiles(f0, {{"a", a}});
  cab.AddFiles(f1, {{"b", b}});
  cab.AddFiles(f2, {{"c", c}});
  Recorder rec;
  ASSERT_TRUE(CopyBytes(cab.Build(), rec)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 3u);
  EXPECT_EQ(rec.files[0].sha256, Sha256Hex(a));
  EXPECT_EQ(rec.files[1].sha256, Sha256Hex(b));
  EXPECT_EQ(rec.files[2].sha256, Sha256Hex(c));
}

struct BlockCase {
  const char* what;
  std::function<void(CabBuilder&)> change;
  int32_t error;
};

TEST_F(FdiTest, DataBlockRules) {
  const std::vector<BlockCase> cases = {
      {"stored size differs from the record",
       [](CabBuilder& c) { c.folders[0].blocks[0].uncompressed += 1; }, FDIERROR_MDI_FAIL},
      {"MSZIP block decodes to another size",
       [](CabBuilder& c) {
         c.folders[0].type = 1;
         c.folders[0].blocks[0].data = std::string("CK\x03\x00", 4);  // empty fixed block
       },
       FDIERROR_MDI_FAIL},
      {"MSZIP block without CK",
       [](CabBuilder& c) {
         c.folders[0].type = 1;
         c.folders[0].blocks[0].data = std::string("XK\x03\x00", 4);
       },
       FDIERROR_MDI_FAIL},
      {"block larger than the input buffer",
       [](CabBuilder& c) {
         c.folders[0].blocks[0].data.assign(32769, 'x');
         c.folders[0].blocks[0].uncompressed = 32769 & 0xFFFF;
       },
       FDIERROR_CORRUPT_CABINET},
      {"too few blocks for the file",
       [](CabBuilder& c) { c.files[1].size += 5; }, FDIERROR_CORRUPT_CABINET},
  };
  for (const BlockCase& bc : cases) {
    SCOPED_TRACE(bc.what);
    CabBuilder cab = TwoFiles();
    bc.change(cab);
    Recorder rec;
    erf_ = ERF{};
    EXPECT_FALSE(CopyBytes(cab.Build(), rec));
    EXPECT_EQ(erf_.erfOper, bc.error) << FDIErrorText(erf_.erfOper);
    EXPECT_EQ(Harness::Get().open_handles, 0);
  }
}

// --- Answers of the notification callback -------------------------------------

TEST_F(FdiTest, CallbackAnswers) {
  struct AnswerCase {
    const char* what;
    FDINOTIFICATIONTYPE kind;
    INT_PTR answer;
    int32_t error;
  };
  const std::vector<AnswerCase> cases = {
      {"abort at cabinet info", fdintCABINET_INFO, -1, FDIERROR_USER_ABORT},
      {"abort at enumerate", fdintENUMERATE, -1, FDIERROR_USER_ABORT},
      {"abort at copy", fdintCOPY_FILE, -1, FDIERROR_USER_ABORT},
      {"abort at close", fdintCLOSE_FILE_INFO, -1, FDIERROR_USER_ABORT},
      {"close answers 0", fdintCLOSE_FILE_INFO, 0, FDIERROR_TARGET_FILE},
  };
  for (const AnswerCase& ac : cases) {
    SCOPED_TRACE(ac.what);
    Recorder rec;
    rec.hook = [&](FDINOTIFICATIONTYPE kind, FDINOTIFICATION*) -> INT_PTR {
      return kind == ac.kind ? ac.answer : Recorder::kDefault;
    };
    erf_ = ERF{};
    EXPECT_FALSE(CopyBytes(TwoFiles().Build(), rec));
    EXPECT_EQ(erf_.erfOper, ac.error);
    EXPECT_EQ(Harness::Get().open_handles, 0);
  }
}

TEST_F(FdiTest, ShortWriteFailsTheTargetFile) {
  Harness::Get().output_limit = 4;
  Recorder rec;
  EXPECT_FALSE(CopyBytes(TwoFiles().Build(), rec));
  EXPECT_EQ(erf_.erfOper, FDIERROR_TARGET_FILE);
  EXPECT_EQ(Harness::Get().open_handles, 0) << "the decoder closes the output itself";
}

TEST_F(FdiTest, EnumerateMayAskForMoreEntries) {
  Recorder rec;
  int32_t first_entry = -1;
  int rounds = 0;
  rec.hook = [&](FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n) -> INT_PTR {
    if (kind != fdintENUMERATE) return Recorder::kDefault;
    if (first_entry < 0) first_entry = n->cb;
    if (n->iFolder == 0 && rounds++ == 0) {
      n->cb = first_entry;  // once more from the top, one entry
      n->iFolder = 1;
    }
    return 0;
  };
  ASSERT_TRUE(CopyBytes(TwoFiles().Build(), rec)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 3u);
  EXPECT_EQ(rec.files[2].name, "a.txt");
  EXPECT_EQ(rec.files[2].sha256, rec.files[0].sha256);
}

TEST_F(FdiTest, EveryAllocationFailureIsReportedAndLeaksNothing) {
  const std::string a = Payload(40000, 6);
  CabBuilder cab;
  cab.reserve_present = true;
  cab.header_reserve = "hr";
  cab.AddMszipFolder(a);
  cab.AddFiles(0, {{"a", a}});
  const std::string bytes = cab.Build();
  FDIDestroy(hfdi_);
  hfdi_ = nullptr;
  for (int n = 0;; ++n) {
    SCOPED_TRACE(n);
    Harness::Get().Reset();
    Harness::Get().allow_disk = false;
    Harness::Get().files[kDir + "a.cab"] = bytes;
    Harness::Get().fail_allocation = n;
    ERF erf{};
    HFDI h = MakeTestContext(&erf);
    if (!h) {
      EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
      continue;
    }
    Recorder rec;
    const bool ok = rec.Copy(h, kDir, "a.cab");
    FDIDestroy(h);
    EXPECT_EQ(Harness::Get().live_blocks, 0);
    EXPECT_EQ(Harness::Get().open_handles, 0);
    if (ok) {
      ASSERT_EQ(rec.files.size(), 1u);
      EXPECT_EQ(rec.files[0].sha256, Sha256Hex(a));
      break;
    }
    EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
    ASSERT_LT(n, 50);
  }
}

// --- Listing -------------------------------------------------------------------

TEST_F(FdiTest, ListingReportsEachEntryWithItsMethod) {
  CabBuilder cab;
  cab.AddMszipFolder("abc");
  cab.AddStoredFolder("def");
  cab.folders.push_back(Folder{static_cast<uint16_t>(0x1503), {}, {}});  // LZX:21
  cab.folders.push_back(Folder{static_cast<uint16_t>(0x1572), {}, {}});  // QTM:7/21
  cab.AddFiles(0, {{"m", "abc"}});
  cab.AddFiles(1, {{"s", "def"}});
  cab.files.push_back(File{"l", 0, 0, 2});
  cab.files.push_back(File{"q", 0, 0, 3});
  cab.files.push_back(File{"x", 0, 0, 9});
  Put("a.cab", cab.Build());
  struct Listed {
    std::vector<std::string> lines;
  } listed;
  auto list = [](const FDILISTENTRY* e) -> INT_PTR {
    auto* out = static_cast<Listed*>(e->pv);
    char method[32];
    if (e->kind == fdilistCABINET) {
      out->lines.push_back("cabinet " + std::to_string(e->cabinet->cFolders) + "/" +
                           std::to_string(e->cabinet->cFiles));
    } else if (e->kind == fdilistFOLDER) {
      out->lines.push_back("folder " + std::string(FDICompressionName(e->folder->typeCompress, method, 32)));
    } else {
      out->lines.push_back(std::string(e->file->pszName) + " " +
                           (e->file->folderInRange ? FDICompressionName(e->file->typeCompress, method, 32)
                                                   : "-"));
    }
    return 0;
  };
  ASSERT_TRUE(FDIListCabinet(hfdi_, "a.cab", kDir.c_str(), list, &listed)) << erf_.erfOper;
  EXPECT_EQ(listed.lines,
            (std::vector<std::string>{"cabinet 4/5", "folder MSZIP", "folder NONE", "folder LZX:21",
                                      "folder QTM:7/21", "m MSZIP", "s NONE", "l LZX:21", "q QTM:7/21",
                                      "x -"}));
  char buf[16];
  EXPECT_STREQ(FDICompressionName(0x0007, buf, sizeof buf), "UNKNOWN7");
  EXPECT_STREQ(FDIErrorText(FDIERROR_CORRUPT_CABINET), "corrupt cabinet");

  Harness::Get().files[kDir + "v.cab"] = [] {
    CabBuilder v = TwoFiles();
    v.version_minor = 4;
    return v.Build();
  }();
  EXPECT_FALSE(FDIListCabinet(hfdi_, "v.cab", kDir.c_str(), list, &listed));
  EXPECT_EQ(erf_.erfOper, FDIERROR_UNKNOWN_CABINET_VERSION);
  EXPECT_EQ(erf_.erfType, 0x0104);
}

}  // namespace
}  // namespace kestrin::cab::testing
