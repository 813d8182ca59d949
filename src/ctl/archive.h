// What kestrinctl list and verify read: the installation record grouped by
// item, and the bundles archived in OEMCAB, each unpacked in memory (nothing
// is written, no temporary folder made).
#ifndef KESTRIN_CTL_ARCHIVE_H_
#define KESTRIN_CTL_ARCHIVE_H_

#include <optional>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "ctl/ctl_command.h"
#include "bundle/memory_unpack.h"
#include "host/host.h"

namespace kestrin::ctl {

// One item of the installation record, as its newest entry has it.
struct tRecordedItem {
  std::string name;       // record name: "$MODULES\A.INI", "$SAMPLES\Demo", "drv.dll"
  int oem_id = 0;
  std::string installed;  // the entry's key, "YYYY-MM-DD-hh-mm" (UTC)
};

// A bundle file of OEMCAB.
struct tArchivedBundle {
  std::string path;
  bool readable = false;  // unpacked; else `error` says why
  std::string error;
  tCabFileInfo info;      // from its hw.ini
  std::vector<MemberFile> members;
  std::string signer;     // "" when not signed
  bool signed_ok = false; // a signature of sound shape (not checked for trust)
};

// The items of "instlog.ini" in the INI folder, in section order; with
// `oem`, only that vendor's.
std::vector<tRecordedItem> ReadRecordedItems(Host& host, const std::string& ini_dir,
                                             std::optional<int> oem);

// The *.cab files of `oemcab_dir` in name order, each unpacked and described.
std::vector<tArchivedBundle> ReadArchive(Host& host, const std::string& oemcab_dir);

// The member of `bundle` that installs `item` (its MODULES file, its
// SAMPLES folder's first file, or the DRIVERS library of that name), or
// nullptr. Names compare ignoring case, with "\" or "/" between folders.
const MemberFile* MemberForItem(const tArchivedBundle& bundle, const std::string& item);

// The archived bundle of the item's vendor that holds it; the last in name
// order when several do; nullptr when none.
const tArchivedBundle* SourceOf(const std::vector<tArchivedBundle>& archive,
                                const tRecordedItem& item);

// The value of `key` in `section` of the bundle's hw.ini; nothing when absent.
std::optional<std::string> HwIniValue(const tArchivedBundle& bundle, std::string_view section,
                                      std::string_view key);

// The --oem option of list and verify: a decimal OEM ID, nothing without
// the option. False after a usage error was written.
bool ParseOem(const char* command, const ParsedArgs& parsed, std::optional<int>* oem,
              CtlOutput& io);

}  // namespace kestrin::ctl

#endif  // KESTRIN_CTL_ARCHIVE_H_
