// Where the dialog's bundle list comes from, its rows, and the information
// block of a selection, without a window.
#include "app/bundle_list.h"

#include "app/scripted_ui.h"
#include "app/test_korvane.h"

namespace kestrin::testing {
namespace {

class BundleListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    korvane_.ApplyEnvironment();
    in_oemcab_ = Bundle(korvane_, fs::relative(korvane_.oemcab() / "k.cab", korvane_.root()));
    one_ = Bundle(korvane_, "files/one.cab", "6.0");
    in_dir_ = Bundle(korvane_, "dir/d.cab");
    fs::create_directories(korvane_.root() / "files");
    WriteFileOrDie(korvane_.root() / "files" / "junk.cab", "no cabinet");
  }
  TestKorvane korvane_;
  ScriptedUi ui_;
  std::string in_oemcab_, one_, in_dir_;
};

TEST_F(BundleListTest, SourcesFromTheCommandLine) {
  const std::string dir = (korvane_.root() / "dir").string();
  const std::string junk = (korvane_.root() / "files" / "junk.cab").string();
  const struct {
    const char* name;
    StringList arguments;
    std::string directory_text;
    StringList directories, available;
  } cases[] = {
      {"None", {}, korvane_.oemcab().string(), {korvane_.oemcab().string()}, {Upper(in_oemcab_)}},
      {"OneFile", {one_}, "", {Upper(korvane_.root() / "files")}, {Upper(one_)}},
      {"Directory", {dir}, Upper(dir), {Upper(dir)}, {Upper(in_dir_)}},
      {"FileThenDirectory", {one_, dir}, Upper(dir), {Upper(dir)}, {Upper(in_dir_), Upper(one_)}},
      {"NotABundle", {junk}, "", {}, {}},
  };
  for (const auto& c : cases) {
    CProgressDlg context(c.arguments, false, false, false, "", ui_);
    InitBundleSources(context);
    EXPECT_EQ(std::tie(context.DirectoryText, context.BundleDirectories, context.AvailableBundles),
              std::tie(c.directory_text, c.directories, c.available)) << c.name;
    EXPECT_TRUE(ui_.calls().empty()) << c.name;
  }
}

TEST_F(BundleListTest, RowsKeepTheirEntryAndTheBlockReadsItAgain) {
  const std::string junk = (korvane_.root() / "files" / "junk.cab").string();
  const StringList available = {junk, one_, in_dir_};
  std::vector<tBundleRow> rows = ReadBundleRows(available);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(std::tie(rows[0].available_index, rows[0].path, rows[0].description, rows[0].oem_name,
                     rows[0].version, rows[1].available_index),
            std::make_tuple(size_t{1}, one_, "Desc one.cab", "Vendor", "1.0", size_t{2}));

  // The block of a selection (MainDialogTest shows it whole): a bundle gone
  // since the list was filled keeps its columns and loses the minimum version
  // line; an entry out of range likewise.
  EXPECT_TRUE(BundleInfoLines({}, available).empty());
  fs::remove(in_dir_);
  rows[0].available_index = 7;
  const Lines both = BundleInfoLines(rows, available);
  EXPECT_TRUE(std::none_of(both.begin(), both.end(),
                          [](const std::string& l) { return l.starts_with("Min"); }));
  EXPECT_EQ(std::tuple(both.size(), both[12]),
            std::tuple(size_t{18}, "Driver bundle description: Desc d.cab"));
}

}  // namespace
}  // namespace kestrin::testing
