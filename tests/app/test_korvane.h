// A throw-away Korvane for the application tests, laid out by the project's
// sandbox script below a scoped folder, with the options the tests need; and
// bundle cabinets built with gcab.
#ifndef KESTRIN_TESTS_APP_TEST_KORVANE_H_
#define KESTRIN_TESTS_APP_TEST_KORVANE_H_

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.h"
#include "support/temp_dir.h"

namespace kestrin::testing {

struct tKorvaneOptions {
  bool ini_path = true;          // write the IniPath key
  bool ini_trailing_slash = true;
  bool oemcab = true;            // create <ini>/OEMCAB
  std::string version = "6.1";   // CurrentVersion; empty: no key
};

class TestKorvane {
 public:
  explicit TestKorvane(const tKorvaneOptions& options = {});
  ~TestKorvane();

  // The scoped folder; the sandbox is its subfolder "korvane", so tests may
  // put bundles beside it.
  const std::filesystem::path& root() const { return dir_.path(); }
  std::filesystem::path registry() const { return sandbox_.registry; }
  std::filesystem::path product_dir() const { return sandbox_.product_dir; }
  // IniPath without its trailing separator.
  std::filesystem::path ini_dir() const {
    return sandbox_.ini_dir.substr(0, sandbox_.ini_dir.find_last_not_of('/') + 1);
  }
  std::filesystem::path data_dir() const { return sandbox_.data_dir; }
  std::filesystem::path user_data() const { return sandbox_.data_home; }
  std::filesystem::path oemcab() const { return ini_dir() / "OEMCAB"; }
  std::filesystem::path log() const { return oemcab() / "TargetDriverInstall.log"; }
  std::filesystem::path temp_root() const { return user_data() / "Brantel" / "Temp"; }
  // The IniPath value as stored.
  std::string ini_path_value() const;

  // Environment that points Kestrin at this Korvane ("NAME=value").
  std::vector<std::string> Environment() const;
  // Sets those variables in this process (restored by the destructor).
  void ApplyEnvironment();

 private:
  ScopedTempDir dir_;
  tKorvaneOptions options_;
  Sandbox sandbox_;
  std::unique_ptr<ScopedSandboxEnv> env_;
};

// Files of a bundle: cabinet member name ("DIR/file") and content.
using BundleFiles = std::vector<std::pair<std::string, std::string>>;

// An "hw.ini" with section OEMDriverDisk; keys with empty values are left out.
std::string HwIni(const std::string& description, const std::string& oem_name,
                  const std::string& oem_id, const std::string& version,
                  const std::string& minimum_version, const std::string& extra = "");

// Builds `cab` with gcab (MSZIP) from the files; fails the test on error.
void MakeCabinet(const std::filesystem::path& cab, const BundleFiles& files);

// The report lines of a bundle that preparation unpacked and described:
// directory lines, description, manufacturer, version, file count and
// minimum version ("not specified" when empty).
std::vector<std::string> PreparedLines(const TestKorvane& korvane, const std::string& description,
                                       const std::string& oem_name, int oem_id,
                                       const std::string& version, int files,
                                       const std::string& minimum_version);
// The lines after the steps of a bundle: temporary directory removed,
// completion, empty line.
std::vector<std::string> CompletionLines();
// Appends `more` to `lines`.
void Append(std::vector<std::string>* lines, const std::vector<std::string>& more);

// Every line of the log without its time stamp; a line that does not start
// with a well-formed "YYYYMMDD HH.MM -> " stamp fails the test.
std::vector<std::string> LogTexts(const std::filesystem::path& log);

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_APP_TEST_KORVANE_H_
