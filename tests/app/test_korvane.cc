#include "app/test_korvane.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

namespace kestrin::testing {

namespace fs = std::filesystem;

TestKorvane::TestKorvane(const tKorvaneOptions& options) : options_(options) {
  std::vector<std::string> pieces;
  if (!options.oemcab) pieces.insert(pieces.end(), {"--without", "oemcab"});
  if (!options.ini_path) pieces.insert(pieces.end(), {"--without", "ini-path"});
  if (options.version.empty()) {
    pieces.insert(pieces.end(), {"--without", "version"});
  } else {
    pieces.insert(pieces.end(), {"--version", options.version});
  }
  sandbox_ = MakeSandbox(root() / "korvane", pieces);
  if (!options.ini_trailing_slash) {
    std::string store = ReadFileOrDie(registry());
    std::string stored = "@=\"" + ini_dir().string() + "/\"";
    size_t at = store.find(stored);
    EXPECT_NE(at, std::string::npos) << store;
    if (at != std::string::npos) store.replace(at, stored.size(), "@=\"" + ini_dir().string() + "\"");
    WriteFileOrDie(registry(), store);
  }
}

TestKorvane::~TestKorvane() = default;

std::string TestKorvane::ini_path_value() const {
  return ini_dir().string() + (options_.ini_trailing_slash ? "/" : "");
}

std::vector<std::string> TestKorvane::Environment() const {
  return {"KESTRIN_REGISTRY=" + registry().string(),
          "KESTRIN_PRODUCT_DIR=" + product_dir().string(),
          "XDG_DATA_HOME=" + user_data().string()};
}

void TestKorvane::ApplyEnvironment() {
  if (!env_) env_ = std::make_unique<ScopedSandboxEnv>(sandbox_);
}

std::string HwIni(const std::string& description, const std::string& oem_name,
                  const std::string& oem_id, const std::string& version,
                  const std::string& minimum_version, const std::string& extra) {
  std::string ini = "[OEMDriverDisk]\n";
  auto add = [&ini](const char* key, const std::string& value) {
    if (!value.empty()) ini += std::string(key) + "=" + value + "\n";
  };
  add("DESCRIPTION", description);
  add("OEMNAME", oem_name);
  add("OEMID", oem_id);
  add("VERSION", version);
  add("MINIMUM_VERSION", minimum_version);
  return ini + extra;
}

void MakeCabinet(const fs::path& cab, const BundleFiles& files) {
  ScopedTempDir stage;
  std::string command = "cd '" + stage.path().string() + "' && gcab -c -z '" + cab.string() + "'";
  for (const auto& [name, content] : files) {
    fs::path file = stage.path() / name;
    fs::create_directories(file.parent_path());
    WriteFileOrDie(file, content);
    command += " '" + name + "'";
  }
  command += " >/dev/null";
  fs::create_directories(cab.parent_path());
  ASSERT_EQ(system(command.c_str()), 0) << command;
}

std::vector<std::string> PreparedLines(const TestKorvane& korvane, const std::string& description,
                                       const std::string& oem_name, int oem_id,
                                       const std::string& version, int files,
                                       const std::string& minimum_version) {
  return {"Korvane installation directory: " + korvane.product_dir().string(),
          "Korvane INI-File directory: " + korvane.ini_path_value(),
          "",
          "Driver bundle description: " + description,
          "",
          "Manufacturer: " + oem_name + " (ID " + std::to_string(oem_id) + ")",
          "Version: " + version,
          "Driver bundle has " + std::to_string(files) + " files",
          "",
          "Minimum Korvane version: " + (minimum_version.empty() ? "not specified" : minimum_version)};
}

std::vector<std::string> CompletionLines() {
  return {" *** Temp directory successfully removed ***",
          " *** Kestrin completed installing target driver  ***", ""};
}

void Append(std::vector<std::string>* lines, const std::vector<std::string>& more) {
  lines->insert(lines->end(), more.begin(), more.end());
}

std::vector<std::string> LogTexts(const fs::path& log) {
  std::vector<std::string> texts;
  std::ifstream in(log, std::ios::binary);
  if (!in) return texts;
  static const std::regex kStamp(R"(^(\d{4})(\d{2})(\d{2}) (\d{2})\.(\d{2}) -> )");
  std::string line;
  while (std::getline(in, line)) {
    std::smatch match;
    if (!std::regex_search(line, match, kStamp)) {
      ADD_FAILURE() << "log line without time stamp: '" << line << "'";
      texts.push_back(line);
      continue;
    }
    int month = std::stoi(match[2]), day = std::stoi(match[3]);
    int hour = std::stoi(match[4]), minute = std::stoi(match[5]);
    EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60)
        << line;
    texts.push_back(match.suffix().str());
  }
  return texts;
}

}  // namespace kestrin::testing
