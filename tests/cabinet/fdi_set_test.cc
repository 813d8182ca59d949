// Cabinet sets: folders continued into the next cabinet, the next-cabinet
// request and its retries, split blocks, declined spanning files.
#include <gtest/gtest.h>

#include "cab_builder.h"
#include "fdi_harness.h"
#include "support/sha256.h"

namespace kestrin::cab::testing {
namespace {

using kestrin::testing::Sha256Hex;

const std::string kDir = "/mem/";

DataBlock Piece(const std::string& bytes, uint16_t uncompressed) {
  return DataBlock{bytes, uncompressed, std::nullopt, {}};
}

class FdiSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Harness::Get().Reset();
    Harness::Get().allow_disk = false;
    hfdi_ = MakeTestContext(&erf_);
    f1_ = Payload(100, 11);
    f2_ = Payload(500, 12);
    f3_ = Payload(50, 13);
  }
  void TearDown() override {
    EXPECT_TRUE(FDIDestroy(hfdi_));
    EXPECT_EQ(Harness::Get().open_handles, 0) << "handles left open";
    EXPECT_EQ(Harness::Get().live_blocks, 0) << "memory left behind";
  }
  void Put(const std::string& name, const CabBuilder& cab, const std::string& dir = kDir) {
    Harness::Get().files[dir + name] = cab.Build();
  }
  bool Copy(Recorder& rec, const std::string& name) { return rec.Copy(hfdi_, kDir, name); }

  // a.cab and b.cab: f1 in a; f2 from a into b (its second block split
  // between them); f3 in a new folder of b.
  void MakeTwo() {
    CabBuilder a;
    a.next_cabinet = "b.cab";
    a.next_disk = "disk 2";
    a.folders.push_back(Folder{0, {Piece(f1_ + f2_.substr(0, 100), 200), Piece(f2_.substr(100, 100), 0)}, {}});
    a.files = {File{"f1", 100, 0, 0}, File{"f2", 500, 100, ifoldCONTINUED_TO_NEXT}};
    CabBuilder b;
    b.index = 1;
    b.prev_cabinet = "a.cab";
    b.prev_disk = "disk 1";
    b.folders.push_back(Folder{0, {Piece(f2_.substr(200, 100), 200), Piece(f2_.substr(300), 200)}, {}});
    b.folders.push_back(Folder{0, {Piece(f3_, 50)}, {}});
    b.files = {File{"f2", 500, 100, ifoldCONTINUED_FROM_PREV}, File{"f3", 50, 0, 1}};
    a_ = a;
    b_ = b;
    Put("a.cab", a);
    Put("b.cab", b);
  }

  ERF erf_{};
  HFDI hfdi_ = nullptr;
  std::string f1_, f2_, f3_;
  CabBuilder a_, b_;
};

std::vector<std::string> Names(const Recorder& rec) {
  std::vector<std::string> names;
  for (const auto& f : rec.files) names.push_back(f.name);
  return names;
}

TEST_F(FdiSetTest, TwoCabinets) {
  MakeTwo();
  Recorder from_a;
  ASSERT_TRUE(Copy(from_a, "a.cab")) << erf_.erfOper;
  EXPECT_EQ(Names(from_a), (std::vector<std::string>{"f1", "f2"}));
  EXPECT_EQ(from_a.files[1].sha256, Sha256Hex(f2_));
  EXPECT_EQ(from_a.next_cabinet_requests, 1);
  // The request names the next cabinet and the index expected.
  for (const Event& e : from_a.events) {
    if (e.kind != fdintNEXT_CABINET) continue;
    EXPECT_EQ(e.psz1, "b.cab");
    EXPECT_EQ(e.psz2, "disk 2");
    EXPECT_EQ(e.psz3, kDir);
    EXPECT_EQ(e.iCabinet, 1);
    EXPECT_EQ(e.fdie, FDIERROR_NONE);
  }
  EXPECT_EQ(from_a.Count(fdintCABINET_INFO), 2);

  Recorder from_b;
  ASSERT_TRUE(Copy(from_b, "b.cab")) << erf_.erfOper;
  EXPECT_EQ(Names(from_b), (std::vector<std::string>{"f3"}));
  ASSERT_EQ(from_b.Count(fdintPARTIAL_FILE), 1);
  for (const Event& e : from_b.events) {
    if (e.kind != fdintPARTIAL_FILE) continue;
    EXPECT_EQ(e.psz1, "f2");
    EXPECT_EQ(e.psz2, "a.cab");
    EXPECT_EQ(e.psz3, "disk 1");
  }
}

TEST_F(FdiSetTest, ThreeCabinetsWithSplitBlocks) {
  CabBuilder a;
  a.next_cabinet = "b.cab";
  a.folders.push_back(Folder{0, {Piece(f1_ + f2_.substr(0, 100), 200), Piece(f2_.substr(100, 50), 0)}, {}});
  a.files = {File{"f1", 100, 0, 0}, File{"f2", 500, 100, ifoldCONTINUED_TO_NEXT}};
  CabBuilder b;
  b.index = 1;
  b.prev_cabinet = "a.cab";
  b.next_cabinet = "c.cab";
  b.folders.push_back(Folder{0,
                             {Piece(f2_.substr(150, 50), 100), Piece(f2_.substr(200, 200), 200),
                              Piece(f2_.substr(400, 20), 0)},
                             {}});
  b.files = {File{"f2", 500, 100, ifoldCONTINUED_PREV_AND_NEXT}};
  CabBuilder c;
  c.index = 2;
  c.prev_cabinet = "b.cab";
  c.folders.push_back(Folder{0, {Piece(f2_.substr(420), 100)}, {}});
  c.folders.push_back(Folder{0, {Piece(f3_, 50)}, {}});
  c.files = {File{"f2", 500, 100, ifoldCONTINUED_FROM_PREV}, File{"f3", 50, 0, 1}};
  Put("a.cab", a);
  Put("b.cab", b);
  Put("c.cab", c);

  Recorder from_a;
  ASSERT_TRUE(Copy(from_a, "a.cab")) << erf_.erfOper;
  ASSERT_EQ(Names(from_a), (std::vector<std::string>{"f1", "f2"}));
  EXPECT_EQ(from_a.files[1].sha256, Sha256Hex(f2_));
  EXPECT_EQ(from_a.next_cabinet_requests, 2);
  Recorder from_b;
  ASSERT_TRUE(Copy(from_b, "b.cab")) << erf_.erfOper;
  EXPECT_TRUE(from_b.files.empty());
  EXPECT_EQ(from_b.Count(fdintPARTIAL_FILE), 1);
  Recorder from_c;
  ASSERT_TRUE(Copy(from_c, "c.cab")) << erf_.erfOper;
  EXPECT_EQ(Names(from_c), (std::vector<std::string>{"f3"}));
  EXPECT_EQ(from_c.files[0].sha256, Sha256Hex(f3_));
}

TEST_F(FdiSetTest, DeclinedSpanningFilesAreSkippedInTheNextCabinet) {
  // f2a and f2b both continue into b.cab; the caller declines f2a.
  const std::string f2a = f2_.substr(0, 150), f2b = f2_.substr(150, 250);
  CabBuilder a;
  a.next_cabinet = "b.cab";
  a.folders.push_back(Folder{0, {Piece(f1_ + f2a, 250), Piece(f2b.substr(0, 100), 0)}, {}});
  a.files = {File{"f1", 100, 0, 0}, File{"f2a", 150, 100, ifoldCONTINUED_TO_NEXT},
             File{"f2b", 250, 250, ifoldCONTINUED_TO_NEXT}};
  CabBuilder b;
  b.index = 1;
  b.prev_cabinet = "a.cab";
  b.folders.push_back(Folder{0, {Piece(f2b.substr(100), 250)}, {}});
  b.folders.push_back(Folder{0, {Piece(f3_, 50)}, {}});
  b.files = {File{"f2a", 150, 100, ifoldCONTINUED_FROM_PREV}, File{"f2b", 250, 250, ifoldCONTINUED_FROM_PREV},
             File{"f3", 50, 0, 1}};
  Put("a.cab", a);
  Put("b.cab", b);
  Recorder rec;
  rec.only = {"f1", "f2b", "f3"};
  ASSERT_TRUE(Copy(rec, "a.cab")) << erf_.erfOper;
  EXPECT_EQ(Names(rec), (std::vector<std::string>{"f1", "f2b"}));
  EXPECT_EQ(rec.files[1].sha256, Sha256Hex(f2b));
  EXPECT_EQ(rec.Count(fdintCOPY_FILE), 3) << "nothing of b.cab's own list is offered again";
}

TEST_F(FdiSetTest, MissingNextCabinetIsRequestedAgainWithTheFailure) {
  MakeTwo();
  Harness::Get().files.erase(kDir + "b.cab");
  Recorder rec;  // answers -1 to a repeated request
  EXPECT_FALSE(Copy(rec, "a.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_USER_ABORT);
  std::vector<FDIERROR> fdie;
  for (const Event& e : rec.events) {
    if (e.kind == fdintNEXT_CABINET) fdie.push_back(e.fdie);
  }
  EXPECT_EQ(fdie, (std::vector<FDIERROR>{FDIERROR_NONE, FDIERROR_CABINET_OPEN}));
  EXPECT_EQ(Names(rec), (std::vector<std::string>{"f1"})) << "the partly written file is not closed as done";
}

TEST_F(FdiSetTest, NextCabinetFoundAfterTheCallbackChangesTheDirectory) {
  MakeTwo();
  Harness::Get().files.erase(kDir + "b.cab");
  Put("b.cab", b_, "/other/");
  Recorder rec;
  rec.hook = [](FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n) -> INT_PTR {
    if (kind != fdintNEXT_CABINET || n->fdie == FDIERROR_NONE) return Recorder::kDefault;
    std::snprintf(n->psz3, 257, "%s", "/other/");  // a second attempt, elsewhere
    return 0;
  };
  ASSERT_TRUE(Copy(rec, "a.cab")) << erf_.erfOper;
  EXPECT_EQ(Names(rec), (std::vector<std::string>{"f1", "f2"}));
  EXPECT_EQ(rec.files[1].sha256, Sha256Hex(f2_));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CABINET_OPEN) << "the failed attempt stays recorded";
}

TEST_F(FdiSetTest, WrongNextCabinets) {
  struct Case {
    const char* what;
    std::function<void(CabBuilder&)> change;
    FDIERROR fdie;
  };
  const std::vector<Case> cases = {
      {"other set", [](CabBuilder& b) { b.set_id += 1; }, FDIERROR_WRONG_CABINET},
      {"other index", [](CabBuilder& b) { b.index = 2; }, FDIERROR_WRONG_CABINET},
      {"other data reserve",
       [](CabBuilder& b) {
         b.reserve_present = true;
         b.data_reserve = 2;
       },
       FDIERROR_RESERVE_MISMATCH},
      {"not a cabinet", [](CabBuilder& b) { b.version_minor = 2; }, FDIERROR_UNKNOWN_CABINET_VERSION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeTwo();
    CabBuilder b = b_;
    c.change(b);
    Put("b.cab", b);
    Recorder rec;
    EXPECT_FALSE(Copy(rec, "a.cab"));
    EXPECT_EQ(erf_.erfOper, FDIERROR_USER_ABORT);
    ASSERT_EQ(rec.next_cabinet_requests, 2);
    EXPECT_EQ(rec.events.back().kind, fdintNEXT_CABINET);
    EXPECT_EQ(rec.events.back().fdie, c.fdie);
  }
}

TEST_F(FdiSetTest, HandleThatWillNotCloseBeforeTheNextCabinet) {
  MakeTwo();
  Harness::Get().fail_close = 1;
  Recorder rec;
  EXPECT_FALSE(Copy(rec, "a.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CORRUPT_CABINET);
  EXPECT_EQ(rec.next_cabinet_requests, 0);
}

TEST_F(FdiSetTest, ContinuedFileBeforeTheCurrentBlockCannotBeServed) {
  MakeTwo();
  CabBuilder b = b_;
  b.files.insert(b.files.begin() + 1, File{"again", 300, 100, ifoldCONTINUED_FROM_PREV});
  Put("b.cab", b);
  Recorder rec;
  EXPECT_FALSE(Copy(rec, "a.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CORRUPT_CABINET);
  EXPECT_EQ(Names(rec), (std::vector<std::string>{"f1", "f2"}));
  EXPECT_EQ(Harness::Get().open_handles, 0);
}

TEST_F(FdiSetTest, FolderEndWithoutNextCabinetIsCorrupt) {
  MakeTwo();
  CabBuilder a = a_;
  a.next_cabinet.reset();
  Put("a.cab", a);
  Recorder rec;
  EXPECT_FALSE(Copy(rec, "a.cab"));
  EXPECT_EQ(erf_.erfOper, FDIERROR_CORRUPT_CABINET);
  EXPECT_EQ(rec.next_cabinet_requests, 0);
}

}  // namespace
}  // namespace kestrin::cab::testing
