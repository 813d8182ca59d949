// kestrinctl install against a test Korvane: one run per documented exit
// status, their precedence, the results read back from --json, and the
// log, which is kestrin /s's.
#include <gtest/gtest.h>

#include "app/test_korvane.h"
#include "ctl/ctl_command.h"
#include "ctl/run_ctl.h"
#include "app/system_host.h"
#include "signature/signature.h"
#include "support/child.h"
#include "support/json_read.h"

namespace kestrin::testing {
namespace {

using ctl::Captured;
using ctl::RunCtl;

// A bundle "<root>/in/<name>" of OEM `oem` with the module M.INI.
std::string OemBundle(const TestKorvane& korvane, const std::string& name, const std::string& oem,
                      const std::string& extra = "") {
  const std::string cab = (korvane.root() / "in" / name).string();
  PackWithGcab(cab, {{"hw.ini", HwIni("Desc " + name, oem, "", extra)},
                     {"MODULES/M.INI", "[MODULE]\n"}});
  return cab;
}

struct tExitCase {
  const char* name;
  std::vector<std::string> bundles;  // "name:oem:hw.ini lines"; "nohw" a cabinet without hw.ini
  std::vector<std::string> switches;
  int status;
  std::vector<std::string> statuses;  // of the bundles, in the order of the results
};

// clang-format off
const tExitCase kExitCases[] = {
    {"Ok", {"a.cab:42:"}, {}, 0, {"installed"}},
    {"StepFailed", {"a.cab:42:[POST_COMMANDS]\n1=nothere.exe\n"}, {}, 1, {"failed"}},
    {"Damaged", {"nohw"}, {}, 3, {"unusable"}},
    {"VersionRefused", {"a.cab:42:MINIMUM_VERSION=6.2\n"}, {}, 4, {"version-refused"}},
    {"OwnedItemsLeft", {"a.cab:42:", "b.cab:43:"}, {}, 5, {"installed", "installed"}},
    {"ForceTakesThemOver", {"a.cab:42:", "b.cab:43:"}, {"--force"}, 0, {"installed", "installed"}},
    {"SignatureRefused", {"a.cab:42:"}, {"--require-signed"}, 6, {"signature-refused"}},
    {"RestartRequired", {"a.cab:42:REQUIRE_RESTART=1\n"}, {}, 12, {"installed"}},
    // Several outcomes: the earlier in the precedence wins.
    {"OwnedBeatsRestart", {"a.cab:42:", "b.cab:43:REQUIRE_RESTART=1\n"}, {}, 5,
     {"installed", "installed"}},
    {"StepFailedBeatsDamagedAndVersion",
     {"a.cab:42:MINIMUM_VERSION=9\n", "b.cab:42:[POST_COMMANDS]\n1=nothere.exe\n", "nohw"}, {}, 1,
     {"version-refused", "failed", "unusable"}},
};
// clang-format on

class InstallExitTest : public ::testing::TestWithParam<tExitCase> {};

TEST_P(InstallExitTest, StatusAndResults) {
  const tExitCase& c = GetParam();
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  std::vector<std::string> args = {"install", "--json"};
  args.insert(args.end(), c.switches.begin(), c.switches.end());
  for (const std::string& bundle : c.bundles) {
    if (bundle == "nohw") {
      args.push_back((korvane.root() / "in/nohw.cab").string());
      PackWithGcab(args.back(), {{"MODULES/X.INI", "[MODULE]\n"}});
      continue;
    }
    const size_t a = bundle.find(':'), b = bundle.find(':', a + 1);
    args.push_back(OemBundle(korvane, bundle.substr(0, a), bundle.substr(a + 1, b - a - 1),
                             bundle.substr(b + 1)));
  }
  const Captured run = RunCtl(args);
  EXPECT_EQ(run.status, c.status) << run.out << run.err;
  auto doc = ReadJson(run.out);
  EXPECT_EQ(doc["schema"], "kestrinctl-run");
  EXPECT_EQ(doc["version"], "1");
  EXPECT_EQ(doc["exit_status"], std::to_string(c.status));
  for (size_t i = 0; i < c.statuses.size(); ++i)
    EXPECT_EQ(doc["bundles." + std::to_string(i) + ".status"], c.statuses[i]) << i;
  EXPECT_EQ(doc.count("bundles." + std::to_string(c.statuses.size()) + ".path"), 0u);
  if (std::string(c.name) == "SignatureRefused") {
    // Refused before anything was unpacked, archived or logged.
    EXPECT_FALSE(fs::exists(korvane.temp_root()));
    EXPECT_FALSE(fs::exists(korvane.log()));
  }
  if (std::string(c.name) == "OwnedItemsLeft") {
    EXPECT_EQ(doc["bundles.1.items_left.0"], "$MODULES\\M.INI");
    EXPECT_EQ(doc["bundles.1.outcome"], "owned-items-left");
  }
}

INSTANTIATE_TEST_SUITE_P(Install, InstallExitTest, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InstallTest, UsageNoKorvaneAndTheLogOfKestrin) {
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  EXPECT_EQ(RunCtl({"install"}).status, 2);
  EXPECT_EQ(RunCtl({"install", "--trust", "x", "a.cab"}).status, 2);
  EXPECT_EQ(RunCtl({"install", "--require-signed", "--trust", "/nonexistent", "a.cab"}).status, 2);

  const std::string bundle = Bundle(korvane, "in/abc.cab");
  const Captured run = RunCtl({"install", bundle});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "installed         " + bundle + "\ninstall: ok (exit status 0)\n");
  EXPECT_EQ(LogTexts(korvane.log()),
            Cat({{"Kestrin - Silent Mode - Installation Process:", "Mode: No-Force-Overwrite!", ""},
                 PreparedLines(korvane, "Desc abc.cab"),
                 {"copied ini file for hardware M.INI",
                  "registered hardware M.INI as module1 in hardware.ini",
                  " *** Hardware installation finished ***", " *** Driver installation finished ***",
                  " *** Execution of post commands finished ***"},
                 kCompletionLines}));

  ScopedEnv broken("KESTRIN_REGISTRY", (korvane.root() / "missing.reg").string());
  const Captured none = RunCtl({"install", bundle});
  EXPECT_EQ(none.status, 11);
  EXPECT_NE(none.err.find("kestrinctl install: "), std::string::npos);
}

// Two vendors' bundles with the same module: the record names the later
// owner, the item comes from that vendor's archived bundle.
TEST(ListTest, ItemsByVendorWithTheirBundles) {
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  const std::string a = OemBundle(korvane, "a.cab", "42");
  const std::string b = OemBundle(korvane, "b.cab", "43");
  ASSERT_EQ(RunCtl({"install", "--force", a, b}).status, 0);
  auto doc = ReadJson(RunCtl({"list", "--json"}).out);
  EXPECT_EQ(doc["schema"], "kestrinctl-list");
  EXPECT_EQ(doc["vendors.0.oem_id"], "43");
  EXPECT_EQ(doc["vendors.0.items.0.name"], "$MODULES\\M.INI");
  EXPECT_EQ(Upper(doc["vendors.0.items.0.bundle"]), Upper(korvane.oemcab() / "B.CAB"));
  EXPECT_EQ(doc["vendors.0.items.0.installed"].size(), 16u);
  EXPECT_EQ(doc.count("vendors.1.oem_id"), 0u);
  EXPECT_EQ(doc["bundles.0.description"], "Desc a.cab");
  EXPECT_EQ(doc["bundles.1.oem_id"], "43");
  EXPECT_EQ(doc["bundles.1.signer"], "");
  auto only42 = ReadJson(RunCtl({"list", "--oem", "42", "--json"}).out);
  EXPECT_EQ(only42["vendors"], "[]");
  EXPECT_EQ(only42["bundles.0.oem_id"], "42");
  EXPECT_EQ(only42.count("bundles.1.oem_id"), 0u);
  EXPECT_EQ(RunCtl({"list", "--oem", "x"}).status, 2);
}

}  // namespace
}  // namespace kestrin::testing

namespace kestrin::testing {
namespace {

std::set<std::string> Findings(const std::vector<std::string>& args, int status) {
  const Captured run = RunCtl(args);
  EXPECT_EQ(run.status, status) << run.out << run.err;
  auto doc = ReadJson(run.out);
  std::set<std::string> findings;
  for (int i = 0; doc.count("findings." + std::to_string(i) + ".kind"); ++i) {
    const std::string at = "findings." + std::to_string(i) + ".";
    findings.insert(doc[at + "kind"] + " " + doc[at + "item"]);
  }
  return findings;
}

// A file changed, a file removed, a registry value reset, a module
// unregistered: verify names exactly these; then another vendor's bundle
// takes a module over.
TEST(VerifyTest, FindsExactlyTheTampering) {
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  const std::string a = (korvane.root() / "in/a.cab").string();
  PackWithGcab(a, {{"hw.ini", HwIni("a", "42", "",
                                    "[REGISTRY_SETTING]\nCOUNT=1\nPATH1=Plan\\K\nVALUE1=v\n")},
                   {"MODULES/M.INI", "[MODULE]\n"}, {"MODULES/N.INI", "[MODULE]\n"},
                   {"SAMPLES/S1/x.pro", "x"}, {"SAMPLES/S2/y.pro", "y"}});
  ASSERT_EQ(RunCtl({"install", a}).status, 0);
  EXPECT_EQ(Findings({"verify", "--json"}, 0), std::set<std::string>{});

  const fs::path ini = korvane.ini_dir();
  WriteFileOrDie(ini / "MODULES/M.INI", "[MODULE]\nchanged\n");
  fs::remove(korvane.root() / "korvane/Data/SAMPLES/S2/y.pro");
  std::vector<tRegistryWrite> reset = {{"SOFTWARE\\Brantel\\Korvane\\Settings\\Plan\\K", "w", false, ""}};
  ASSERT_TRUE(SystemHost().registry.SetDefaultValues(reset, nullptr));
  WriteFileOrDie(ini / "MODULES/MODULES.INI", "[Modules]\r\nCount=1\r\nModule1=M\r\nM=M.INI\r\n");
  EXPECT_EQ(Findings({"verify", "--json"}, 8),
            (std::set<std::string>{"changed $MODULES\\M.INI", "missing $SAMPLES\\S2",
                                   "module-gone $MODULES\\N.INI",
                                   "registry-reset SOFTWARE\\Brantel\\Korvane\\Settings\\Plan\\K"}));

  const std::string b = OemBundle(korvane, "b.cab", "43");  // M.INI again
  ASSERT_EQ(RunCtl({"install", "--force", b}).status, 0);
  EXPECT_EQ(Findings({"verify", "--oem", "42", "--json"}, 8),
            (std::set<std::string>{"owned $MODULES\\M.INI", "missing $SAMPLES\\S2",
                                   "module-gone $MODULES\\N.INI",
                                   "registry-reset SOFTWARE\\Brantel\\Korvane\\Settings\\Plan\\K"}));
  EXPECT_EQ(Findings({"verify", "--oem", "43", "--json"}, 0), std::set<std::string>{});
}

}  // namespace
}  // namespace kestrin::testing

namespace kestrin::testing {
namespace {

// --require-signed: a bundle signed by a trusted certificate installs, an
// unsigned one and one changed after signing are refused unpacked; plan and
// list name the signer.
TEST(InstallTest, RequireSignedInstallsOnlyTrustedBundles) {
  TestKorvane korvane;
  korvane.ApplyEnvironment();
  const std::string cert = (korvane.root() / "c.pem").string(), key = (korvane.root() / "k.pem").string();
  ASSERT_EQ(RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                        "-subj", "/CN=Fennick Test", "-addext", "extendedKeyUsage=codeSigning",
                        "-keyout", key, "-out", cert})
                .exit_code,
            0);
  const std::string good = OemBundle(korvane, "good.cab", "42");
  const std::string plain = OemBundle(korvane, "plain.cab", "42");
  const std::string changed = OemBundle(korvane, "changed.cab", "42");
  std::string error;
  ASSERT_TRUE(SignCabinet(cert, key, good, good, &error)) << error;
  ASSERT_TRUE(SignCabinet(cert, key, changed, changed, &error)) << error;
  {  // the first member's name, in the file list the signature covers
    std::fstream f(changed, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char offset[4];
    f.seekg(16);
    f.read(reinterpret_cast<char*>(offset), 4);
    f.seekp(offset[0] + (offset[1] << 8) + 16);
    f.put('X');
  }
  auto planned = ReadJson(RunCtl({"plan", "--json", good}).out);
  EXPECT_EQ(planned["bundles.0.signer"], "CN=Fennick Test");

  const Captured run =
      RunCtl({"install", "--require-signed", "--trust", cert, "--json", good, plain, changed});
  EXPECT_EQ(run.status, 6) << run.out << run.err;
  auto doc = ReadJson(run.out);
  EXPECT_EQ(doc["bundles.0.status"], "installed");
  EXPECT_EQ(doc["bundles.1.status"], "signature-refused");
  EXPECT_EQ(doc["bundles.2.status"], "signature-refused");
  EXPECT_NE(doc["bundles.2.reason"].find("changed after signing"), std::string::npos);
  EXPECT_FALSE(fs::exists(korvane.temp_root() / "plain.cab"));
  EXPECT_FALSE(fs::exists(korvane.oemcab() / "plain.cab"));
  auto listed = ReadJson(RunCtl({"list", "--json"}).out);
  EXPECT_EQ(listed["bundles.0.signer"], "CN=Fennick Test");
  // Without --trust the system's authorities do not know the certificate.
  EXPECT_EQ(RunCtl({"install", "--require-signed", good}).status, 6);
}

}  // namespace
}  // namespace kestrin::testing
