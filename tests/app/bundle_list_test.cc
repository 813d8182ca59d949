// Where the dialog's bundle list comes from and its rows, without a window.
#include "app/bundle_list.h"

#include "app/system_host.h"
#include "app/test_korvane.h"
#include "support/scripted_ui.h"

namespace kestrin::testing {
namespace {

class BundleListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    korvane_.ApplyEnvironment();
    one_ = Bundle(korvane_, "files/one.cab", "6.0");
    in_dir_ = Bundle(korvane_, "dir/d.cab");
    junk_ = (korvane_.root() / "files" / "junk.cab").string();
    WriteFileOrDie(junk_, "no cabinet");
  }
  TestKorvane korvane_;
  ScriptedUi ui_;
  std::string one_, in_dir_, junk_;
};

TEST_F(BundleListTest, SourcesFromTheCommandLine) {
  const std::string dir = (korvane_.root() / "dir").string();
  const struct {
    const char* name;
    StringList arguments;
    std::string directory_text;
    StringList directories, available;
  } cases[] = {
      {"OneFile", {one_}, "", {Upper(korvane_.root() / "files")}, {Upper(one_)}},
      {"Directory", {dir}, Upper(dir), {Upper(dir)}, {Upper(in_dir_)}},
      {"FileThenDirectory", {one_, dir}, Upper(dir), {Upper(dir)}, {Upper(in_dir_), Upper(one_)}},
      {"NotABundle", {junk_}, "", {}, {}},
  };
  for (const auto& c : cases) {
    CProgressDlg context(SystemHost(), c.arguments, false, false, false, "", ui_);
    InitBundleSources(context);
    EXPECT_EQ(std::tie(context.DirectoryText, context.BundleDirectories, context.AvailableBundles),
              std::tie(c.directory_text, c.directories, c.available)) << c.name;
    EXPECT_TRUE(ui_.calls().empty()) << c.name;
  }
}

TEST_F(BundleListTest, RowsKeepTheirEntry) {
  const StringList available = {junk_, one_, in_dir_};
  const std::vector<tBundleRow> rows = ReadBundleRows(SystemHost(), available);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(std::tie(rows[0].available_index, rows[0].path, rows[0].description, rows[0].oem_name,
                     rows[0].version, rows[1].available_index),
            std::make_tuple(size_t{1}, one_, "Desc one.cab", "Vendor", "1.0", size_t{2}));
  EXPECT_TRUE(BundleInfoLines(SystemHost(), {}, available).empty());  // a selection's block: MainDialogTest
}

}  // namespace
}  // namespace kestrin::testing
