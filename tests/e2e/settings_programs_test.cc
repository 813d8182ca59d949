// A silent run of a bundle that uses every section of the settings and
// program steps: what it leaves in the registry store, CUSTTOOL.INI, the
// post command's marker and the log.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "app/test_korvane.h"

namespace kestrin::testing {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Whether `wanted` appears in `lines` in this order (other lines between).
bool InOrder(const Lines& lines, const Lines& wanted, std::string* missing) {
  size_t at = 0;
  for (const std::string& line : wanted) {
    while (at < lines.size() && lines[at] != line) ++at;
    if (at == lines.size()) {
      *missing = line;
      return false;
    }
    ++at;
  }
  return true;
}

TEST(SettingsAndProgramsRun, SilentRunWritesEverySetting) {
  TestKorvane korvane;
  const fs::path product = korvane.product_dir();
  const fs::path data = korvane.root() / "korvane" / "Data";
  // The post command: sleeps, then writes the marker; kestrin must wait for it.
  WriteFileOrDie(product / "mark.sh",
                 "#!/bin/sh\nsleep 1\nprintf '%s\\n' \"$2\" > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"\n");
  chmod((product / "mark.sh").c_str(), 0755);
  // An installed definition that asks for the OPC pane, and a tool list
  // that already holds one of the bundle's tools.
  const std::string opc = "[MODULE]\n[ENABLE_OPC_PANE]\nACTIVE=1\n";
  WriteFileOrDie(korvane.ini_dir() / "MODULES" / "FX.INI", opc);
  WriteFileOrDie(korvane.ini_dir() / "System" / "CUSTTOOL.INI",
                 "[CUST-TOOLS]\nFILE2=tool.exe\nTitle2=Tool\n");

  const fs::path cab = korvane.root() / "in" / "fx.cab";
  PackWithGcab(cab.string(), {{"hw.ini", HwIni("Desc fx.cab", "42", "",
                                     "[REGISTRY_SETTING]\nCOUNT=2\nPATH1=Fennick\\FX200\n"
                                     "VALUE1=installed\nPATH2=\\Fennick\\Port\nVALUE2=502\n"
                                     "[CUST-TOOLS]\nFILE1=tool.exe\nTitle1=Tool\n"
                                     "FILE2=viewer.exe\nTitle2=Viewer\nArguments2=/r\n"
                                     "[TCPIP]\nTIMEOUT=3000\n"
                                     "[VISIBLE_EXTENSIONS]\nEXT=.FXP;.pro\n"
                                     "[POST_COMMANDS]\n1=\"$BinDir/Mark.sh\" "
                                     "\"$AppDataDir/Marker.txt\" Done\n")},
                    {"MODULES/FX.INI", opc}});

  std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY";
  for (const std::string& assignment : korvane.Environment()) command += " " + Quoted(assignment);
  command += " " + Quoted(KESTRIN_PROGRAM) + " /s " + Quoted(cab.string()) + " </dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  // The store and the tool list are read as text, not through the code under test.
  const std::string store = ReadFileOrDie(korvane.registry());
  for (const auto& [key, value] :
       {std::pair{"BRWTREECTRL\\OPCPANEENABLED", "1"}, {"Fennick\\FX200", "installed"},
        {"Fennick\\Port", "502"}, {"Online\\TcpDriverTimeout_ms", "3000"},
        {"BRWTREECTRL\\VISIBLEEXTENSIONS", ".pro;.poe;.fxp"}}) {
    const std::string entry = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\" +
                              std::string(key) + "]\n@=\"" + value + "\"\n";
    EXPECT_NE(store.find(entry), std::string::npos) << entry << "in\n" << store;
  }
  EXPECT_EQ(ReadFileOrDie(korvane.ini_dir() / "System" / "CUSTTOOL.INI"),
            "[CUST-TOOLS]\nFILE2=tool.exe\nTitle2=Tool\nFILE3=viewer.exe\nTitle3=Viewer\n"
            "Arguments3=/r\nCmdShow3=\nInitDir3=\nQueryArguments3=\n");

  // The marker is complete when kestrin ends: it waited for the command.
  EXPECT_EQ(ReadFileOrDie(data / "marker.txt"), "done\n");

  const std::string run = "\"" + product.string() + "/mark.sh\" \"" + data.string() +
                          "/marker.txt\" done";
  const Lines expected = {" *** OPC Pane enabled ***",
                          " *** Registry entries set successfully ***",
                          "Custom tool was discarded in silent mode: tool.exe.",
                          "Custom tool added: viewer.exe.",
                          " *** TCPIP Timeout set successfully ***",
                          " *** Visible file extensions added successfully ***",
                          "Execute command '" + run + "'.",
                          " *** Execution of post commands finished ***",
                          " *** Temp directory successfully removed ***",
                          " *** Kestrin completed installing target driver  ***"};
  const Lines log = LogTexts(korvane.log());
  std::string missing;
  EXPECT_TRUE(InOrder(log, expected, &missing)) << "missing or out of order: " << missing;
  // Custom tools returned 1 (a tool was discarded): no success line for it.
  EXPECT_EQ(std::count(log.begin(), log.end(), " *** Custom Tools added ***"), 0);
}

}  // namespace
}  // namespace kestrin::testing
