// kestrin /s with bundles that bring help pages, print forms, samples,
// templates and libraries: what lands in the test Korvane, the installation
// record, the help tree in the registry store and the log; then another
// OEM's bundle of the same names over it, without and with /f.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include <fstream>

#include "app/test_korvane.h"

namespace kestrin::testing {
namespace {

// Runs kestrin in the environment of `korvane` (already applied), with no
// display, and returns its exit status.
int RunSilent(const std::vector<std::string>& args) {
  std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY '" + std::string(KESTRIN_PROGRAM) + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  const int status = std::system((command + " </dev/null >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A bundle of OEM `oem` whose files all hold `tag`.
std::string FileBundle(const TestKorvane& korvane, const std::string& name, const std::string& oem,
                       const std::string& tag) {
  const fs::path cab = korvane.root() / "in" / name;
  fs::create_directories(cab.parent_path());
  PackWithGcab(cab.string(), {{"hw.ini", HwIni("Files " + tag, oem, "")},
                    {"HELP/HELP.INI", "[DeleteBefore]\r\nold.htm=1\r\n[Helpnodes]\r\nmain.htm=Main " +
                                          tag + "\r\n"},
                    {"HELP/main.htm", "help " + tag},
                    {"PRINTFORMS/IO.FRM", "form " + tag},
                    {"SAMPLES/Blink/Blink.kvp", "sample " + tag},
                    {"TEMPLATES/Std/Std.kvp", "template " + tag},
                    {"TEMPLATES/top.kvt", "top " + tag},
                    {"LIB/IoLib/io.lib", "lib " + tag}});
  return cab.string();
}

// The default value of a key below the Korvane settings, read from the
// store's text: "" when the key is not there.
std::string SettingsValue(const TestKorvane& korvane, const std::string& key) {
  const std::string store = ReadFileOrDie(korvane.registry());
  const std::string header = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantel\\Korvane\\Settings\\" + key + "]\n@=\"";
  const size_t at = store.find(header);
  if (at == std::string::npos) return "";
  const size_t start = at + header.size();
  return store.substr(start, store.find("\"\n", start) - start);
}

// The OEM IDs recorded for one item of instlog.ini, in file order; an
// entry whose key is not a UTC minute "YYYY-MM-DD-hh-mm" fails the test.
std::vector<std::string> Recorded(const TestKorvane& korvane, const std::string& item) {
  std::ifstream record(korvane.ini_dir() / "instlog.ini");
  std::vector<std::string> oems;
  bool inside = false;
  for (std::string line; std::getline(record, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inside = line == "[" + item + "]";
    } else if (inside && line.size() > 17 && line[16] == '=') {
      bool stamp = true;
      for (int i = 0; i < 16; ++i) {
        const bool dash = i == 4 || i == 7 || i == 10 || i == 13;
        stamp = stamp && (dash ? line[i] == '-' : isdigit(static_cast<unsigned char>(line[i])) != 0);
      }
      EXPECT_TRUE(stamp) << line;
      oems.push_back(line.substr(17));
    }
  }
  return oems;
}

Lines Header(bool force) {
  return {"Kestrin - Silent Mode - Installation Process:",
          force ? "Mode: Force-Overwrite!" : "Mode: No-Force-Overwrite!", ""};
}

TEST(FolderStepsRunTest, InstallsThenProtectsAnotherOemsItemsUnlessForced) {
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  const fs::path ini = korvane.ini_dir();
  const fs::path data = korvane.root() / "korvane" / "Data";
  const std::string first = FileBundle(korvane, "first.cab", "42", "A");
  const std::string second = FileBundle(korvane, "second.cab", "7", "B");
  // The driver and post-command steps have nothing to do and say so; no
  // line from the other steps for a bundle without their sections.
  const Lines kFresh = {" *** Driver installation finished ***",
                        " *** Help libraries successfully copied ***",
                        " *** Print forms successfully copied ***",
                        " *** Samples directory successfully copied ***",
                        " *** Samples added successfully ***",
                        "Lib directory successfully copied: IoLib",
                        " *** Lib-files added successfully ***",
                        "Template subfolder successfully copied: Std",
                        " *** Templates copied successfully ***",
                        " *** Execution of post commands finished ***"};

  // 1. OEM 42 into an empty Korvane.
  ASSERT_EQ(RunSilent({"/s", first}), 0);
  Lines expected = Cat({Header(false), PreparedLines(korvane, "Files A", 42, 8),
                        {kFresh[0], "ERROR: old.htm could not be deleted"},
                        Lines(kFresh.begin() + 1, kFresh.end()), kCompletionLines});
  EXPECT_EQ(LogTexts(korvane.log()), expected);
  EXPECT_EQ(ReadFileOrDie(data / "WebHelp/42/main.htm"), "help A");
  EXPECT_EQ(ReadFileOrDie(data / "WebHelp/42/HELP.INI").substr(0, 14), "[DeleteBefore]");
  EXPECT_EQ(ReadFileOrDie(ini / "Printforms/42/IO.FRM"), "form A");
  EXPECT_EQ(ReadFileOrDie(data / "SAMPLES/Blink/Blink.kvp"), "sample A");
  EXPECT_EQ(ReadFileOrDie(ini / "TEMPLATES/Std/Std.kvp"), "template A");
  EXPECT_EQ(ReadFileOrDie(ini / "TEMPLATES/top.kvt"), "top A");
  EXPECT_EQ(ReadFileOrDie(ini / "LIB/IoLib/io.lib"), "lib A");
  EXPECT_EQ(Recorded(korvane, "$SAMPLES\\Blink"), std::vector<std::string>{"42"});
  EXPECT_EQ(SettingsValue(korvane, "BRWTREECTRL\\HELPFILE_COUNT"), "1");
  EXPECT_EQ(SettingsValue(korvane, "BRWTREECTRL\\HELPFILE_NODENAME1"), "Main A");
  EXPECT_EQ(SettingsValue(korvane, "BRWTREECTRL\\HELPFILE_PATH1"), (data / "WebHelp/42/main.htm").string());

  // 2. OEM 7 without /f: its own help and print-form folders are new; the
  // sample and the library of OEM 42 stay; templates have no overwrite rule.
  ASSERT_EQ(RunSilent({"/s", second}), 0);
  expected = Cat({expected, Header(false), PreparedLines(korvane, "Files B", 7, 8),
                  {" *** Driver installation finished ***",
                   "ERROR: old.htm could not be deleted",
                   " *** Help libraries successfully copied ***",
                   " *** Print forms successfully copied ***",
                   " *** Samples added successfully ***",
                   "No overwriting was set with silent-mode for copying lib: IoLib",
                   "NONE of the existing libs where copied.",
                   "Template subfolder successfully copied: Std",
                   " *** Templates copied successfully ***",
                   " *** Execution of post commands finished ***"},
                  kCompletionLines});
  EXPECT_EQ(LogTexts(korvane.log()), expected);
  EXPECT_EQ(ReadFileOrDie(data / "WebHelp/42/main.htm"), "help A");
  EXPECT_EQ(ReadFileOrDie(data / "WebHelp/7/main.htm"), "help B");
  EXPECT_EQ(ReadFileOrDie(ini / "Printforms/42/IO.FRM"), "form A");
  EXPECT_EQ(ReadFileOrDie(ini / "Printforms/7/IO.FRM"), "form B");
  EXPECT_EQ(ReadFileOrDie(data / "SAMPLES/Blink/Blink.kvp"), "sample A");
  EXPECT_EQ(ReadFileOrDie(ini / "LIB/IoLib/io.lib"), "lib A");
  EXPECT_EQ(ReadFileOrDie(ini / "TEMPLATES/Std/Std.kvp"), "template B");
  EXPECT_EQ(Recorded(korvane, "$SAMPLES\\Blink"), std::vector<std::string>{"42"});
  EXPECT_EQ(SettingsValue(korvane, "BRWTREECTRL\\HELPFILE_COUNT"), "2");
  EXPECT_EQ(SettingsValue(korvane, "BRWTREECTRL\\HELPFILE_PATH1"), (data / "WebHelp/42/main.htm").string());
  EXPECT_EQ(SettingsValue(korvane, "BRWTREECTRL\\HELPFILE_PATH2"), (data / "WebHelp/7/main.htm").string());

  // 3. OEM 7 with /f: everything of OEM 7 goes in; the help page is not
  // registered twice and the obsolete page of OEM 7's folder is gone.
  WriteFileOrDie(data / "WebHelp/7/old.htm", "obsolete");
  ASSERT_EQ(RunSilent({"/s", "/f", second}), 0);
  expected = Cat({expected, Header(true), PreparedLines(korvane, "Files B", 7, 8),
                  {kFresh[0], "old.htm deleted."}, Lines(kFresh.begin() + 1, kFresh.end()),
                  kCompletionLines});
  EXPECT_EQ(LogTexts(korvane.log()), expected);
  EXPECT_FALSE(fs::exists(data / "WebHelp/7/old.htm"));
  EXPECT_EQ(ReadFileOrDie(data / "SAMPLES/Blink/Blink.kvp"), "sample B");
  EXPECT_EQ(ReadFileOrDie(ini / "LIB/IoLib/io.lib"), "lib B");
  EXPECT_EQ(ReadFileOrDie(data / "WebHelp/42/main.htm"), "help A");
  EXPECT_EQ(Recorded(korvane, "$SAMPLES\\Blink").back(), "7");
  EXPECT_EQ(SettingsValue(korvane, "BRWTREECTRL\\HELPFILE_COUNT"), "2");
}

}  // namespace
}  // namespace kestrin::testing
