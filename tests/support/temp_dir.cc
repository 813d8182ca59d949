#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace kestrin::testing {

// A random name, taken only if the folder is new (create_directory fails on
// an existing one), so that parallel tests never share a folder.
ScopedTempDir::ScopedTempDir() {
  const char* base = getenv("KESTRIN_TEST_TMP");
  std::filesystem::path root = base && *base ? base : std::filesystem::temp_directory_path();
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate = root / ("kestrin-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
  }
  if (path_.empty()) ADD_FAILURE() << "cannot make a temporary folder below " << root;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ec;
  // Read-only files and folders made by a test must not keep the folder alive.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

bool InCi() {
  const char* ci = getenv("CI");
  return ci != nullptr && *ci != '\0';
}

std::string ReadFileOrDie(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileOrDie(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  EXPECT_TRUE(out.good()) << "cannot write " << path;
}

std::filesystem::path SharedDir() { return KESTRIN_SHARED_DIR; }
std::filesystem::path SourceDir() { return KESTRIN_SOURCE_DIR; }
std::filesystem::path BinaryDir() { return KESTRIN_BINARY_DIR; }

}  // namespace kestrin::testing
