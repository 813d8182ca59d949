#include "app/program_info.h"

#include "kestrin_version.h"

namespace kestrin {
namespace {

// Keep in step with man/kestrin.1.
const char kUsageStart[] =
    "Usage: kestrin [/s] [/f] [/r] [/i=DIR] [BUNDLE.cab | DIRECTORY]...\n"
    "       kestrin --help | -h | --version\n"
    "\n"
    "Installs OEM driver bundles (cabinet files with an hw.ini) into the Korvane\n"
    "installation that the registry store names. Without /s the main dialog opens\n"
    "on the bundles and directories named, or on the Korvane bundle folder OEMCAB.\n"
    "\n"
    "  /s       silent: install the bundle files named, and every usable *.cab in\n"
    "           the directories named, without a window and without asking\n"
    "  /f       force: where a bundle would overwrite what another vendor's bundle\n"
    "           installed, a silent run overwrites it (without /f it leaves it)\n"
    "  /r       recover: when exactly one bundle is installed, empty its template\n"
    "           folder first (the dialog asks); the dialog allows one bundle only\n"
    "  /i=DIR   the folder that post commands see as $BinDir (default: the Korvane\n"
    "           program folder); /i=\"DIR WITH BLANKS\" works too\n"
    "\n"
    "Switches ignore case and may stand anywhere; every other word is a bundle file\n"
    "or directory. Quote a name that holds blanks; a name holding a double quote\n"
    "cannot be passed.\n"
    "\n";

// The platform's part of the usage (program_info_posix.cc,
// program_info_win32.cc) follows: where Kestrin finds Korvane, then this, then
// why it refuses to start, then the rest.
const char kUsageAfterPlaces[] =
    "\n"
    "Files (IniPath is the Korvane INI folder named in the registry):\n"
    "  IniPath/OEMCAB/TargetDriverInstall.log  the log: every report line of every\n"
    "                                          run is appended, with its time\n"
    "  IniPath/OEMCAB/                         a copy of each installed bundle file\n"
    "  IniPath/instlog.ini                     which OEM installed which file, when\n"
    "\n"
    "Exit status:\n"
    "  0  the run ended; how each bundle fared is in the log, not in the status\n"
    "  1  the dialog cannot open (no display, or a build without the dialog);\n"
    "     the reason is one line on standard error; /s needs no display\n";

const char kUsageEnd[] =
    "\n"
    "See kestrin(1) and kestrin-cab(1).\n";

}  // namespace

std::optional<std::string> ProgramInfoText(const std::vector<std::string>& args) {
  if (args.size() != 1) return std::nullopt;
  if (args[0] == "--help" || args[0] == "-h") {
    return std::string(kUsageStart) + kUsagePlaces + kUsageAfterPlaces + kUsageRefusal + kUsageEnd;
  }
  if (args[0] == "--version") return std::string("kestrin " KESTRIN_VERSION "\n");
  return std::nullopt;
}

}  // namespace kestrin
