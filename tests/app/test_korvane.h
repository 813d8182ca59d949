// A throw-away Korvane for the application and end-to-end tests, laid out by
// the sandbox script below a scoped folder; bundles packed with gcab; the
// expected report lines of a bundle and the log read back without stamps.
#ifndef KESTRIN_TESTS_APP_TEST_KORVANE_H_
#define KESTRIN_TESTS_APP_TEST_KORVANE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
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
  bool oemcab = true;           // create <ini>/OEMCAB
  std::string version = "6.1";  // CurrentVersion; empty: no key
};

class TestKorvane {
 public:
  explicit TestKorvane(const tKorvaneOptions& options = {}) {
    std::vector<std::string> pieces{"--version", options.version};
    if (options.version.empty()) pieces = {"--without", "version"};
    if (!options.oemcab) pieces.insert(pieces.end(), {"--without", "oemcab"});
    sandbox_ = MakeSandbox(root() / "korvane", pieces);
  }
  // The scoped folder; the sandbox is its subfolder "korvane".
  const fs::path& root() const { return dir_.path(); }
  fs::path registry() const { return sandbox_.registry; }
  fs::path product_dir() const { return sandbox_.product_dir; }
  fs::path ini_dir() const { return fs::path(sandbox_.ini_dir).parent_path(); }
  fs::path oemcab() const { return ini_dir() / "OEMCAB"; }
  fs::path log() const { return oemcab() / "TargetDriverInstall.log"; }
  fs::path temp_root() const { return fs::path(sandbox_.data_home) / "Brantel" / "Temp"; }
  std::vector<std::string> Environment() const {
    return {"KESTRIN_REGISTRY=" + sandbox_.registry, "KESTRIN_PRODUCT_DIR=" + sandbox_.product_dir,
            "XDG_DATA_HOME=" + sandbox_.data_home};
  }
  void ApplyEnvironment() { env_ = std::make_unique<ScopedSandboxEnv>(sandbox_); }

 private:
  ScopedTempDir dir_;
  Sandbox sandbox_;
  std::unique_ptr<ScopedSandboxEnv> env_;
};

// An "hw.ini" with section OEMDriverDisk; an empty minimum version left out.
inline std::string HwIni(const std::string& description, const std::string& oem_id,
                         const std::string& minimum, const std::string& extra = "") {
  return "[OEMDriverDisk]\nDESCRIPTION=" + description + "\nOEMNAME=Vendor\nVERSION=1.0\nOEMID=" +
         oem_id + "\n" + (minimum.empty() ? "" : "MINIMUM_VERSION=" + minimum + "\n") + extra;
}

// A bundle "<root>/<relative>": hw.ini described "Desc <file name>" and one module.
inline std::string Bundle(const TestKorvane& korvane, const std::string& relative,
                          const std::string& minimum = "", const std::string& extra = "") {
  const fs::path cab = korvane.root() / relative;
  const std::string ini = HwIni("Desc " + cab.filename().string(), "42", minimum, extra);
  PackWithGcab(cab.string(), {{"hw.ini", ini}, {"MODULES/M.INI", "[MODULE]\n"}});
  return cab.string();
}

// The report lines of a bundle that preparation unpacked and described.
inline Lines PreparedLines(const TestKorvane& korvane, const std::string& description,
                           int oem_id = 42, int files = 2, const std::string& minimum = "") {
  return {"Korvane installation directory: " + korvane.product_dir().string(),
          "Korvane INI-File directory: " + korvane.ini_dir().string() + "/", "",
          "Driver bundle description: " + description, "",
          "Manufacturer: Vendor (ID " + std::to_string(oem_id) + ")", "Version: 1.0",
          "Driver bundle has " + std::to_string(files) + " files", "",
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
  static const std::regex stamp(
      R"(\d{4}(0[1-9]|1[0-2])(0[1-9]|[12]\d|3[01]) ([01]\d|2[0-3])\.[0-5]\d -> )");
  Lines texts;
  std::ifstream in(log, std::ios::binary);
  std::smatch m;
  for (std::string l; std::getline(in, l);) {
    const bool ok = std::regex_search(l, m, stamp, std::regex_constants::match_continuous);
    if (!ok) ADD_FAILURE() << "log line without time stamp: '" << l << "'";
    texts.push_back(ok ? m.suffix().str() : l);
  }
  return texts;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_APP_TEST_KORVANE_H_
