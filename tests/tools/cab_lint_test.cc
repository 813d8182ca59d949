// kestrin-cab lint and c --bundle: a clean bundle passes; each kind of
// mistake gives its line, as an error or a warning.
#include <gtest/gtest.h>

#include "bundle/bundle_test_util.h"

namespace kestrin::testing {
namespace {

const char kHwIni[] =
    "[OEMDriverDisk]\nDESCRIPTION=d\nOEMNAME=n\nOEMID=42\nVERSION=1.0\nMINIMUM_VERSION=6.1\n"
    "[DRIVERS]\ndrv.dll=regasm\n"
    "[CONNECTIONS]\nCOUNT=1\nCONNECTION1=Line\n"
    "[Line]\nDRIVERNAME=x\nDRIVERID=12AB-56\nTIMEOUT=300\nVALUES=Line Values\n[Line Values]\nIp=1\n"
    "[CUST-TOOLS]\nFILE1=a.exe\nTitle1=A\n";

FileSet Bundle(const std::string& hw_ini) {
  return {{"hw.ini", hw_ini},
          {"DRIVERS/drv.dll", "d"},
          {"HELP/HELP.INI", "[Helpnodes]\npage.htm=Node\n[DeleteBefore]\nold.htm=1\n"},
          {"HELP/page.htm", "p"},
          {"MODULES/M.INI", "[MODULE]\nPCodeDll32=m.dll\n"},
          {"EXE/m.dll", "m"}};
}

TEST(CabLintTest, EachMistakeGivesItsLine) {
  const std::string hw = kHwIni;
  auto with = [&](const std::string& from, const std::string& to) {
    std::string s = hw;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  const struct {
    FileSet bundle;
    int exit_code;
    const char* line;  // in the output
  } cases[] = {
      {Bundle(hw), 0, "0 errors, 0 warnings\n"},
      {Bundle(with("[DRIVERS]", "[DRIVRES]")), 0, "hw.ini [DRIVRES]: warning: the installer does not read this section (did you mean [DRIVERS]?)"},
      {Bundle(with("[DRIVERS]", "[DRIVRES]")), 0, "DRIVERS/drv.dll: warning: [DRIVERS] does not name it: it is not installed"},
      {Bundle(with("OEMID=42", "OEMID=4x")), 1, "hw.ini [OEMDriverDisk] OEMID: error: \"4x\" is not a decimal number (the installer reads 4)"},
      {Bundle(with("OEMID=42\n", "")), 1, "hw.ini [OEMDriverDisk] OEMID: error: missing"},
      {Bundle(with("=6.1", "=6.x")), 1, "[OEMDriverDisk] MINIMUM_VERSION: error: \"6.x\" is not a version"},
      {Bundle(with("OEMNAME=n", "OEMNAM=n")), 0, "hw.ini [OEMDriverDisk] OEMNAM: warning: the installer does not read this key"},
      {Bundle(with("drv.dll=regasm", "drv2.dll")), 1, "hw.ini [DRIVERS] drv2.dll: error: the driver library is not in the DRIVERS folder"},
      {Bundle(with("=regasm", "=regsam")), 0, "drv.dll: warning: unknown option \"regsam\""},
      {Bundle(with("DRIVERID=12AB-56", "DRIVERID=12AB")), 1, "hw.ini [Line] DRIVERID: error: \"12AB\" is not two hexadecimal groups"},
      {Bundle(with("TIMEOUT=300\n", "")), 1, "hw.ini [Line] TIMEOUT: error: missing: the connection is not created"},
      {Bundle(with("COUNT=1", "COUNT=2")), 1, "hw.ini [CONNECTIONS] CONNECTION2: error: missing (COUNT is 2)"},
      {Bundle(with("VALUES=Line Values", "VALUES=Other")), 0, "hw.ini [Line] VALUES: warning: names the missing section [Other]"},
      {Bundle(with("FILE1=a.exe", "File1=a.exe")), 0, "hw.ini [CUST-TOOLS] Title1: warning: no FILE1 key"},
      {[&] { FileSet b = Bundle(hw); b["HELP/HELP.INI"] = "[Helpnodes]\ngone.htm=Node\n"; return b; }(), 1,
       "HELP/HELP.INI [Helpnodes] gone.htm: error: the help page is not in the HELP folder"},
      {[&] { FileSet b = Bundle(hw); b.erase("EXE/m.dll"); return b; }(), 1,
       "MODULES/M.INI [MODULE] PCodeDll32: error: the library \"m.dll\" is not in the EXE folder"},
      {[&] { FileSet b = Bundle(hw); b["Drivers2/x"] = ""; return b; }(), 0, "Drivers2/: warning: no installation step copies this folder"},
      {[&] { FileSet b = Bundle(hw); b.erase("hw.ini"); return b; }(), 1, "hw.ini: error: missing"},
  };
  for (const auto& c : cases) {
    ScopedTempDir tmp;
    for (const auto& [name, content] : c.bundle) {
      fs::create_directories((tmp.path() / "b" / name).parent_path());
      WriteFileOrDie(tmp.path() / "b" / name, content);
    }
    const RunResult r = Cab({"lint", "b"}, tmp.path().string());
    EXPECT_EQ(c.exit_code, r.exit_code) << c.line << "\n" << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find(c.line)) << r.out;
    // c --bundle packs only a bundle without errors, and then hw.ini first.
    const RunResult pack = Cab({"c", "--bundle", "b", "o.cab"}, tmp.path().string());
    EXPECT_EQ(c.exit_code, pack.exit_code) << pack.err;
    EXPECT_EQ(c.exit_code == 0, fs::exists(tmp.path() / "o.cab"));
    if (c.exit_code == 0) {
      const RunResult l = Cab({"l", "o.cab"}, tmp.path().string());
      EXPECT_NE(std::string::npos, l.out.substr(0, l.out.find('\n')).find("\thw.ini")) << l.out;
      EXPECT_EQ(c.exit_code, Cab({"lint", "o.cab"}, tmp.path().string()).exit_code);
    }
  }
}

TEST(CabLintTest, RefusedNamesAndJson) {
  ScopedTempDir tmp;
  WriteFileOrDie(tmp.path() / "evil.cab",
                 StoredCabinet({{"hw.ini", "[OEMDriverDisk]\nOEMID=1\n"}, {"..\\up.txt", "x"}}));
  const RunResult r = Cab({"lint", "--json", "evil.cab"}, tmp.path().string());
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos,
            r.out.find("{\"file\": \"..\\\\up.txt\", \"section\": \"\", \"key\": \"\", \"message\": \"the installer refuses this name: "))
      << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\"warnings\": [\n    {\"file\": \"hw.ini\", \"section\": \"OEMDriverDisk\", \"key\": \"DESCRIPTION\""))
      << r.out;
  EXPECT_EQ(2, Cab({"lint"}, tmp.path().string()).exit_code);
}

}  // namespace
}  // namespace kestrin::testing
