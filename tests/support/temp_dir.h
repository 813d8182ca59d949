// Scoped temporary folders for tests that touch the real disk.
#ifndef KESTRIN_TESTS_SUPPORT_TEMP_DIR_H_
#define KESTRIN_TESTS_SUPPORT_TEMP_DIR_H_

#include <filesystem>
#include <string>

namespace kestrin::testing {

// A fresh folder below $KESTRIN_TEST_TMP (or the system temporary folder),
// removed with everything in it when the object goes away.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string Sub(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Whole-file helpers; failures fail the current test.
std::string ReadFileOrDie(const std::filesystem::path& path);
void WriteFileOrDie(const std::filesystem::path& path, const std::string& content);

// Folder of the shared corpus and oracle tables, and of the source tree.
std::filesystem::path SharedDir();
// Whether the environment's CI is set: the shared folder must be there.
bool InCi();
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

}  // namespace kestrin::testing

// In a test body: without `where` (part of the shared corpus) the test is
// skipped, or, under CI, fails.
#define KESTRIN_NEED_CORPUS(where)                                                       \
  if (const std::filesystem::path needed_ = (where); !std::filesystem::exists(needed_)) { \
    if (::kestrin::testing::InCi()) FAIL() << "no corpus at " << needed_;                \
    GTEST_SKIP() << "no corpus at " << needed_;                                         \
  }

#endif  // KESTRIN_TESTS_SUPPORT_TEMP_DIR_H_
