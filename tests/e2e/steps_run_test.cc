// Silent runs with bundles that use every step: the log line by line, where
// the files land, the installation record, the registry store, the connection
// file and the post command's marker; then another vendor's bundle of the same
// names over it, without and with /f. Each step in detail: tests/steps, tests/connections.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "e2e/run_kestrin.h"

namespace kestrin::testing {
namespace {

void ExpectFiles(const std::vector<std::pair<fs::path, std::string>>& files) {
  for (const auto& [path, content] : files) EXPECT_EQ(ReadFileOrDie(path), content) << path;
}

std::string TestLib(const std::string& name) {
  return ReadFileOrDie(std::string(KESTRIN_TEST_LIB_DIR) + "/" + name + ".so");
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
       {"MODULES/A/G.INI", "global " + tag}, {"EXE/a_pc.dll", "pcode " + tag},
       {"EXE/a_hc.dll", "hconfig " + tag}, {"DRIVERS/drv.so", TestLib(driver_lib)},
       {"DRIVERS/plain.so", "plain " + tag},
       {"HELP/HELP.INI",
        "[DeleteBefore]\r\nold.htm=1\r\n[Helpnodes]\r\nmain.htm=Main " + tag + "\r\n"},
       {"HELP/main.htm", "help " + tag}, {"PRINTFORMS/IO.FRM", "form " + tag},
       {"SAMPLES/Blink/Blink.kvp", "sample " + tag}, {"TEMPLATES/Std/Std.kvp", "template " + tag},
       {"TEMPLATES/top.kvt", "top " + tag}, {"LIB/IoLib/io.lib", "lib " + tag}});
  return cab.string();
}

TEST(StepsRunTest, InstallsThenGuardsAnotherVendorsItemsUnlessForced) {
  TestKorvane korvane;
  const fs::path mark = korvane.root() / "registered";
  const std::vector<std::string> env = {"KESTRIN_REGISTER_MARK=" + mark.string()};
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
  const Lines kFolders = {
      " *** Help libraries successfully copied ***", " *** Print forms successfully copied ***",
      " *** Samples directory successfully copied ***", " *** Samples added successfully ***",
      "Lib directory successfully copied: IoLib", " *** Lib-files added successfully ***",
      "Template subfolder successfully copied: Std", " *** Templates copied successfully ***"};
  const std::string kOpc = " *** OPC Pane enabled ***";
  // A connection the server refused shows only as the summary line.
  const Lines kFailed = {"There were errors during the installation process. You may re-run "
                         "the installation again."};

  // 1. OEM 42 into an empty Korvane: everything lands and is recorded.
  const std::string first = StepsBundle(korvane, "first.cab", "42", "first", "test_register_ok",
                                         kSettingSections);
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
  EXPECT_EQ(RunSilent(korvane, {first}, env), first_log);
  EXPECT_EQ(ReadFileOrDie(data / "marker.txt"), "done\n");  // complete: kestrin waited
  ExpectFiles({
      {modules / "A/G.INI", "global first"}, {program / "a_pc.dll", "pcode first"},
      {program / "drv.so", TestLib("test_register_ok")}, {mark, "register;"},
      {data / "WebHelp/42/main.htm", "help first"}, {ini / "Printforms/42/IO.FRM", "form first"},
      {data / "SAMPLES/Blink/Blink.kvp", "sample first"}, {ini / "LIB/IoLib/io.lib", "lib first"},
      {ini / "TEMPLATES/Std/Std.kvp", "template first"}, {ini / "TEMPLATES/top.kvt", "top first"}});
  // The module registry lists A once, in this run and in the forced one.
  const std::string listed = "[Modules]\r\nCount=1\r\nModule1=A\r\nA=A.INI\r\n";
  EXPECT_EQ(ReadFileOrDie(modules / "MODULES.INI"), listed);
  const std::string record = ReadFileOrDie(ini / "instlog.ini");
  const std::string store = ReadFileOrDie(korvane.registry());
  for (const char* entry : {"Fennick\\FX200]\n@=\"installed\"", "Fennick\\Port]\n@=\"502\"",
                            "TcpDriverTimeout_ms]\n@=\"3000\"", "OPCPANEENABLED]\n@=\"1\"",
                            "VISIBLEEXTENSIONS]\n@=\".pro;.poe;.fxp\""})
    EXPECT_NE(store.find(entry), std::string::npos) << entry;

  // 2. OEM 7 without /f: its own help and print-form folders are new; the
  // files, the sample and the library of OEM 42 stay, the record unchanged;
  // templates have no overwrite rule.
  const std::string second =
      StepsBundle(korvane, "second.cab", "7", "second", "test_register_fails", kConnectionAgain);
  const Lines second_log =
      Cat({header(false), PreparedLines(korvane, "Desc second.cab", 7, 14),
           {" *** Hardware installation finished ***", " *** Driver installation finished ***",
            "ERROR: old.htm could not be deleted", kFolders[0], kFolders[1], kFolders[3],
            "No overwriting was set with silent-mode for copying lib: IoLib",
            "NONE of the existing libs where copied.", kFolders[6], kFolders[7], kOpc,
            " *** Execution of post commands finished ***"},
           kCompletionLines, kFailed});
  EXPECT_EQ(RunSilent(korvane, {second}, env), Cat({first_log, second_log}));
  ExpectFiles({
      {modules / "A/G.INI", "global first"}, {program / "a_hc.dll", "hconfig first"},
      {program / "plain.so", "plain first"}, {program / "drv.so", TestLib("test_register_ok")},
      {mark, "register;"},
      {data / "WebHelp/42/main.htm", "help first"}, {data / "WebHelp/7/main.htm", "help second"},
      {ini / "Printforms/42/IO.FRM", "form first"}, {ini / "Printforms/7/IO.FRM", "form second"},
      {data / "SAMPLES/Blink/Blink.kvp", "sample first"}, {ini / "LIB/IoLib/io.lib", "lib first"},
      {ini / "TEMPLATES/Std/Std.kvp", "template second"}});
  EXPECT_EQ(ReadFileOrDie(ini / "instlog.ini"), record);

  // 3. With /f: everything of OEM 7 goes in and is registered again; the
  // module is not listed twice and the obsolete page of OEM 7's help folder
  // is gone.
  WriteFileOrDie(data / "WebHelp/7/old.htm", "obsolete");
  const Lines forced_log =
      Cat({header(true), PreparedLines(korvane, "Desc second.cab", 7, 14),
           module_lines("second.cab", true),
           {" *** Hardware installation finished ***", "copied driver dll drv.so to " + p,
            "ERROR registering driver dll drv.so", "copied driver dll plain.so to " + p,
            " *** Driver installation finished ***", "old.htm deleted."},
           kFolders, {kOpc, " *** Execution of post commands finished ***"}, kCompletionLines,
           kFailed});
  EXPECT_EQ(RunSilent(korvane, {"/f", second}, env), Cat({first_log, second_log, forced_log}));
  EXPECT_FALSE(fs::exists(data / "WebHelp/7/old.htm"));
  ExpectFiles({
      {ini / "LIB/IoLib/io.lib", "lib second"}, {data / "SAMPLES/Blink/Blink.kvp", "sample second"},
      {modules / "A/G.INI", "global second"}, {program / "a_pc.dll", "pcode second"},
      {program / "drv.so", TestLib("test_register_fails")}, {mark, "register;register;"}});
  EXPECT_EQ(ReadFileOrDie(modules / "MODULES.INI"), listed);
  EXPECT_EQ(ReadFileOrDie(data / "telvor.con"),
            "[FX200 Hall 1]\r\nComplete=1\r\nDriverName=FX200 Ethernet\r\n"
            "DriverClassId={C7A41E50-1234-56A1-9C3B-7A3E15C0D2B8}\r\nTimeout=3000\r\n"
            "Option16=50\r\nComment=Line 3\r\nOption22=\r\n"
            "Property.ComputerName=plc-hall1\r\nProperty.IpAddress=192.168.0.10\r\n"
            "[FX200 Bench]\r\nComplete=1\r\nDriverName=X\r\n"
            "DriverClassId={C7A41E50-1234-57A1-9C3B-7A3E15C0D2B8}\r\nTimeout=9\r\n"
            "Option16=50\r\nComment=This Connection is created automaticly for FX200 BENCH.\r\n"
            "Option22=\r\n");
}

}  // namespace
}  // namespace kestrin::testing
