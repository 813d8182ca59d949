// A throw-away Korvane for the application and end-to-end tests, laid out by
// the sandbox script below a scoped folder; bundles packed with gcab; the
// expected report lines of a bundle and the log read back without stamps.
#ifndef KESTRIN_TESTS_APP_TEST_KORVANE_H_
#define KESTRIN_TESTS_APP_TEST_KORVANE_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/cases.h"
#include "support/cab_builder.h"
#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin::testing {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using kestrin::cab::testing::PackWithGcab;

struct tKorvaneOptions {
  bool ini_trailing_slash = true;
  bool oemcab = true;           // create <ini>/OEMCAB
  std::string version = "6.1";  // CurrentVersion; empty: no key
};

class TestKorvane {
 public:
  explicit TestKorvane(const tKorvaneOptions& options = {}) : options_(options) {
    std::vector<std::string> pieces{"--version", options.version};
    if (options.version.empty()) pieces = {"--without", "version"};
    if (!options.oemcab) pieces.insert(pieces.end(), {"--without", "oemcab"});
    sandbox_ = MakeSandbox(root() / "korvane", pieces);
    if (!options.ini_trailing_slash) {
      std::string store = ReadFileOrDie(registry());
      const std::string stored = "@=\"" + ini_dir().string() + "/\"";
      const size_t at = store.find(stored);
      EXPECT_NE(at, std::string::npos) << store;
      if (at != std::string::npos)
        WriteFileOrDie(registry(),
                       store.replace(at, stored.size(), "@=\"" + ini_dir().string() + "\""));
    }
  }
  // The scoped folder; the sandbox is its subfolder "korvane".
  const fs::path& root() const { return dir_.path(); }
  fs::path registry() const { return sandbox_.registry; }
  fs::path product_dir() const { return sandbox_.product_dir; }
  fs::path ini_dir() const {
    return sandbox_.ini_dir.substr(0, sandbox_.ini_dir.find_last_not_of('/') + 1);
  }
  fs::path user_data() const { return sandbox_.data_home; }
  fs::path oemcab() const { return ini_dir() / "OEMCAB"; }
  fs::path log() const { return oemcab() / "TargetDriverInstall.log"; }
  fs::path temp_root() const { return user_data() / "Brantel" / "Temp"; }
  std::string ini_path_value() const {
    return ini_dir().string() + (options_.ini_trailing_slash ? "/" : "");
  }
  std::vector<std::string> Environment() const {
    return {"KESTRIN_REGISTRY=" + registry().string(),
            "KESTRIN_PRODUCT_DIR=" + product_dir().string(),
            "XDG_DATA_HOME=" + user_data().string()};
  }
  void ApplyEnvironment() { env_ = std::make_unique<ScopedSandboxEnv>(sandbox_); }

 private:
  ScopedTempDir dir_;
  tKorvaneOptions options_;
  Sandbox sandbox_;
  std::unique_ptr<ScopedSandboxEnv> env_;
};

// An "hw.ini" with section OEMDriverDisk; keys with empty values left out.
inline std::string HwIni(const std::string& description, const std::string& oem_id,
                         const std::string& minimum, const std::string& extra = "") {
  std::string ini =
      "[OEMDriverDisk]\nDESCRIPTION=" + description + "\nOEMNAME=Vendor\nVERSION=1.0\n";
  if (!oem_id.empty()) ini += "OEMID=" + oem_id + "\n";
  if (!minimum.empty()) ini += "MINIMUM_VERSION=" + minimum + "\n";
  return ini + extra;
}

// A bundle "<root>/<relative>": hw.ini described "Desc <file name>" and one module.
inline std::string Bundle(const TestKorvane& korvane, const std::string& relative,
                          const std::string& minimum = "", const std::string& extra = "") {
  const fs::path cab = korvane.root() / relative;
  PackWithGcab(cab.string(), {{"hw.ini", HwIni("Desc " + cab.filename().string(), "42", minimum, extra)},
                    {"MODULES/M.INI", "[MODULE]\n"}});
  return cab.string();
}

// The report lines of a bundle that preparation unpacked and described.
inline Lines PreparedLines(const TestKorvane& korvane, const std::string& description,
                           int oem_id = 42, int files = 2, const std::string& minimum = "") {
  return {"Korvane installation directory: " + korvane.product_dir().string(),
          "Korvane INI-File directory: " + korvane.ini_path_value(),
          "",
          "Driver bundle description: " + description,
          "",
          "Manufacturer: Vendor (ID " + std::to_string(oem_id) + ")",
          "Version: 1.0",
          "Driver bundle has " + std::to_string(files) + " files",
          "",
          "Minimum Korvane version: " + (minimum.empty() ? "not specified" : minimum)};
}

inline const Lines kCompletionLines = {" *** Temp directory successfully removed ***",
                                       " *** Kestrin completed installing target driver  ***", ""};

// A path in upper case, as silent mode and the bundle list spell bundle paths.
inline std::string Upper(const fs::path& path) {
  std::string s = path.string();
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

inline Lines Cat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The log's lines without their "YYYYMMDD HH.MM -> " stamps; a line without a
// well-formed stamp fails the test.
inline Lines LogTexts(const fs::path& log) {
  Lines texts;
  std::ifstream in(log, std::ios::binary);
  for (std::string l; std::getline(in, l);) {
    auto n = [&](int at) { return (l[at] - '0') * 10 + l[at + 1] - '0'; };
    bool ok = l.size() >= 18 && l[8] == ' ' && l[11] == '.' && l.compare(14, 4, " -> ") == 0;
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 12, 13}) ok = ok && isdigit(l[i]);
    if (ok && n(4) >= 1 && n(4) <= 12 && n(6) >= 1 && n(6) <= 31 && n(9) < 24 && n(12) < 60) {
      texts.push_back(l.substr(18));
    } else {
      ADD_FAILURE() << "log line without time stamp: '" << l << "'";
      texts.push_back(l);
    }
  }
  return texts;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_APP_TEST_KORVANE_H_
