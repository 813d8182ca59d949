// kestrinctl install: kestrin's silent run with a result per bundle and an
// exit status a deployment tool can act on.
#include "ctl/bundle_run.h"
#include "app/journaled_run.h"
#include "app/system_host.h"
#include "connections/telvor_client.h"
#include "host/product_env.h"

namespace kestrin::ctl {
namespace {

CtlExit RunInstall(const std::vector<std::string>& args, CtlOutput& io) {
  tRunRequest request;
  if (!ParseRunRequest("install", args, &request, io)) return CtlExit::kUsage;
  if (!KorvaneFound("install", io)) return CtlExit::kNoKorvane;
  std::vector<tBundleResult> results;
  // Under the installation lock, every change journaled, as kestrin runs.
  JournalHost journal(SystemHost(), [] {
    const std::string dir = ConnectionFileDir(SystemHost());
    return dir.empty() ? dir : dir + kConnectionFileName;
  });
  JournaledRun guard(journal);
  const CtlExit exit = RunBundles(journal.host(), request, &results, io, {}, &guard);
  if (exit == CtlExit::kUsage) return exit;
  WriteRunResults("install", request, results, exit, io);
  return exit;
}

}  // namespace

extern const CtlCommand kInstallCommand = {
    "install",
    "[--force] [--recover] [--bindir DIR] [--require-signed [--trust FILE|DIR]] [--json] "
    "BUNDLE|DIR...",
    "install bundles as kestrin /s does, with a result per bundle and an exit status",
    "Installs the bundle files and the bundles of the folders given, as\n"
    "`kestrin /s` does: the same steps, the same log (TargetDriverInstall.log in\n"
    "OEMCAB). Then prints a line per bundle (or, with --json, the document of\n"
    "docs/kestrinctl-json.md) and exits with the status of kestrinctl(1).\n"
    "\n"
    "  --force           overwrite what another vendor installed (/f)\n"
    "  --recover         recover the templates of a single bundle first (/r)\n"
    "  --bindir DIR      the folder post commands see as $BinDir (/i=)\n"
    "  --require-signed  refuse, before unpacking it, every bundle whose\n"
    "                    signature does not hold or is not trusted (status 6)\n"
    "  --trust FILE|DIR  the certificates to trust (default: the system's)\n"
    "  --json            the results as JSON\n",
    RunInstall,
};

}  // namespace kestrin::ctl
