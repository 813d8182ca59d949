#include "host/library_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;

std::string Lib(const char* name) { return std::string(KESTRIN_TEST_LIB_DIR) + "/" + name + ".so"; }

TEST(RegisterServerTest, CallsTheExportAndJudgesItsResult) {
  testing::ScopedTempDir temp;
  const std::string mark = temp.Sub("mark.txt");
  setenv("KESTRIN_REGISTER_MARK", mark.c_str(), 1);

  std::string error;
  EXPECT_EQ(RegisterServer(Lib("test_register_ok"), true, &error), 1) << error;
  EXPECT_EQ(RegisterServer(Lib("test_register_ok"), false, &error), 1) << error;
  EXPECT_EQ(testing::ReadFileOrDie(mark), "register;unregister;");

  // A negative result code is a failure.
  error.clear();
  EXPECT_EQ(RegisterServer(Lib("test_register_fails"), true, &error), 0);
  EXPECT_NE(error.find("0x80004005"), std::string::npos) << error;
  EXPECT_EQ(testing::ReadFileOrDie(mark), "register;unregister;register;");

  // No such export.
  error.clear();
  EXPECT_EQ(RegisterServer(Lib("test_register_none"), true, &error), 0);
  EXPECT_NE(error.find("DllRegisterServer"), std::string::npos) << error;
  unsetenv("KESTRIN_REGISTER_MARK");
}

TEST(RegisterServerTest, LoadFailures) {
  testing::ScopedTempDir temp;
  testing::WriteFileOrDie(temp.path() / "fake.dll", "MZ not a shared object");
  std::string error;
  EXPECT_EQ(RegisterServer(temp.Sub("fake.dll"), true, &error), 0);
  EXPECT_NE(error.find("fake.dll"), std::string::npos) << error;
  error.clear();
  EXPECT_EQ(RegisterServer(temp.Sub("missing.dll"), true, &error), 0);
  EXPECT_NE(error.find("missing.dll"), std::string::npos) << error;
  // A bare name would be searched on the library path: refused.
  EXPECT_EQ(RegisterServer("libc.so.6", true, &error), 0);

  // Letter case of the path does not matter.
  fs::copy_file(Lib("test_register_ok"), temp.path() / "Driver.SO");
  EXPECT_EQ(RegisterServer(temp.Sub("driver.so"), true, &error), 1) << error;
}

}  // namespace
}  // namespace kestrin
