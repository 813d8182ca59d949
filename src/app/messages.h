// The texts Kestrin reports. They are part of the log format that users and
// their scripts read: keep them exactly as they stand.
#ifndef KESTRIN_APP_MESSAGES_H_
#define KESTRIN_APP_MESSAGES_H_

namespace kestrin::msg {

// Start-up (silent mode header).
inline constexpr char kSilentHeader[] = "Kestrin - Silent Mode - Installation Process:";
inline constexpr char kModeForce[] = "Mode: Force-Overwrite!";
inline constexpr char kModeNoForce[] = "Mode: No-Force-Overwrite!";

// Information list and log.
inline constexpr char kLogFileName[] = "TargetDriverInstall.log";
inline constexpr char kSelectPrompt[] = "Please select a driver cabinet file you wish to install.";

// Main dialog: the information block of the selected bundles and its texts.
inline constexpr char kInfoAbout[] = "Information about bundle: %s:";
inline constexpr char kInfoManufacturer[] = "Manufacturer: %s";
inline constexpr char kChooseDirectory[] =
    "Please choose a directory, where driver bundles from your OEM are located.";
// The dialog's control texts are in ui/main_dialog_controls.def.
inline constexpr char kChangeView[] = "Change view";
inline constexpr char kColumnFilepath[] = "Filepath";
inline constexpr char kColumnOemName[] = "OEM Name";
inline constexpr char kColumnDescription[] = "Description";
inline constexpr char kColumnVersion[] = "Version";

// Installation run.
inline constexpr char kInteractiveHeader[] = "Kestrin - Installation Process:";
inline constexpr char kNoCabFiles[] = "Error: No Cab-files in command-line.";
inline constexpr char kNowInstalling[] = "Now installing bundle %d: %s";
inline constexpr char kRunErrors[] =
    "There were errors during the installation process. You may re-run the installation again.";
inline constexpr char kRequiresRestart[] =
    "The installed driver bundle requires a restart of Korvane.";
inline constexpr char kTempRemoved[] = " *** Temp directory successfully removed ***";
inline constexpr char kTempNotRemoved[] = "ERROR removing temp directory";
inline constexpr char kCompleted[] = " *** Kestrin completed installing target driver  ***";

// One installation at a time, and its journal.
inline constexpr char kWaitingForInstallation[] =
    "Another installation into this Korvane is running; waiting for it to end.";
inline constexpr char kStoppedWaiting[] = "Stopped waiting for the other installation; nothing was installed.";
inline constexpr char kCannotLockKorvane[] = "ERROR: cannot lock the Korvane installation: %s";
inline constexpr char kCannotJournal[] = "ERROR: cannot write the journal of this installation: %s";
inline constexpr char kRolledBackInterrupted[] = "Rolled back the interrupted installation of %s";
inline constexpr char kNotPutBack[] = "ERROR: not put back: %s";

// Bundle preparation.
inline constexpr char kProductDirLine[] = "Korvane installation directory: %s";
inline constexpr char kIniDirLine[] = "Korvane INI-File directory: %s";
inline constexpr char kNoTempDir[] = "ERROR: Could not create temp directory %s";
inline constexpr char kNotExtracted[] = "ERROR: Could not extract driver bundle file";
inline constexpr char kDescription[] = "Driver bundle description: %s";
inline constexpr char kManufacturer[] = "Manufacturer: %s (ID %d)";
inline constexpr char kVersion[] = "Version: %s";
inline constexpr char kFileCount[] = "Driver bundle has %d files";
inline constexpr char kMinimumVersion[] = "Minimum Korvane version: %s";
inline constexpr char kNotSpecified[] = "not specified";
inline constexpr char kTooOld[] =
    "ERROR: Installed Korvane version (%s) older than specified minimum version (%s)";

}  // namespace kestrin::msg

#endif  // KESTRIN_APP_MESSAGES_H_
