// The silent installation run of kestrin, driven by kestrinctl install (on
// the machine's host) and plan (on a planning host): the same context, the
// same steps and the same log, and a result per bundle that deployment
// tools can act on.
#ifndef KESTRIN_CTL_BUNDLE_RUN_H_
#define KESTRIN_CTL_BUNDLE_RUN_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ctl/ctl_command.h"
#include "ctl/exit_codes.h"
#include "ctl/json_writer.h"
#include "host/host.h"

namespace kestrin {
class RunGuard;
}  // namespace kestrin

namespace kestrin::ctl {

// The command line of install and plan.
struct tRunRequest {
  bool force = false;    // /f
  bool recover = false;  // /r
  std::string bindir;    // /i=
  std::vector<std::string> operands;  // bundle files and folders, as kestrin /s takes them
  bool require_signed = false;
  std::vector<std::string> trust;  // certificate files or folders; none: the system's
  bool json = false;
};

// What became of one bundle.
struct tBundleResult {
  std::string path;
  const char* status = "installed";  // see BundleStatus in bundle_run.cc
  CtlExit exit = CtlExit::kOk;
  std::string reason;                     // one line, for a bundle not installed
  int oem_id = 0;
  std::vector<std::string> failed_steps;  // step names
  std::vector<std::string> items_left;    // record names left to another vendor
  bool restart_required = false;
  std::string signer;                     // subject of the signer; "" unsigned or not checked
  // plan only: installing it would change nothing (see UpToDate in plan_command.cc)
  std::optional<bool> up_to_date;
};

// Whether there is a Korvane to work on; if not, says why on io.err as
// "kestrinctl COMMAND: ..." (the caller exits with kNoKorvane).
bool KorvaneFound(const char* command, CtlOutput& io);

// Parses the arguments of install or plan (`command`); false after a usage
// error was written.
bool ParseRunRequest(const char* command, const std::vector<std::string>& args,
                     tRunRequest* request, CtlOutput& io);

// Runs the request on `host` as `kestrin /s` runs its command line: the
// header lines, the run and its log. `results` receives a result per bundle
// (bundles refused before the run, unusable files included). The status of
// the whole run, by the precedence of exit_codes.h. `on_phase` is told
// where the run is (CProgressDlg::OnPhase); `guard`, when given, surrounds
// the run (the lock and the journal of an installation).
CtlExit RunBundles(Host& host, const tRunRequest& request, std::vector<tBundleResult>* results,
                   CtlOutput& io,
                   std::function<void(const std::string& bundle, const char* phase)> on_phase = {},
                   RunGuard* guard = nullptr);

// Writes the results as text or, with request.json, as the JSON document of
// docs/kestrinctl-json.md; `more_json` adds members to that document,
// `more_text` lines before the closing status line.
void WriteRunResults(const char* command, const tRunRequest& request,
                     const std::vector<tBundleResult>& results, CtlExit exit, CtlOutput& io,
                     const std::function<void(JsonWriter&)>& more_json = {},
                     const std::function<void()>& more_text = {});

// The name of an exit status in the JSON documents ("ok", "step-failed", ...).
const char* ExitName(CtlExit exit);

}  // namespace kestrin::ctl

#endif  // KESTRIN_CTL_BUNDLE_RUN_H_
