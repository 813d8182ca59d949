// Container rules of the cabinet reader on cabinets built byte by byte:
// header, reserve areas, names, folders, checksums, notification answers,
// allocation failures, and cabinet sets: a folder that runs out of blocks,
// continues in the next cabinet or fails there. Real cabinets are in
// corpus_test.cc and tests/bundle/kestrin_cab_test.cc.
#include <gtest/gtest.h>

#include "support/cab_builder.h"
#include "fdi_harness.h"
#include "support/sha256.h"

namespace kestrin::cab::testing {
namespace {

using kestrin::testing::Sha256Hex;
const std::string kDir = "/mem/";

class ContainerTest : public FdiTest {
 protected:
  bool CopyBytes(const std::string& bytes, Recorder& rec) {
    Put("a.cab", bytes);
    return Copy(rec, "a.cab");
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
  cab.files[1].attribs = 0x41;  // read-only + execute
  cab.files[1].date = 0x1234;
  cab.files[1].time = 0x5678;
  Recorder rec;
  ASSERT_TRUE(CopyBytes(cab.Build(), rec)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 2u);
  EXPECT_EQ(rec.files[0].sha256, Sha256Hex("first file\n"));
  EXPECT_EQ(rec.files[0].exec, 0);
  EXPECT_EQ(rec.files[1].sha256, Sha256Hex("second one\n"));
  EXPECT_EQ(rec.files[1].attribs, 0x01) << "execute bit moves into cb";
  EXPECT_EQ(rec.files[1].exec, 1);
  EXPECT_EQ(rec.files[1].date, 0x1234);
  EXPECT_EQ(rec.files[1].time, 0x5678);
  std::vector<FDINOTIFICATIONTYPE> kinds;
  for (const Event& e : rec.events) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<FDINOTIFICATIONTYPE>{
                       fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE, fdintCLOSE_FILE_INFO,
                       fdintCOPY_FILE, fdintCLOSE_FILE_INFO, fdintENUMERATE}));
  EXPECT_EQ(rec.events[0].psz3, kDir);
  EXPECT_EQ(rec.events[0].setID, cab.set_id);
  EXPECT_EQ(rec.events[1].iFolder, 2) << "entries still to read";
  EXPECT_EQ(rec.events[2].cb, 11);
}

struct Change {
  const char* what;
  std::function<void(CabBuilder&)> change;
  int32_t error;
  int32_t type = 0;
};

TEST_F(ContainerTest, HeaderFolderAndBlockRules) {
  const std::vector<Change> cases = {
      {"version 1.2", [](CabBuilder& c) { c.version_minor = 2; }, FDIERROR_UNKNOWN_CABINET_VERSION,
       0x0102},
      {"version 2.3", [](CabBuilder& c) { c.version_major = 2; }, FDIERROR_UNKNOWN_CABINET_VERSION,
       0x0203},
      {"header reserve 60000",
       [](CabBuilder& c) { c.reserve_present = true, c.header_reserve.assign(60000, 'r'); }, 0},
      {"header reserve 60001",
       [](CabBuilder& c) { c.reserve_present = true, c.header_reserve.assign(60001, 'r'); },
       FDIERROR_NOT_A_CABINET},
      {"reserve sizes present, all 0", [](CabBuilder& c) { c.reserve_present = true; }, 0},
      {"folder method 4", [](CabBuilder& c) { c.folders[0].type = 4; }, FDIERROR_BAD_COMPR_TYPE},
      {"file count beyond the entries", [](CabBuilder& c) { c.file_count = 3; },
       FDIERROR_CORRUPT_CABINET},
      {"name of 255 bytes", [](CabBuilder& c) { c.files[1].name.assign(255, 'n'); }, 0},
      {"no terminator in 256 bytes", [](CabBuilder& c) { c.files[1].name.assign(256, 'n'); },
       FDIERROR_CORRUPT_CABINET},
      {"next cabinet name of 256 bytes",
       [](CabBuilder& c) { c.next_cabinet = std::string(256, 'c'); }, FDIERROR_CORRUPT_CABINET},
      {"stored size differs from the record",
       [](CabBuilder& c) { c.folders[0].blocks[0].uncompressed += 1; }, FDIERROR_MDI_FAIL},
      {"MSZIP block decodes to another size",
       [](CabBuilder& c) {
         c.folders[0].type = 1, c.folders[0].blocks[0].data = std::string("CK\x03\x00", 4);
       },
       FDIERROR_MDI_FAIL},
      {"block larger than the input buffer",
       [](CabBuilder& c) {
         c.folders[0].blocks[0].data.assign(32769, 'x'), c.folders[0].blocks[0].uncompressed = 1;
       },
       FDIERROR_USER_ABORT},  // the last block fails: the next cabinet is asked for
      {"too few blocks for the file", [](CabBuilder& c) { c.files[1].size += 5; },
       FDIERROR_USER_ABORT},
      {"checksum differs", [](CabBuilder& c) { c.folders[0].blocks[0].checksum = 0x12345678; },
       FDIERROR_USER_ABORT},
      {"checksum 0 is not tested",
       [](CabBuilder& c) {
         c.folders[0].blocks[0].checksum = 0, c.folders[0].blocks[0].data[0] = 'F';
       },
       0},
  };
  for (const Change& c : cases) {
    SCOPED_TRACE(c.what);
    CabBuilder cab = TwoFiles();
    c.change(cab);
    Recorder rec;
    EXPECT_EQ(CopyBytes(cab.Build(), rec), c.error == 0);
    EXPECT_EQ(erf_.erfOper, c.error) << FDIErrorText(erf_.erfOper);
    EXPECT_EQ(erf_.erfType, c.type);
    if (c.error == 0) {
      ASSERT_EQ(rec.files.size(), 2u);
      EXPECT_EQ(rec.files[0].sha256, Sha256Hex(cab.folders[0].blocks[0].data.substr(0, 11)));
      EXPECT_EQ(rec.files[1].name, cab.files[1].name);
    }
  }
  Recorder missing;
  EXPECT_FALSE(Copy(missing, "nowhere.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CABINET_OPEN);
}

TEST_F(ContainerTest, ReserveAreasAreSkippedAndHandedToDecrypt) {
  CabBuilder cab;
  cab.reserve_present = true;
  cab.header_reserve = "HEADER-RESERVE";
  cab.folder_reserve = 5;
  cab.data_reserve = 3;
  cab.AddFiles(cab.AddStoredFolder("abcdefgh", 3), {{"x", "abcdefgh"}});
  Put("a.cab", cab.Build());
  static std::string seen;
  seen.clear();
  auto decrypt = [](FDIDECRYPT* d) -> int {
    if (d->fdidt == fdidtNEW_CABINET) {
      seen +=
          std::string(static_cast<char*>(d->cabinet.pHeaderReserve), d->cabinet.cbHeaderReserve) +
          "|";
    } else if (d->fdidt == fdidtNEW_FOLDER) {
      seen += "folder " + std::to_string(d->folder.cbFolderReserve) + "|";
    } else {
      seen += std::to_string(d->decrypt.cbDataReserve) + ":" +
              std::string(static_cast<char*>(d->decrypt.pbData), d->decrypt.cbData) + "|";
    }
    return 0;
  };
  Recorder rec;
  ASSERT_TRUE(Copy(rec, "a.cab", decrypt)) << erf_.erfOper;
  ASSERT_EQ(rec.files.size(), 1u);
  EXPECT_EQ(rec.files[0].sha256, Sha256Hex("abcdefgh"));
  EXPECT_EQ(seen, "HEADER-RESERVE|folder 5|3:abc|3:def|3:gh|");
  Recorder aborted;  // a decrypt callback answering -1 aborts
  EXPECT_FALSE(
      Copy(aborted, "a.cab", [](FDIDECRYPT* d) { return d->fdidt == fdidtDECRYPT ? -1 : 0; }));
  EXPECT_EQ(erf_.erfOper, FDIERROR_USER_ABORT);
}

TEST_F(ContainerTest, SkippedFilesEmptyFilesAndFolderSwitches) {
  // Answering 0 skips a file without reading a block; zero-size files need none.
  CabBuilder cab = TwoFiles();
  cab.folders[0].blocks[0].checksum = 0xDEADBEEF;  // reading it would fail
  cab.files.push_back(File{"empty", 0, 0, 0});
  Recorder skip;
  skip.only = {"empty"};
  ASSERT_TRUE(CopyBytes(cab.Build(), skip)) << erf_.erfOper;
  EXPECT_EQ(skip.Count(fdintCOPY_FILE), 3);
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
  Put("a.cab", cab.Build());
  static int folders_opened;
  folders_opened = 0;
  auto count = [](FDIDECRYPT* x) { return folders_opened += x->fdidt == fdidtNEW_FOLDER, 0; };
  Recorder mixed;
  ASSERT_TRUE(Copy(mixed, "a.cab", count)) << erf_.erfOper;
  EXPECT_EQ(mixed.Names(), (std::vector<std::string>{"b", "a", "c", "d"}));
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(mixed.files[i].sha256, Sha256Hex(std::vector{b, a, c, d}[i])) << i;
  EXPECT_EQ(folders_opened, 4) << "folder 0 twice, then 1 and 2";
}

TEST_F(ContainerTest, CallbackAnswersAndShortWrites) {
  struct AnswerCase {
    FDINOTIFICATIONTYPE kind;
    INT_PTR answer;
    int32_t error;
  };
  for (const AnswerCase& ac :
       std::vector<AnswerCase>{{fdintCABINET_INFO, -1, FDIERROR_USER_ABORT},
                               {fdintENUMERATE, -1, FDIERROR_USER_ABORT},
                               {fdintCOPY_FILE, -1, FDIERROR_USER_ABORT},
                               {fdintCLOSE_FILE_INFO, -1, FDIERROR_USER_ABORT},
                               {fdintCLOSE_FILE_INFO, 0, FDIERROR_TARGET_FILE}}) {
    SCOPED_TRACE(ac.kind);
    Recorder rec;
    rec.hook = [&](FDINOTIFICATIONTYPE kind, FDINOTIFICATION*) {
      return kind == ac.kind ? ac.answer : Recorder::kDefault;
    };
    EXPECT_FALSE(CopyBytes(TwoFiles().Build(), rec));
    EXPECT_EQ(erf_.erfOper, ac.error);
    EXPECT_EQ(Harness::Get().open_handles, 0);
  }
  Harness::Get().output_limit = 4;
  Recorder rec;
  EXPECT_FALSE(CopyBytes(TwoFiles().Build(), rec));
  EXPECT_EQ(erf_.erfOper, FDIERROR_TARGET_FILE);
  EXPECT_EQ(Harness::Get().open_handles, 0) << "the decoder closes the output itself";
}

TEST_F(ContainerTest, EveryAllocationFailureIsReportedAndLeaksNothing) {
  const std::string a = Payload(40000, 6);
  CabBuilder cab;
  cab.reserve_present = true;
  cab.header_reserve = "hr";
  cab.AddFiles(cab.AddMszipFolder(a), {{"a", a}});
  const std::string bytes = cab.Build();
  FDIDestroy(hfdi_);
  hfdi_ = nullptr;
  for (int n = 0;; ++n) {
    SCOPED_TRACE(n);
    Harness::Get().Reset();
    Put("a.cab", bytes);
    Harness::Get().fail_allocation = n;
    ERF erf{};
    HFDI h = MakeTestContext(&erf);
    Recorder rec;
    const bool ok = h && rec.Copy(h, kDir, "a.cab");
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

// --- Cabinet sets ---------------------------------------------------------------

DataBlock Piece(const std::string& bytes, uint16_t uncompressed) {
  return DataBlock{bytes, uncompressed, std::nullopt, {}};
}

class SetTest : public ContainerTest {
 protected:
  // a.cab and b.cab: f1 in a; f2 from a into b (its second block split
  // between them); f3 in a new folder of b.
  void MakeTwo() {
    a_ = CabBuilder();
    a_.next_cabinet = "b.cab";
    a_.next_disk = "disk 2";
    a_.folders.push_back(
        Folder{0, {Piece(f1_ + f2_.substr(0, 100), 200), Piece(f2_.substr(100, 100), 0)}, {}});
    a_.files = {File{"f1", 100, 0, 0}, File{"f2", 500, 100, ifoldCONTINUED_TO_NEXT}};
    b_ = CabBuilder();
    b_.index = 1;
    b_.prev_cabinet = "a.cab";
    b_.prev_disk = "disk 1";
    b_.folders.push_back(
        Folder{0, {Piece(f2_.substr(200, 100), 200), Piece(f2_.substr(300), 200)}, {}});
    b_.folders.push_back(Folder{0, {Piece(f3_, 50)}, {}});
    b_.files = {File{"f2", 500, 100, ifoldCONTINUED_FROM_PREV}, File{"f3", 50, 0, 1}};
    Put("a.cab", a_.Build());
    Put("b.cab", b_.Build());
  }

  const std::string f1_ = Payload(100, 11), f2_ = Payload(500, 12), f3_ = Payload(50, 13);
  CabBuilder a_, b_;
};

TEST_F(SetTest, MissingNextCabinetIsRequestedAgainThenRetriedOrAborted) {
  MakeTwo();
  Harness::Get().files.erase("/mem/b.cab");
  Recorder abort;  // answers -1 to the repeated request
  EXPECT_FALSE(Copy(abort, "a.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_USER_ABORT);
  EXPECT_EQ(abort.Requests(), (std::vector<std::string>{"b.cab/0", "b.cab/1"}));
  EXPECT_EQ(abort.Names(), (std::vector<std::string>{"f1"}))
      << "the partly written file is not closed as done";

  Put("b.cab", b_.Build(), "/other/");
  Recorder retry;
  retry.hook = [](FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n) -> INT_PTR {
    if (kind != fdintNEXT_CABINET || n->fdie == FDIERROR_NONE) return Recorder::kDefault;
    std::snprintf(n->psz3, 257, "%s", "/other/");  // a second attempt, elsewhere
    return 0;
  };
  ASSERT_TRUE(Copy(retry, "a.cab")) << erf_.erfOper;
  EXPECT_EQ(retry.Names(), (std::vector<std::string>{"f1", "f2"}));
  EXPECT_EQ(retry.files[1].sha256, Sha256Hex(f2_));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CABINET_OPEN) << "the failed attempt stays recorded";
}

// Sets the block count of folder 0 of a cabinet without reserve or set names.
std::string WithBlockCount(std::string cab, uint16_t count) {
  cab[40] = static_cast<char>(count & 0xFF);
  cab[41] = static_cast<char>(count >> 8);
  return cab;
}

TEST_F(SetTest, WrongMissingOrDamagedContinuations) {
  struct SetChange {
    const char* what;
    std::function<void(CabBuilder& a, CabBuilder& b)> change;
    int32_t error;  // 0: the set extracts
    std::vector<std::string> requests;
  };
  const std::string f1 = f1_, f2 = f2_;
  const std::vector<SetChange> cases = {
      {"other set", [](CabBuilder&, CabBuilder& b) { b.set_id += 1; }, FDIERROR_USER_ABORT,
       {"b.cab/0", "b.cab/10"}},
      {"other index", [](CabBuilder&, CabBuilder& b) { b.index = 2; }, FDIERROR_USER_ABORT,
       {"b.cab/0", "b.cab/10"}},
      {"other data reserve",
       [](CabBuilder&, CabBuilder& b) { b.reserve_present = true, b.data_reserve = 2; },
       FDIERROR_USER_ABORT, {"b.cab/0", "b.cab/9"}},
      {"not a cabinet", [](CabBuilder&, CabBuilder& b) { b.version_minor = 2; },
       FDIERROR_USER_ABORT, {"b.cab/0", "b.cab/3"}},
      {"continued file before the current block",
       [](CabBuilder&, CabBuilder& b) {
         b.files.insert(b.files.begin() + 1, File{"again", 300, 100, ifoldCONTINUED_FROM_PREV});
       },
       FDIERROR_CORRUPT_CABINET, {"b.cab/0"}},
      {"folder ends without a next cabinet",
       [](CabBuilder& a, CabBuilder&) { a.next_cabinet.reset(); }, FDIERROR_USER_ABORT,
       {"/0", "/1"}},
      // A damaged last counted block: the next cabinet is asked for the rest.
      {"damaged last block, the rest in the next cabinet",
       [f1, f2](CabBuilder& a, CabBuilder& b) {
         a.folders[0].blocks = {Piece(f1 + f2.substr(0, 100), 200), Piece("junk", 100)};
         a.folders[0].blocks[1].checksum = 1;
         b.folders[0].blocks = {Piece(f2.substr(100), 400)};
       },
       0, {"b.cab/0"}},
  };
  for (const SetChange& c : cases) {
    SCOPED_TRACE(c.what);
    MakeTwo();
    c.change(a_, b_);
    Put("a.cab", a_.Build());
    Put("b.cab", b_.Build());
    Recorder rec;
    EXPECT_EQ(Copy(rec, "a.cab"), c.error == 0);
    EXPECT_EQ(rec.Requests(), c.requests);
    if (c.error != 0) {
      EXPECT_EQ(erf_.erfOper, c.error);
    } else {
      EXPECT_EQ(rec.Names(), (std::vector<std::string>{"f1", "f2"}));
      EXPECT_EQ(rec.files[1].sha256, Sha256Hex(f2_));
    }
  }
  // A block count too small with the blocks following in this cabinet: read on.
  CabBuilder one;
  one.AddFiles(one.AddStoredFolder(f2_, 100), {{"f2", f2_}});
  Recorder rec;
  Put("one.cab", WithBlockCount(one.Build(), 1));
  ASSERT_TRUE(Copy(rec, "one.cab")) << erf_.erfOper;
  EXPECT_EQ(rec.files.at(0).sha256, Sha256Hex(f2_));
  EXPECT_EQ(rec.Count(fdintNEXT_CABINET), 0);

  MakeTwo();  // the cabinet handle will not close before the next cabinet
  Harness::Get().fail_close = 1;
  Recorder closing;
  EXPECT_FALSE(Copy(closing, "a.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CORRUPT_CABINET);
  EXPECT_EQ(closing.Count(fdintNEXT_CABINET), 0);
}

}  // namespace
}  // namespace kestrin::cab::testing
