#include "app/program_info.h"

namespace kestrin {

const char kUsagePlaces[] =
    "Registry (HKEY_LOCAL_MACHINE, 32-bit view): the default values of the keys\n"
    "SOFTWARE\\Brantel\\Korvane\\Settings\\IniPath and ...\\Settings\\ProgramDataDir\n"
    "name the Korvane folders.\n"
    "Bundles are unpacked below Brantel\\Temp in %LOCALAPPDATA%; driver libraries go\n"
    "to the folder of the kestrin program.\n";

const char kUsageRefusal[] =
    "  2  refused to start before writing anything: the registry names no Korvane\n"
    "     (IniPath or ProgramDataDir missing or not absolute) or an argument holds\n"
    "     a double quote; the reason is one line on standard error\n";

}  // namespace kestrin
