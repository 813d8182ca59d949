// Silent runs of kestrin with bundles that use every step: what lands in the
// test Korvane, the module registry, the installation record, the help tree
// and settings in the registry store, CUSTTOOL.INI, the connection file, the
// post command's marker and the log; then another vendor's bundle of the same names over it,
// without and with /f.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <sstream>

#include "app/test_korvane.h"
#include "e2e/run_kestrin.h"

namespace kestrin::testing {
namespace {

using Ini = std::map<std::string, std::map<std::string, std::string>>;

// Each file holds its expected content.
void ExpectFiles(const std::vector<std::pair<fs::path, std::string>>& files) {
  for (const auto& [path, content] : files) EXPECT_EQ(ReadFileOrDie(path), content) << path;
}

std::string TestLib(const std::string& name) {
  return ReadFileOrDie(std::string(KESTRIN_TEST_LIB_DIR) + "/" + name + ".so");
}

// An INI file as section -> (key -> value), read without the code under test.
Ini ReadIni(const fs::path& path) {
  Ini ini;
  std::string section;
  std::istringstream in(ReadFileOrDie(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
    } else if (const size_t eq = line.find('='); eq != std::string::npos) {
      ini[section][line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return ini;
}

// The OEM IDs recorded for an item, oldest first; a key that is not a UTC
// minute "YYYY-MM-DD-hh-mm" fails the test.
std::vector<std::string> Owners(const TestKorvane& korvane, const std::string& item) {
  std::vector<std::string> owners;
  Ini record = ReadIni(korvane.ini_dir() / "instlog.ini");
  for (const auto& [stamp, oem] : record[item]) {
    bool ok = stamp.size() == 16;
    for (size_t i = 0; ok && i < 16; ++i) {
      ok = i == 4 || i == 7 || i == 10 || i == 13 ? stamp[i] == '-' : isdigit(stamp[i]) != 0;
    }
    EXPECT_TRUE(ok) << stamp;
    owners.push_back(oem);
  }
  return owners;
}

// The default value of a key below the Korvane settings, read from the
// store's text: "" when the key is not there.
std::string Setting(const TestKorvane& korvane, const std::string& key) {
  const std::string store = ReadFileOrDie(korvane.registry());
  const std::string header =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\" + key + "]\n@=\"";
  const size_t at = store.find(header);
  if (at == std::string::npos) return "";
  const size_t start = at + header.size();
  return store.substr(start, store.find("\"\n", start) - start);
}

const std::string kSettingSections =
    "[REGISTRY_SETTING]\nCOUNT=2\nPATH1=Fennick\\FX200\nVALUE1=installed\n"
    "PATH2=\\Fennick\\Port\nVALUE2=502\n"
    "[CUST-TOOLS]\nFILE1=tool.exe\nTitle1=Tool\nFILE2=viewer.exe\nTitle2=Viewer\nArguments2=/r\n"
    "[TCPIP]\nTIMEOUT=3000\n[VISIBLE_EXTENSIONS]\nEXT=.FXP;.pro\n"
    "[POST_COMMANDS]\n1=\"$BinDir/Mark.sh\" \"$AppDataDir/Marker.txt\" Done\n"
    "[CONNECTIONS]\nCOUNT=2\nCONNECTION1=FX200 Hall 1\nCONNECTION2=FX200 Bench\n"
    "[FX200 Hall 1]\nDRIVERNAME=FX200 Ethernet\nDRIVERID=56-1234\nTIMEOUT=3000\n"
    "COMMENT=Line 3\nVALUES=Hall1_Values\n"
    "[Hall1_Values]\nIpAddress=192.168.0.10\nComputerName=plc-hall1\n"
    "[FX200 Bench]\nDRIVERNAME=FX200 Serial\nDRIVERID=1234-57\nTIMEOUT=0\n";
// One of those connections again: the server refuses it, but it is configured.
const std::string kConnectionAgain =
    "[CONNECTIONS]\nCOUNT=1\nCONNECTION1=FX200 BENCH\n"
    "[FX200 BENCH]\nDRIVERNAME=X\nDRIVERID=1234-57\nTIMEOUT=9\n";

// A bundle of `oem` with 14 files, each holding `tag`: module A (two
// libraries, a global file, asking for the OPC pane), two driver libraries,
// help pages, a print form, a sample, templates and a library; `sections`
// added to its hw.ini.
std::string StepsBundle(const TestKorvane& korvane, const std::string& name,
                        const std::string& oem, const std::string& tag,
                        const std::string& driver_lib, const std::string& sections) {
  const fs::path cab = korvane.root() / "in" / name;
  PackWithGcab(
      cab.string(),
      {{"hw.ini", HwIni("Desc " + name, oem, "",
                        "[DRIVERS]\ndrv.so\nplain.so = NoReg\nmissing.so\n" + sections)},
       {"MODULES/A.INI", "[MODULE]\nName=" + tag +
                             "\nPCodeDll32=a_pc.dll\nHConfigDll32=a_hc.dll\n"
                             "[ENABLE_OPC_PANE]\nACTIVE=1\n"},
       {"MODULES/A/G.INI", "global " + tag},
       {"EXE/a_pc.dll", "pcode " + tag},
       {"EXE/a_hc.dll", "hconfig " + tag},
       {"DRIVERS/drv.so", TestLib(driver_lib)},
       {"DRIVERS/plain.so", "plain " + tag},
       {"HELP/HELP.INI",
        "[DeleteBefore]\r\nold.htm=1\r\n[Helpnodes]\r\nmain.htm=Main " + tag + "\r\n"},
       {"HELP/main.htm", "help " + tag},
       {"PRINTFORMS/IO.FRM", "form " + tag},
       {"SAMPLES/Blink/Blink.kvp", "sample " + tag},
       {"TEMPLATES/Std/Std.kvp", "template " + tag},
       {"TEMPLATES/top.kvt", "top " + tag},
       {"LIB/IoLib/io.lib", "lib " + tag}});
  return cab.string();
}

TEST(StepsRunTest, InstallsThenGuardsAnotherVendorsItemsUnlessForced) {
  TestKorvane korvane;
  const fs::path mark = korvane.root() / "registered";
  std::vector<std::string> env = korvane.Environment();
  env.push_back("KESTRIN_REGISTER_MARK=" + mark.string());
  const fs::path ini = korvane.ini_dir(), modules = ini / "MODULES", program = korvane.product_dir();
  const fs::path data = korvane.root() / "korvane" / "Data";
  const std::string p = program.string();
  // The post command sleeps before it writes the marker: kestrin must wait.
  WriteFileOrDie(program / "mark.sh",
                 "#!/bin/sh\nsleep 1\nprintf '%s\\n' \"$2\" > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"\n");
  chmod((program / "mark.sh").c_str(), 0755);
  WriteFileOrDie(ini / "System" / "CUSTTOOL.INI", "[CUST-TOOLS]\nFILE2=tool.exe\nTitle2=Tool\n");

  auto header = [](bool force) {
    return Lines{"Kestrin - Silent Mode - Installation Process:",
                 force ? "Mode: Force-Overwrite!" : "Mode: No-Force-Overwrite!", ""};
  };
  // The module's lines; silent mode upper-cases the bundle paths it unpacks to.
  auto module_lines = [&](const std::string& cab, bool listed) {
    const std::string temp = (korvane.temp_root() / Upper(cab)).string();
    Lines lines = {"copied ini file for hardware A.INI"};
    if (!listed) lines.push_back("registered hardware A.INI as module1 in hardware.ini");
    lines.insert(lines.end(), {"copied global definition files for hardware A",
                               "copied " + temp + "/EXE/a_pc.dll to " + p,
                               "copied " + temp + "/EXE/a_hc.dll to " + p});
    return lines;
  };
  const Lines kFolders = {" *** Help libraries successfully copied ***",
                          " *** Print forms successfully copied ***",
                          " *** Samples directory successfully copied ***",
                          " *** Samples added successfully ***",
                          "Lib directory successfully copied: IoLib",
                          " *** Lib-files added successfully ***",
                          "Template subfolder successfully copied: Std",
                          " *** Templates copied successfully ***"};
  const std::string kOpc = " *** OPC Pane enabled ***";
  // A connection the server refused shows only as the summary line.
  const Lines kFailed = {"There were errors during the installation process. You may re-run "
                         "the installation again."};

  // 1. OEM 42 into an empty Korvane: everything lands and is recorded.
  const std::string first = StepsBundle(korvane, "first.cab", "42", "first", "test_register_ok",
                                         kSettingSections);
  tRunResult run = RunKestrin({"/s", first}, env);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out + run.err, "");
  const Lines first_log = Cat(
      {header(false), PreparedLines(korvane, "Desc first.cab", 42, 14),
       module_lines("first.cab", false),
       {" *** Hardware installation finished ***", "copied driver dll drv.so to " + p,
        "successfully registered driver dll drv.so", "copied driver dll plain.so to " + p,
        " *** Driver installation finished ***", "ERROR: old.htm could not be deleted"},
       kFolders,
       {" *** Connections installed ***", kOpc, " *** Registry entries set successfully ***",
        // Custom tools returned 1 (a tool was discarded): no success line.
        "Custom tool was discarded in silent mode: tool.exe.", "Custom tool added: viewer.exe.",
        " *** TCPIP Timeout set successfully ***",
        " *** Visible file extensions added successfully ***",
        "Execute command '\"" + p + "/mark.sh\" \"" + data.string() + "/marker.txt\" done'.",
        " *** Execution of post commands finished ***"},
       kCompletionLines});
  EXPECT_EQ(LogTexts(korvane.log()), first_log);
  EXPECT_EQ(ReadFileOrDie(data / "marker.txt"), "done\n");  // complete: kestrin waited
  ExpectFiles({
      {modules / "A/G.INI", "global first"}, {program / "a_pc.dll", "pcode first"},
      {program / "drv.so", TestLib("test_register_ok")}, {mark, "register;"}});
  EXPECT_FALSE(fs::exists(program / "missing.so"));
  const auto registry = ReadIni(modules / "MODULES.INI").at("Modules");
  EXPECT_EQ(registry, (std::map<std::string, std::string>{
                          {"Count", "1"}, {"Module1", "A"}, {"A", "A.INI"}}));
  for (const char* item : {"$MODULES\\A.INI", "drv.so", "plain.so", "$SAMPLES\\Blink"}) {
    EXPECT_EQ(Owners(korvane, item), std::vector<std::string>{"42"}) << item;
  }
  EXPECT_EQ(ReadFileOrDie(data / "WebHelp/42/HELP.INI").substr(0, 14), "[DeleteBefore]");
  ExpectFiles({
      {data / "WebHelp/42/main.htm", "help first"}, {ini / "Printforms/42/IO.FRM", "form first"},
      {data / "SAMPLES/Blink/Blink.kvp", "sample first"}, {ini / "LIB/IoLib/io.lib", "lib first"},
      {ini / "TEMPLATES/Std/Std.kvp", "template first"}, {ini / "TEMPLATES/top.kvt", "top first"}});
  for (const auto& [key, value] : std::map<std::string, std::string>{
           {"BRWTREECTRL\\HELPFILE_COUNT", "1"}, {"BRWTREECTRL\\HELPFILE_NODENAME1", "Main first"},
           {"BRWTREECTRL\\HELPFILE_PATH1", (data / "WebHelp/42/main.htm").string()},
           {"BRWTREECTRL\\OPCPANEENABLED", "1"}, {"Fennick\\FX200", "installed"},
           {"Fennick\\Port", "502"}, {"Online\\TcpDriverTimeout_ms", "3000"},
           {"BRWTREECTRL\\VISIBLEEXTENSIONS", ".pro;.poe;.fxp"}}) {
    EXPECT_EQ(Setting(korvane, key), value) << key;
  }
  EXPECT_EQ(ReadFileOrDie(ini / "System" / "CUSTTOOL.INI"),
            "[CUST-TOOLS]\nFILE2=tool.exe\nTitle2=Tool\nFILE3=viewer.exe\nTitle3=Viewer\n"
            "Arguments3=/r\nCmdShow3=\nInitDir3=\nQueryArguments3=\n");
  const std::string record = ReadFileOrDie(ini / "instlog.ini");

  // 2. OEM 7 without /f: its own help and print-form folders are new; the
  // files, the sample and the library of OEM 42 stay, unrecorded for OEM 7;
  // templates have no overwrite rule.
  const std::string second =
      StepsBundle(korvane, "second.cab", "7", "second", "test_register_fails", kConnectionAgain);
  run = RunKestrin({"/s", second}, env);
  EXPECT_EQ(run.exit_status, 0);
  const Lines second_log =
      Cat({header(false), PreparedLines(korvane, "Desc second.cab", 7, 14),
           {" *** Hardware installation finished ***", " *** Driver installation finished ***",
            "ERROR: old.htm could not be deleted", kFolders[0], kFolders[1], kFolders[3],
            "No overwriting was set with silent-mode for copying lib: IoLib",
            "NONE of the existing libs where copied.", kFolders[6], kFolders[7], kOpc,
            " *** Execution of post commands finished ***"},
           kCompletionLines, kFailed});
  EXPECT_EQ(LogTexts(korvane.log()), Cat({first_log, second_log}));
  EXPECT_NE(ReadFileOrDie(modules / "A.INI").find("Name=first"), std::string::npos);
  ExpectFiles({
      {modules / "A/G.INI", "global first"}, {program / "a_hc.dll", "hconfig first"},
      {program / "plain.so", "plain first"}, {program / "drv.so", TestLib("test_register_ok")},
      {mark, "register;"}});
  EXPECT_EQ(ReadFileOrDie(ini / "instlog.ini"), record);
  ExpectFiles({
      {data / "WebHelp/42/main.htm", "help first"}, {data / "WebHelp/7/main.htm", "help second"},
      {ini / "Printforms/42/IO.FRM", "form first"}, {ini / "Printforms/7/IO.FRM", "form second"},
      {data / "SAMPLES/Blink/Blink.kvp", "sample first"}, {ini / "LIB/IoLib/io.lib", "lib first"},
      {ini / "TEMPLATES/Std/Std.kvp", "template second"}});
  EXPECT_EQ(Setting(korvane, "BRWTREECTRL\\HELPFILE_COUNT"), "2");
  EXPECT_EQ(Setting(korvane, "BRWTREECTRL\\HELPFILE_PATH1"), (data / "WebHelp/42/main.htm").string());
  EXPECT_EQ(Setting(korvane, "BRWTREECTRL\\HELPFILE_PATH2"), (data / "WebHelp/7/main.htm").string());

  // 3. With /f: everything of OEM 7 goes in, is registered again and
  // recorded for OEM 7; the module and the help page are not listed twice
  // and the obsolete page of OEM 7's help folder is gone.
  WriteFileOrDie(data / "WebHelp/7/old.htm", "obsolete");
  run = RunKestrin({"/s", "/f", second}, env);
  EXPECT_EQ(run.exit_status, 0);
  const Lines forced_log =
      Cat({header(true), PreparedLines(korvane, "Desc second.cab", 7, 14),
           module_lines("second.cab", true),
           {" *** Hardware installation finished ***", "copied driver dll drv.so to " + p,
            "ERROR registering driver dll drv.so", "copied driver dll plain.so to " + p,
            " *** Driver installation finished ***", "old.htm deleted."},
           kFolders, {kOpc, " *** Execution of post commands finished ***"}, kCompletionLines,
           kFailed});
  EXPECT_EQ(LogTexts(korvane.log()), Cat({first_log, second_log, forced_log}));
  EXPECT_FALSE(fs::exists(data / "WebHelp/7/old.htm"));
  ExpectFiles({
      {data / "WebHelp/42/main.htm", "help first"}, {ini / "LIB/IoLib/io.lib", "lib second"},
      {data / "SAMPLES/Blink/Blink.kvp", "sample second"},
      {modules / "A/G.INI", "global second"}, {program / "a_pc.dll", "pcode second"},
      {program / "plain.so", "plain second"}, {program / "drv.so", TestLib("test_register_fails")},
      {mark, "register;register;"}});
  EXPECT_EQ(ReadIni(modules / "MODULES.INI").at("Modules"), registry);
  EXPECT_EQ(Setting(korvane, "BRWTREECTRL\\HELPFILE_COUNT"), "2");
  EXPECT_EQ(ReadFileOrDie(data / "telvor.con"),
            "[FX200 Hall 1]\r\nComplete=1\r\nDriverName=FX200 Ethernet\r\n"
            "DriverClassId={C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8}\r\nTimeout=3000\r\n"
            "Option16=50\r\nComment=Line 3\r\nOption22=\r\n"
            "Property.ComputerName=plc-hall1\r\nProperty.IpAddress=192.168.0.10\r\n"
            "[FX200 Bench]\r\nComplete=1\r\nDriverName=X\r\n"
            "DriverClassId={C7A41E50-1234-57A1-9C3B-7A3E15C0D2B8}\r\nTimeout=9\r\n"
            "Option16=50\r\nComment=This Connection is created automaticly for FX200 BENCH.\r\n"
            "Option22=\r\n");
  for (const char* item : {"$MODULES\\A.INI", "drv.so", "plain.so", "$SAMPLES\\Blink"}) {
    const std::vector<std::string> owners = Owners(korvane, item);
    ASSERT_FALSE(owners.empty()) << item;
    // Both runs may fall in the same minute, which then holds the newer owner.
    EXPECT_EQ(owners.back(), "7") << item;
  }
}

}  // namespace
}  // namespace kestrin::testing
