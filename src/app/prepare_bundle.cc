// Preparation of one bundle: unpack, describe, and the minimum-version gate.
#include <memory>

#include "app/messages.h"
#include "app/progress_dlg.h"
#include "bundle/bundle.h"
#include "host/ini_file.h"
#include "host/product_env.h"
#include "host/version.h"

namespace kestrin {

namespace {

constexpr char kDescriptionSection[] = "OEMDriverDisk";

}  // namespace

int CProgressDlg::PrepareBundle() {
  ProductDir = GetProductDir();
  AddInfoF(msg::kProductDirLine, ProductDir.c_str());
  ProductIniDir = GetIniPath();
  AddInfoF(msg::kIniDirLine, ProductIniDir.c_str());
  if (CurrentBundle.empty()) return 1;

  tBundleTempDir temp = MakeBundleTempDir(CurrentBundle);
  BundleTempDir = temp.path;
  if (!temp.exists) {
    AddInfoF(msg::kNoTempDir, BundleTempDir.c_str());
    return 4;
  }

  int files = ExtractCabinetFile(CurrentBundle, BundleTempDir);
  if (files < 1) {
    AddInfo(msg::kNotExtracted, 1, true);
    return 3;
  }

  IniFile description(BundleTempDir + "/hw.ini");
  AddInfo("", 1, true);
  AddInfoF(msg::kDescription, description.GetString(kDescriptionSection, "DESCRIPTION").c_str());
  AddInfo("", 1, true);
  std::string oem_name = description.GetString(kDescriptionSection, "OEMNAME");
  OemId = description.GetInt(kDescriptionSection, "OEMID", false);
  AddInfoF(msg::kManufacturer, oem_name.c_str(), OemId);
  AddInfoF(msg::kVersion, description.GetString(kDescriptionSection, "VERSION").c_str());
  AddInfoF(msg::kFileCount, files);
  AddInfo("", 1, true);

  InstallationRecord = std::make_unique<InstallRecord>(ProductIniDir + kInstallRecordFileName);
  BundleRecoverTemplates = description.GetInt("TEMPLATES", "RECOVERY", false) == 1;

  std::string minimum = description.GetString(kDescriptionSection, "MINIMUM_VERSION");
  AddInfoF(msg::kMinimumVersion, minimum.empty() ? msg::kNotSpecified : minimum.c_str());
  std::string installed;
  if (GetInstalledVersion(installed) && CompareVersion(installed, minimum) == -1) {
    AddInfoF(msg::kTooOld, installed.c_str(), minimum.c_str());
    return 2;
  }
  return 0;
}

}  // namespace kestrin
