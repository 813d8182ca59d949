#include "app/program_info.h"

#include "kestrin_version.h"

namespace kestrin {
namespace {

// Keep in step with man/kestrin.1.
const char kUsage[] =
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
    "\n"
#ifdef _WIN32
    "Registry (HKEY_LOCAL_MACHINE, 32-bit view): the default values of the keys\n"
    "SOFTWARE\\Brantel\\Korvane\\Settings\\IniPath and ...\\Settings\\ProgramDataDir\n"
    "name the Korvane folders.\n"
    "Bundles are unpacked below Brantel\\Temp in %LOCALAPPDATA%; driver libraries go\n"
    "to the folder of the kestrin program.\n"
#else
    "Environment:\n"
    "  KESTRIN_REGISTRY     the registry store that names the Korvane folders\n"
    "                       (default $XDG_CONFIG_HOME/Brantel/registry.reg, that is\n"
    "                       ~/.config/Brantel/registry.reg)\n"
    "  KESTRIN_PRODUCT_DIR  the Korvane program folder, where driver libraries go\n"
    "                       (default: the folder of the kestrin program)\n"
    "  XDG_DATA_HOME        bundles are unpacked below Brantel/Temp in this folder\n"
    "                       (default ~/.local/share)\n"
#endif
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
    "     the reason is one line on standard error; /s needs no display\n"
#ifdef _WIN32
    "  2  refused to start before writing anything: the registry names no Korvane\n"
    "     (IniPath or ProgramDataDir missing or not absolute) or an argument holds\n"
    "     a double quote; the reason is one line on standard error\n"
#else
    "  2  refused to start before writing anything: the registry store cannot be\n"
    "     read or names no Korvane (IniPath or ProgramDataDir missing or not\n"
    "     absolute), XDG_DATA_HOME is not absolute, or an argument holds a double\n"
    "     quote; the reason is one line on standard error\n"
#endif
    "\n"
    "See kestrin(1) and kestrin-cab(1).\n";

}  // namespace

std::optional<std::string> ProgramInfoText(const std::vector<std::string>& args) {
  if (args.size() != 1) return std::nullopt;
  if (args[0] == "--help" || args[0] == "-h") return std::string(kUsage);
  if (args[0] == "--version") return std::string("kestrin " KESTRIN_VERSION "\n");
  return std::nullopt;
}

}  // namespace kestrin
