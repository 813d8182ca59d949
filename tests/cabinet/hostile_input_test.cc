// Reading the next data block of a folder when this cabinet has none left
// that can be read: a damaged last counted block and a block count too
// small both send the reader to the next cabinet, and the copy ends with
// what that attempt met.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/cab_builder.h"
#include "fdi_harness.h"
#include "support/sha256.h"

namespace kestrin::cab::testing {
namespace {

using kestrin::testing::Sha256Hex;
const std::string kDir = "/mem/";

DataBlock Stored(const std::string& data) {
  return DataBlock{data, static_cast<uint16_t>(data.size()), std::nullopt, {}};
}

// Sets the block count of folder `folder` of a cabinet without reserve and
// previous-cabinet names; `strings` is the size of its next-cabinet names.
std::string WithBlockCount(std::string cab, int folder, uint16_t count, size_t strings = 0) {
  const size_t at = 36 + strings + 8 * static_cast<size_t>(folder) + 4;
  cab[at] = static_cast<char>(count & 0xFF);
  cab[at + 1] = static_cast<char>(count >> 8);
  return cab;
}

class NextBlockTest : public FdiTest {
 protected:
  static std::vector<std::string> Requests(const Recorder& rec) {
    std::vector<std::string> asked;
    for (const Event& e : rec.events) {
      if (e.kind == fdintNEXT_CABINET) asked.push_back(e.psz1 + "/" + std::to_string(e.fdie));
    }
    return asked;
  }

  const std::string f_ = Payload(300, 21), g_ = Payload(40, 22);
};

TEST_F(NextBlockTest, FollowsTheNumberedStepsWhenTheCabinetRunsOut) {
  struct Case {
    const char* what;
    std::function<void(std::map<std::string, std::string>& files)> make;
    bool ok;
    FDIERROR error;
    std::vector<std::string> requests;  // "name/fdie" of each next-cabinet request
    std::vector<std::string> names;     // files written
  };
  const std::string f = f_, g = g_;
  const std::vector<Case> cases = {
      {"damaged last counted block, no next cabinet",
       [f](auto& files) {
         CabBuilder a;
         DataBlock bad = Stored(f.substr(100));
         bad.checksum = 1;
         a.folders.push_back(Folder{0, {Stored(f.substr(0, 100)), bad}, {}});
         a.files = {File{"f", 300, 0, 0}};
         files["a.cab"] = a.Build();
       },
       false, FDIERROR_USER_ABORT, {"/0", "/1"}, {}},
      {"damaged last counted block, the next cabinet holds the rest",
       [f](auto& files) {
         CabBuilder a, b;
         a.next_cabinet = "b.cab";
         a.next_disk = "d";
         DataBlock bad = Stored(f.substr(100));
         bad.checksum = 1;
         a.folders.push_back(Folder{0, {Stored(f.substr(0, 100)), bad}, {}});
         a.files = {File{"f", 300, 0, ifoldCONTINUED_TO_NEXT}};
         b.index = 1;
         b.folders.push_back(Folder{0, {Stored(f.substr(100))}, {}});
         b.files = {File{"f", 300, 0, ifoldCONTINUED_FROM_PREV}};
         files["a.cab"] = a.Build();
         files["b.cab"] = b.Build();
       },
       true, FDIERROR_NONE, {"b.cab/0"}, {"f"}},
      {"block count too small, the blocks follow in this cabinet",
       [f, g](auto& files) {
         CabBuilder a;
         a.folders.push_back(Folder{0, {Stored(f.substr(0, 100)), Stored(f.substr(100))}, {}});
         a.folders.push_back(Folder{0, {Stored(g)}, {}});
         a.files = {File{"f", 300, 0, 0}, File{"g", 40, 0, 1}};
         files["a.cab"] = WithBlockCount(a.Build(), 0, 1);
       },
       true, FDIERROR_NONE, {}, {"f", "g"}},
      {"block count too small in the last folder, no next cabinet",
       [f](auto& files) {
         CabBuilder a;
         a.folders.push_back(Folder{0, {Stored(f.substr(0, 100))}, {}});
         a.files = {File{"f", 300, 0, 0}};
         files["a.cab"] = a.Build();
       },
       false, FDIERROR_USER_ABORT, {"/0", "/1"}, {}},
      {"block count of 0, next cabinet missing",
       [f](auto& files) {
         CabBuilder a;
         a.next_cabinet = "gone.cab";
         a.next_disk = "d";
         a.folders.push_back(Folder{0, {Stored(f)}, {}});
         a.files = {File{"f", 300, 0, ifoldCONTINUED_TO_NEXT}};
         std::string bytes = WithBlockCount(a.Build(), 0, 0, 11);
         bytes.resize(bytes.size() - 300 - 8);  // and no block at all
         files["a.cab"] = bytes;
       },
       false, FDIERROR_USER_ABORT, {"gone.cab/0", "gone.cab/1"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness::Get().files.clear();
    std::map<std::string, std::string> files;
    c.make(files);
    for (const auto& [name, bytes] : files) Harness::Get().files[kDir + name] = bytes;
    Recorder rec;
    erf_ = ERF{};
    EXPECT_EQ(rec.Copy(hfdi_, kDir, "a.cab"), c.ok) << erf_.erfOper;
    if (!c.ok) {
      EXPECT_EQ(erf_.erfOper, c.error);
    }
    EXPECT_EQ(Requests(rec), c.requests);
    EXPECT_EQ(rec.Names(), c.names);
    for (const Extracted& e : rec.files) {
      EXPECT_EQ(e.sha256, Sha256Hex(e.name == "f" ? f_ : g_)) << e.name;
    }
  }
}

}  // namespace
}  // namespace kestrin::cab::testing
