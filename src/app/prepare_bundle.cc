// Preparation of one bundle: unpack, describe, and the minimum-version gate.
#include <memory>

#include "app/messages.h"
#include "app/progress_dlg.h"
#include "bundle/bundle.h"
#include "bundle/bundle_format.h"
#include "host/ini_file.h"
#include "host/product_env.h"
#include "host/version.h"

namespace kestrin {

PrepareResult CProgressDlg::PrepareBundle() {
  using namespace bundle;  // NOLINT: the description's section and keys
  ProductDir = GetProductDir(host);
  AddInfoF(msg::kProductDirLine, ProductDir.c_str());
  ProductIniDir = GetIniPath(host);
  AddInfoF(msg::kIniDirLine, ProductIniDir.c_str());
  if (CurrentBundle.empty()) return PrepareResult::kNoBundle;

  tBundleTempDir temp = MakeBundleTempDir(host, CurrentBundle);
  BundleTempDir = temp.path;
  if (!temp.exists) {
    AddInfoF(msg::kNoTempDir, BundleTempDir.c_str());
    return PrepareResult::kNoTempDir;
  }

  const int files = host.bundles.ExtractAll(CurrentBundle, BundleTempDir);
  if (files < 1) {
    AddInfo(msg::kNotExtracted, 1, true);
    return PrepareResult::kNotExtracted;
  }

  const IniFile description(host.ini, DescriptionPath(BundleTempDir));
  AddInfo("", 1, true);
  AddInfoF(msg::kDescription, description.GetString(kDescriptionSection, kDescriptionKey).c_str());
  AddInfo("", 1, true);
  const std::string oem_name = description.GetString(kDescriptionSection, kOemNameKey);
  OemId = description.GetInt(kDescriptionSection, kOemIdKey, false);
  AddInfoF(msg::kManufacturer, oem_name.c_str(), OemId);
  AddInfoF(msg::kVersion, description.GetString(kDescriptionSection, kVersionKey).c_str());
  AddInfoF(msg::kFileCount, files);
  AddInfo("", 1, true);

  InstallationRecord =
      std::make_unique<InstallRecord>(host.ini, ProductIniDir + kInstallRecordFileName);
  BundleRecoverTemplates = description.GetInt(kTemplatesSection, kRecoveryKey, false) == 1;

  const std::string minimum = description.GetString(kDescriptionSection, kMinimumVersionKey);
  AddInfoF(msg::kMinimumVersion, minimum.empty() ? msg::kNotSpecified : minimum.c_str());
  std::string installed;
  if (GetInstalledVersion(host, installed) && CompareVersion(installed, minimum) == -1) {
    AddInfoF(msg::kTooOld, installed.c_str(), minimum.c_str());
    return PrepareResult::kTooOld;
  }
  return PrepareResult::kReady;
}

}  // namespace kestrin
