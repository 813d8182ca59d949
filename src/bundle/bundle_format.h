// The driver bundle format: the names a bundle and its description use.
//
// Format notes. A bundle is a cabinet file. At its top level it holds the
// description "hw.ini" (found in any letter case) and folders named after
// what they hold: MODULES (hardware definition INI files, each with a
// folder of global definition files of the module's name beside it), EXE
// (the libraries a definition names), DRIVERS (driver libraries), HELP
// (help pages with their own description HELP.INI), PRINTFORMS, SAMPLES,
// TEMPLATES and LIB (one subfolder per sample, template or library).
//
// "hw.ini" is an INI file read with the private-profile rules (names ignore
// letter case; a missing section or key reads as empty). Its sections:
//
//   [OEMDriverDisk]      the description: DESCRIPTION, OEMNAME, OEMID (the
//                        vendor's number, 0 when missing), VERSION,
//                        MINIMUM_VERSION (of Korvane), REQUIRE_RESTART ("1")
//   [TEMPLATES]          RECOVERY=1: empty the template folder first
//   [DRIVERS]            one line per driver library: name=option, the
//                        option "regasm", "noreg", "delete" or nothing
//   [REGISTY_SETTING]    COUNT and PATH<n>/VALUE<n> for n = 1..COUNT: keys
//                        below the Korvane settings; the misspelt section
//                        counts first, [REGISTRY_SETTING] only without it
//   [CONNECTIONS]        COUNT and CONNECTION<n>, each naming a section of
//                        DRIVERNAME, DRIVERID, TIMEOUT, COMMENT and VALUES
//                        (the name of a section of connection properties)
//   [CUST-TOOLS]         RECOVERY=1 and per tool FILE<n>, Title<n>,
//                        Arguments<n>, CmdShow<n>, InitDir<n>,
//                        QueryArguments<n>
//   [TCPIP]              TIMEOUT: the driver timeout in milliseconds
//   [VISIBLE_EXTENSIONS] EXT: ";"-separated file extensions
//   [POST_COMMANDS]      command lines, run in order ($BinDir, $AppDataDir)
//
// A hardware definition file names its libraries in [MODULE] (PCodeDll32,
// HConfigDll32) and asks for the OPC pane with [ENABLE_OPC_PANE] ACTIVE=1.
// HELP.INI lists obsolete pages in [DeleteBefore] (page=non-zero number)
// and the help tree's nodes in [Helpnodes] (page=node name).
#ifndef KESTRIN_BUNDLE_BUNDLE_FORMAT_H_
#define KESTRIN_BUNDLE_BUNDLE_FORMAT_H_

#include <string>
#include <vector>

namespace kestrin::bundle {

inline constexpr char kDescriptionFile[] = "hw.ini";

// [OEMDriverDisk]
inline constexpr char kDescriptionSection[] = "OEMDriverDisk";
inline constexpr char kDescriptionKey[] = "DESCRIPTION";
inline constexpr char kOemNameKey[] = "OEMNAME";
inline constexpr char kOemIdKey[] = "OEMID";
inline constexpr char kVersionKey[] = "VERSION";
inline constexpr char kMinimumVersionKey[] = "MINIMUM_VERSION";
inline constexpr char kRequireRestartKey[] = "REQUIRE_RESTART";

// [TEMPLATES] and [CUST-TOOLS]
inline constexpr char kTemplatesSection[] = "TEMPLATES";
inline constexpr char kRecoveryKey[] = "RECOVERY";

// [DRIVERS]: one line per library, name=option.
inline constexpr char kDriversSection[] = "DRIVERS";
inline constexpr char kRegasmOption[] = "regasm";
inline constexpr char kNoregOption[] = "noreg";
inline constexpr char kDeleteOption[] = "delete";

// The registry settings, in the order they are looked for.
inline constexpr char kRegistrySettingSections[2][17] = {"REGISTY_SETTING", "REGISTRY_SETTING"};
inline constexpr char kCountKey[] = "COUNT";
inline constexpr char kPathKeyPrefix[] = "PATH";
inline constexpr char kValueKeyPrefix[] = "VALUE";

// [CONNECTIONS] and the sections it names.
inline constexpr char kConnectionsSection[] = "CONNECTIONS";
inline constexpr char kConnectionKeyPrefix[] = "CONNECTION";
inline constexpr char kDriverNameKey[] = "DRIVERNAME";
inline constexpr char kDriverIdKey[] = "DRIVERID";
inline constexpr char kTimeoutKey[] = "TIMEOUT";
inline constexpr char kCommentKey[] = "COMMENT";
inline constexpr char kValuesKey[] = "VALUES";

// [CUST-TOOLS]: per tool FILE<n> (its program) and the other keys with the
// same n, matched with their letter case.
inline constexpr char kCustomToolsSection[] = "CUST-TOOLS";
inline constexpr char kToolFileKeyPrefix[] = "FILE";
inline constexpr char kToolTitleKeyPrefix[] = "Title";
inline constexpr const char* kToolKeyPrefixes[] = {kToolTitleKeyPrefix, "Arguments", "CmdShow",
                                                   "InitDir", "QueryArguments"};

inline constexpr char kTcpIpSection[] = "TCPIP";
inline constexpr char kVisibleExtensionsSection[] = "VISIBLE_EXTENSIONS";
inline constexpr char kExtensionsKey[] = "EXT";
inline constexpr char kPostCommandsSection[] = "POST_COMMANDS";

// The bundle's folders.
inline constexpr char kModulesFolder[] = "MODULES";
inline constexpr char kExeFolder[] = "EXE";
inline constexpr char kDriversFolder[] = "DRIVERS";
inline constexpr char kHelpFolder[] = "HELP";
inline constexpr char kPrintFormsFolder[] = "PRINTFORMS";
inline constexpr char kSamplesFolder[] = "SAMPLES";
inline constexpr char kTemplatesFolder[] = "TEMPLATES";
inline constexpr char kLibFolder[] = "LIB";
inline constexpr const char* kFolders[] = {kModulesFolder,   kExeFolder,        kDriversFolder,
                                           kHelpFolder,      kPrintFormsFolder, kSamplesFolder,
                                           kTemplatesFolder, kLibFolder};

// A hardware definition file.
inline constexpr char kModuleSection[] = "MODULE";
inline constexpr char kLibraryKeys[2][13] = {"PCodeDll32", "HConfigDll32"};
inline constexpr char kOpcPaneSection[] = "ENABLE_OPC_PANE";
inline constexpr char kOpcPaneKey[] = "ACTIVE";

// HELP.INI
inline constexpr char kHelpDescriptionFile[] = "HELP.INI";
inline constexpr char kDeleteBeforeSection[] = "DeleteBefore";
inline constexpr char kHelpnodesSection[] = "Helpnodes";

// What the installer reads of a description file, section by section, for
// checking a bundle before it ships. An indexed key is followed by a decimal
// number 1, 2, ...; a section without keys is a list (any key).
struct KnownKey {
  const char* name;
  bool indexed = false;
};
struct KnownSection {
  const char* name;
  std::vector<KnownKey> keys;
};
inline const std::vector<KnownKey> kRegistrySettingKeys = {
    {kCountKey}, {kPathKeyPrefix, true}, {kValueKeyPrefix, true}};
inline const KnownSection kDescriptionSections[] = {
    {kDescriptionSection,
     {{kDescriptionKey},
      {kOemNameKey},
      {kOemIdKey},
      {kVersionKey},
      {kMinimumVersionKey},
      {kRequireRestartKey}}},
    {kTemplatesSection, {{kRecoveryKey}}},
    {kDriversSection, {}},
    {kRegistrySettingSections[0], kRegistrySettingKeys},
    {kRegistrySettingSections[1], kRegistrySettingKeys},
    {kConnectionsSection, {{kCountKey}, {kConnectionKeyPrefix, true}}},
    {kCustomToolsSection,
     {{kRecoveryKey},
      {kToolFileKeyPrefix, true},
      {kToolKeyPrefixes[0], true},
      {kToolKeyPrefixes[1], true},
      {kToolKeyPrefixes[2], true},
      {kToolKeyPrefixes[3], true},
      {kToolKeyPrefixes[4], true}}},
    {kPostCommandsSection, {}},
    {kTcpIpSection, {{kTimeoutKey}}},
    {kVisibleExtensionsSection, {{kExtensionsKey}}},
};
// A section [CONNECTIONS] names.
inline const std::vector<KnownKey> kConnectionKeys = {
    {kDriverNameKey}, {kDriverIdKey}, {kTimeoutKey}, {kCommentKey}, {kValuesKey}};
inline constexpr const char* kHelpDescriptionSections[] = {kDeleteBeforeSection, kHelpnodesSection};

// The description file of a bundle unpacked into `bundle_temp_dir`.
std::string DescriptionPath(const std::string& bundle_temp_dir);

}  // namespace kestrin::bundle

#endif  // KESTRIN_BUNDLE_BUNDLE_FORMAT_H_
