#include "app/program_info.h"

namespace kestrin {

const char kUsagePlaces[] =
    "Environment:\n"
    "  KESTRIN_REGISTRY     the registry store that names the Korvane folders\n"
    "                       (default $XDG_CONFIG_HOME/Brantel/registry.reg, that is\n"
    "                       ~/.config/Brantel/registry.reg)\n"
    "  KESTRIN_PRODUCT_DIR  the Korvane program folder, where driver libraries go\n"
    "                       (default: the folder of the kestrin program)\n"
    "  XDG_DATA_HOME        bundles are unpacked below Brantel/Temp in this folder\n"
    "                       (default ~/.local/share)\n";

const char kUsageRefusal[] =
    "  2  refused to start before writing anything: the registry store cannot be\n"
    "     read or names no Korvane (IniPath or ProgramDataDir missing or not\n"
    "     absolute), XDG_DATA_HOME is not absolute, or an argument holds a double\n"
    "     quote; the reason is one line on standard error\n";

}  // namespace kestrin
