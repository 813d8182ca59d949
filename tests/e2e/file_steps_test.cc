// Silent runs of kestrin that install hardware definitions and driver
// libraries: what lands in the test Korvane, the module registry, the
// installation record and the log; then another vendor's bundle over it,
// without and with /f.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "app/test_korvane.h"
#include "e2e/run_kestrin.h"

namespace kestrin::testing {
namespace {

std::string TestLib(const std::string& name) {
  return ReadFileOrDie(std::string(KESTRIN_TEST_LIB_DIR) + "/" + name + ".so");
}

// An INI file as section -> (key -> value); enough for the files written here.
std::map<std::string, std::map<std::string, std::string>> ReadIni(const fs::path& path) {
  std::map<std::string, std::map<std::string, std::string>> ini;
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

// The OEM IDs recorded for an item, oldest key first.
std::vector<std::string> Owners(const TestKorvane& korvane, const std::string& item) {
  std::vector<std::string> owners;
  auto record = ReadIni(korvane.ini_dir() / "instlog.ini");
  for (const auto& [time, oem] : record[item]) {
    owners.push_back(oem);
  }
  return owners;
}

// A bundle of `oem` with one module A (two libraries, one global file) and
// two driver libraries; `tag` marks every file's content.
std::string FileBundle(const TestKorvane& korvane, const std::string& name, const std::string& oem,
                       const std::string& tag, const std::string& driver_lib) {
  const fs::path cab = korvane.root() / "in" / name;
  PackWithGcab(cab.string(), {{"hw.ini", HwIni("Desc " + name, oem, "",
                                     "[DRIVERS]\ndrv.so\nplain.so = NoReg\nmissing.so\n")},
                    {"MODULES/A.INI", "[MODULE]\nName=" + tag +
                                          "\nPCodeDll32=a_pc.dll\nHConfigDll32=a_hc.dll\n"},
                    {"MODULES/A/G.INI", "global " + tag},
                    {"EXE/a_pc.dll", "pcode " + tag},
                    {"EXE/a_hc.dll", "hconfig " + tag},
                    {"DRIVERS/drv.so", TestLib(driver_lib)},
                    {"DRIVERS/plain.so", "plain " + tag}});
  return cab.string();
}

TEST(FileStepsTest, InstallsThenGuardsAnotherVendorsFilesUnlessForced) {
  TestKorvane korvane;
  const fs::path mark = korvane.root() / "registered";
  std::vector<std::string> env = korvane.Environment();
  env.push_back("KESTRIN_REGISTER_MARK=" + mark.string());
  const fs::path modules = korvane.ini_dir() / "MODULES", program = korvane.product_dir();
  const std::string p = program.string();
  // Silent mode upper-cases the bundle paths of its command line.
  auto temp = [&](std::string cab) {
    for (char& c : cab) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return (korvane.temp_root() / cab).string();
  };

  // First install: everything lands, the module is listed, both are recorded.
  const std::string first = FileBundle(korvane, "first.cab", "42", "first", "test_register_ok");
  tRunResult run = RunKestrin({"/s", first}, env);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out + run.err, "");
  const Lines header = {"Kestrin - Silent Mode - Installation Process:", "Mode: No-Force-Overwrite!",
                        ""};
  auto module_lines = [&](const std::string& cab, bool listed) {
    Lines lines = {"copied ini file for hardware A.INI"};
    if (!listed) lines.push_back("registered hardware A.INI as module1 in hardware.ini");
    lines.insert(lines.end(), {"copied global definition files for hardware A",
                               "copied " + temp(cab) + "/EXE/a_pc.dll to " + p,
                               "copied " + temp(cab) + "/EXE/a_hc.dll to " + p,
                               " *** Hardware installation finished ***"});
    return lines;
  };
  const Lines first_log =
      Cat({header, PreparedLines(korvane, "Desc first.cab", 42, 7), module_lines("first.cab", false),
           {"copied driver dll drv.so to " + p, "successfully registered driver dll drv.so",
            "copied driver dll plain.so to " + p, " *** Driver installation finished ***",
            " *** Execution of post commands finished ***"},
           kCompletionLines});
  EXPECT_EQ(LogTexts(korvane.log()), first_log);
  EXPECT_EQ(ReadFileOrDie(modules / "A/G.INI"), "global first");
  EXPECT_EQ(ReadFileOrDie(program / "a_pc.dll"), "pcode first");
  EXPECT_EQ(ReadFileOrDie(program / "drv.so"), TestLib("test_register_ok"));
  EXPECT_EQ(ReadFileOrDie(mark), "register;");
  EXPECT_FALSE(fs::exists(program / "missing.so"));
  const auto registry = ReadIni(modules / "MODULES.INI");
  EXPECT_EQ(registry.at("Modules"), (std::map<std::string, std::string>{
                                        {"Count", "1"}, {"Module1", "A"}, {"A", "A.INI"}}));
  EXPECT_EQ(Owners(korvane, "$MODULES\\A.INI"), (std::vector<std::string>{"42"}));
  EXPECT_EQ(Owners(korvane, "drv.so"), (std::vector<std::string>{"42"}));
  EXPECT_EQ(Owners(korvane, "plain.so"), (std::vector<std::string>{"42"}));
  const std::string record = ReadFileOrDie(korvane.ini_dir() / "instlog.ini");

  // Another vendor without /f: skipped silently, nothing of the first changes.
  const std::string second = FileBundle(korvane, "second.cab", "7", "second", "test_register_fails");
  run = RunKestrin({"/s", second}, env);
  EXPECT_EQ(run.exit_status, 0);
  const Lines second_log =
      Cat({header, PreparedLines(korvane, "Desc second.cab", 7, 7),
           {" *** Hardware installation finished ***", " *** Driver installation finished ***",
            " *** Execution of post commands finished ***"},
           kCompletionLines});
  EXPECT_EQ(LogTexts(korvane.log()), Cat({first_log, second_log}));
  EXPECT_NE(ReadFileOrDie(modules / "A.INI").find("Name=first"), std::string::npos);
  EXPECT_EQ(ReadFileOrDie(modules / "A/G.INI"), "global first");
  EXPECT_EQ(ReadFileOrDie(program / "a_hc.dll"), "hconfig first");
  EXPECT_EQ(ReadFileOrDie(program / "plain.so"), "plain first");
  EXPECT_EQ(ReadFileOrDie(program / "drv.so"), TestLib("test_register_ok"));
  EXPECT_EQ(ReadFileOrDie(mark), "register;");
  EXPECT_EQ(ReadFileOrDie(korvane.ini_dir() / "instlog.ini"), record);

  // With /f: overwritten, registered again, the new owner recorded.
  run = RunKestrin({"/s", "/f", second}, env);
  EXPECT_EQ(run.exit_status, 0);
  const Lines forced_log =
      Cat({{"Kestrin - Silent Mode - Installation Process:", "Mode: Force-Overwrite!", ""},
           PreparedLines(korvane, "Desc second.cab", 7, 7), module_lines("second.cab", true),
           {"copied driver dll drv.so to " + p, "ERROR registering driver dll drv.so",
            "copied driver dll plain.so to " + p, " *** Driver installation finished ***",
            " *** Execution of post commands finished ***"},
           kCompletionLines});
  EXPECT_EQ(LogTexts(korvane.log()), Cat({first_log, second_log, forced_log}));
  EXPECT_EQ(ReadFileOrDie(modules / "A/G.INI"), "global second");
  EXPECT_EQ(ReadFileOrDie(program / "a_pc.dll"), "pcode second");
  EXPECT_EQ(ReadFileOrDie(program / "plain.so"), "plain second");
  EXPECT_EQ(ReadFileOrDie(program / "drv.so"), TestLib("test_register_fails"));
  EXPECT_EQ(ReadFileOrDie(mark), "register;register;");
  EXPECT_EQ(ReadIni(modules / "MODULES.INI").at("Modules"), registry.at("Modules"));
  for (const char* item : {"$MODULES\\A.INI", "drv.so", "plain.so"}) {
    const std::vector<std::string> owners = Owners(korvane, item);
    ASSERT_FALSE(owners.empty()) << item;
    // Both runs may fall in the same minute, which then holds the newer owner.
    EXPECT_EQ(owners.back(), "7") << item;
  }
}

}  // namespace
}  // namespace kestrin::testing
