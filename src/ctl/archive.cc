#include "ctl/archive.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "bundle/bundle_format.h"
#include "host/file_system.h"
#include "host/ini_document.h"
#include "host/install_record.h"
#include "host/path_resolve.h"
#include "signature/signature.h"

namespace kestrin::ctl {
namespace {

// Lower case with "/" between folders, for comparing member names.
std::string MemberKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = c == '\\' ? '/' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return key;
}

const MemberFile* FindMember(const tArchivedBundle& bundle, const std::string& name) {
  const std::string wanted = MemberKey(name);
  for (const MemberFile& member : bundle.members)
    if (MemberKey(member.first) == wanted) return &member;
  return nullptr;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.size() >= prefix.size() && IniNamesEqual(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::vector<tRecordedItem> ReadRecordedItems(Host& host, const std::string& ini_dir,
                                             std::optional<int> oem) {
  const InstallRecord record(host.ini, ini_dir + kInstallRecordFileName);
  std::vector<tRecordedItem> items;
  for (const std::string& name : record.GetSectionNames()) {
    tRecordedItem item;
    item.name = name;
    if (record.GetLatestEntry(name, &item.installed).empty() && item.installed.empty()) continue;
    item.oem_id = record.GetLatestOemId(name);
    if (!oem || *oem == item.oem_id) items.push_back(std::move(item));
  }
  return items;
}

std::optional<std::string> HwIniValue(const tArchivedBundle& bundle, std::string_view section,
                                      std::string_view key) {
  const MemberFile* hw = FindMember(bundle, bundle::kDescriptionFile);
  if (hw == nullptr) return std::nullopt;
  return IniDocument::Parse(hw->second).FindValue(section, key);
}

std::vector<tArchivedBundle> ReadArchive(Host& host, const std::string& oemcab_dir) {
  using namespace bundle;  // NOLINT: the description's section and keys
  std::vector<tArchivedBundle> archive;
  std::vector<DirEntry> entries;
  const std::string dir = host.files.Resolve(oemcab_dir);
  if (!FindFiles(host.files, JoinPath(dir, "*.cab"), &entries)) return archive;
  for (const DirEntry& entry : entries) {
    if (!entry.is_regular) continue;
    tArchivedBundle b;
    b.path = JoinPath(dir, entry.name);
    b.info.FileName = entry.name;
    b.info.BundlePath = b.path;
    b.readable = UnpackToMemory(b.path, &b.members, &b.error);
    if (b.readable && FindMember(b, kDescriptionFile) == nullptr) {
      b.readable = false;
      b.error = b.path + ": no hw.ini in it";
    }
    auto text = [&](const char* key) {
      return HwIniValue(b, kDescriptionSection, key).value_or("");
    };
    b.info.Description = text(kDescriptionKey);
    b.info.OemName = text(kOemNameKey);
    b.info.Version = text(kVersionKey);
    b.info.OemIdText = text(kOemIdKey);
    b.info.OemId = IniParseInt(b.info.OemIdText).value_or(0);
    b.info.MinimumVersion = text(kMinimumVersionKey);
    SignatureCheck check;
    b.signed_ok = ReadCabinetSigner(b.path, &check) == SignatureStatus::kValid;
    b.signer = check.signer;
    archive.push_back(std::move(b));
  }
  return archive;
}

const MemberFile* MemberForItem(const tArchivedBundle& bundle, const std::string& item) {
  if (StartsWith(item, kModulesRecordPrefix)) {
    return FindMember(bundle, std::string(bundle::kModulesFolder) + "/" +
                                  item.substr(std::string_view(kModulesRecordPrefix).size()));
  }
  if (StartsWith(item, kSamplesRecordPrefix)) {
    const std::string folder = MemberKey(std::string(bundle::kSamplesFolder) + "/" +
                                         item.substr(std::string_view(kSamplesRecordPrefix).size()) +
                                         "/");
    for (const MemberFile& member : bundle.members)
      if (MemberKey(member.first).rfind(folder, 0) == 0) return &member;
    return nullptr;
  }
  return FindMember(bundle, std::string(bundle::kDriversFolder) + "/" + item);
}

const tArchivedBundle* SourceOf(const std::vector<tArchivedBundle>& archive,
                                const tRecordedItem& item) {
  const tArchivedBundle* source = nullptr;
  for (const tArchivedBundle& bundle : archive)
    if (bundle.readable && bundle.info.OemId == item.oem_id && MemberForItem(bundle, item.name))
      source = &bundle;
  return source;
}

bool ParseOem(const char* command, const ParsedArgs& parsed, std::optional<int>* oem,
              CtlOutput& io) {
  const auto it = parsed.options.find("--oem");
  if (it == parsed.options.end()) return true;
  char* end = nullptr;
  const long value = strtol(it->second.c_str(), &end, 10);
  if (it->second.empty() || *end != '\0' || value < INT32_MIN || value > INT32_MAX) {
    fprintf(io.err, "kestrinctl %s: --oem needs a number, not \"%s\"\n", command,
            it->second.c_str());
    return false;
  }
  *oem = static_cast<int>(value);
  return true;
}

}  // namespace kestrin::ctl
