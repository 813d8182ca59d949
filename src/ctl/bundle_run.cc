#include "ctl/bundle_run.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "app/messages.h"
#include "app/progress_dlg.h"
#include "app/ui_services.h"
#include "ctl/json_writer.h"
#include "host/file_system.h"
#include "host/path_resolve.h"
#include "host/product_env.h"
#include "signature/signature.h"

namespace kestrin::ctl {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

// As the run sorts its command line: a folder unless ".CAB" follows the
// first character; such an entry is a bundle file candidate.
bool NamesCabinet(const std::string& upper) { return upper.find(".CAB", 1) != std::string::npos; }
bool IsBundleFolder(Host& host, const std::string& operand) {
  const std::string upper = Upper(operand);
  return IsDirectory(host.files, upper) && !NamesCabinet(upper);
}

tBundleResult Refused(const std::string& path, const char* status, CtlExit exit,
                      std::string reason) {
  tBundleResult result;
  result.path = path;
  result.status = status;
  result.exit = exit;
  result.reason = std::move(reason);
  return result;
}

// The bundle files the operands name, folders searched as the run searches
// them (their *.cab files in name order, before the files named).
std::vector<std::string> BundleFiles(Host& host, const std::vector<std::string>& operands) {
  std::vector<std::string> folders_first, files;
  for (const std::string& operand : operands) {
    if (!IsBundleFolder(host, operand)) {
      files.push_back(operand);
      continue;
    }
    std::vector<DirEntry> entries;
    const std::string folder = host.files.Resolve(operand);
    if (!FindFiles(host.files, JoinPath(folder, "*.cab"), &entries)) continue;
    for (const DirEntry& entry : entries)
      if (entry.is_regular) folders_first.push_back(JoinPath(folder, entry.name));
  }
  folders_first.insert(folders_first.end(), files.begin(), files.end());
  return folders_first;
}

// --require-signed: the bundle files whose signature holds and is trusted;
// the others become results here, before anything of them is unpacked.
// False (after a message) when the trust anchors cannot be read.
bool SignedBundles(Host& host, const tRunRequest& request, std::vector<std::string>* accepted,
                   std::vector<tBundleResult>* refused, CtlOutput& io) {
  sig::TrustAnchors anchors;
  std::string error;
  std::vector<std::string> trust;
  for (const std::string& path : request.trust) trust.push_back(ResolvePath(path));
  if (!LoadTrustAnchors(trust, &anchors, &error)) {
    fprintf(io.err, "kestrinctl: --trust: %s\n", error.c_str());
    return false;
  }
  for (const std::string& file : BundleFiles(host, request.operands)) {
    SignatureCheck check;
    const SignatureStatus status = VerifyCabinetSignature(host.files.Resolve(file), anchors, &check);
    if (status == SignatureStatus::kValid) {
      accepted->push_back(file);
    } else if (status == SignatureStatus::kUnreadable) {
      refused->push_back(Refused(file, "unusable", CtlExit::kDamagedBundle, check.reason));
    } else {
      refused->push_back(Refused(file, "signature-refused", CtlExit::kSignatureRefused,
                                 std::string(SignatureStatusText(status)) +
                                     (check.reason.empty() ? "" : ": " + check.reason)));
    }
  }
  return true;
}

tBundleResult FromOutcome(const tBundleOutcome& outcome) {
  tBundleResult result;
  result.path = outcome.bundle;
  result.oem_id = outcome.oem_id;
  result.failed_steps = outcome.failed_steps;
  result.items_left = outcome.owned_items_left;
  result.restart_required = outcome.restart_required;
  switch (outcome.prepared) {
    case PrepareResult::kReady:
      break;
    case PrepareResult::kTooOld:
      return Refused(outcome.bundle, "version-refused", CtlExit::kVersionRefused,
                     "the installed Korvane is older than the bundle's MINIMUM_VERSION");
    case PrepareResult::kNotExtracted:
      return Refused(outcome.bundle, "damaged", CtlExit::kDamagedBundle,
                     "the bundle could not be unpacked");
    case PrepareResult::kNoBundle:
    case PrepareResult::kNoTempDir:
      return Refused(outcome.bundle, "failed", CtlExit::kStepFailed,
                     "the temporary folder could not be created");
  }
  if (!result.failed_steps.empty()) {
    result.status = "failed";
    result.exit = CtlExit::kStepFailed;
    result.reason = "a step failed (the log says which item)";
  }
  if (!result.items_left.empty()) result.exit = Worse(result.exit, CtlExit::kOwnedItemsLeft);
  if (result.restart_required) result.exit = Worse(result.exit, CtlExit::kRestartRequired);
  return result;
}

void WriteStrings(JsonWriter& json, const char* key, const std::vector<std::string>& values) {
  json.Key(key).BeginArray();
  for (const std::string& value : values) json.String(value);
  json.EndArray();
}

}  // namespace

const char* ExitName(CtlExit exit) {
  switch (exit) {
    case CtlExit::kOk: return "ok";
    case CtlExit::kStepFailed: return "step-failed";
    case CtlExit::kUsage: return "usage";
    case CtlExit::kDamagedBundle: return "damaged-bundle";
    case CtlExit::kVersionRefused: return "version-refused";
    case CtlExit::kOwnedItemsLeft: return "owned-items-left";
    case CtlExit::kSignatureRefused: return "signature-refused";
    case CtlExit::kDrift: return "drift";
    case CtlExit::kNotRestored: return "not-restored";
    case CtlExit::kConflicts: return "conflicts";
    case CtlExit::kNoKorvane: return "no-korvane";
    case CtlExit::kRestartRequired: return "restart-required";
  }
  return "unknown";
}

bool KorvaneFound(const char* command, CtlOutput& io) {
  const std::string refusal = CheckStartConditions();
  if (refusal.empty()) return true;
  fprintf(io.err, "kestrinctl %s: %s\n", command, refusal.c_str());
  return false;
}

bool ParseRunRequest(const char* command, const std::vector<std::string>& args,
                     tRunRequest* request, CtlOutput& io) {
  ParsedArgs parsed;
  if (!ParseArgs(command, args, {"--force", "--recover", "--json", "--require-signed"},
                 {"--bindir", "--trust"}, &parsed, io)) {
    return false;
  }
  request->force = parsed.switches.count("--force") != 0;
  request->recover = parsed.switches.count("--recover") != 0;
  request->json = parsed.switches.count("--json") != 0;
  request->require_signed = parsed.switches.count("--require-signed") != 0;
  if (parsed.options.count("--bindir") != 0) request->bindir = parsed.options["--bindir"];
  if (parsed.options.count("--trust") != 0) {
    if (!request->require_signed) {
      fprintf(io.err, "kestrinctl %s: --trust goes with --require-signed\n", command);
      return false;
    }
    request->trust.push_back(parsed.options["--trust"]);
  }
  request->operands = parsed.operands;
  if (request->operands.empty()) {
    fprintf(io.err, "kestrinctl %s: no bundle file or folder given (kestrinctl %s --help)\n",
            command, command);
    return false;
  }
  return true;
}

CtlExit RunBundles(Host& host, const tRunRequest& request, std::vector<tBundleResult>* results,
                   CtlOutput& io,
                   std::function<void(const std::string& bundle, const char* phase)> on_phase,
                   RunGuard* guard) {
  std::vector<std::string> operands = request.operands;
  std::vector<tBundleResult> refused;  // reported after the run's bundles
  if (request.require_signed) {
    operands.clear();
    if (!SignedBundles(host, request, &operands, &refused, io)) return CtlExit::kUsage;
  }
  if (!operands.empty()) {
    SilentUi silent_ui;
    CProgressDlg dlg(host, operands, true, request.force, request.recover, request.bindir,
                     silent_ui);
    std::vector<tBundleOutcome> outcomes;
    dlg.Outcomes = &outcomes;
    dlg.SetRunGuard(guard);
    if (on_phase) {  // the bundle as spelled on disk, as in the results
      dlg.OnPhase = [&host, on_phase](const std::string& bundle, const char* phase) {
        on_phase(host.files.Resolve(bundle), phase);
      };
    }
    dlg.AddInfo(msg::kSilentHeader, 1, true);
    dlg.AddInfo(request.force ? msg::kModeForce : msg::kModeNoForce, 1, true);
    dlg.AddInfo("", 1, true);
    dlg.RunInstallation();

    std::set<std::string> scheduled;
    for (const tBundleOutcome& outcome : outcomes) {
      results->push_back(FromOutcome(outcome));
      results->back().path = host.files.Resolve(outcome.bundle);  // as spelled on disk
      scheduled.insert(Upper(outcome.bundle));
    }
    // What the run passed over: files that are no usable bundle.
    for (const std::string& operand : operands) {
      if (IsBundleFolder(host, operand) || scheduled.count(Upper(operand)) != 0) continue;
      const char* reason = !NamesCabinet(Upper(operand)) ? "not a bundle file (*.cab) or folder"
                           : PathExists(host.files, Upper(operand))
                               ? "not a bundle: no hw.ini can be unpacked from it"
                               : "no such file";
      results->push_back(Refused(operand, "unusable", CtlExit::kDamagedBundle, reason));
    }
  }
  results->insert(results->end(), refused.begin(), refused.end());
  CtlExit exit = CtlExit::kOk;
  for (tBundleResult& result : *results) {
    exit = Worse(exit, result.exit);
    if (result.signer.empty()) {
      SignatureCheck check;
      ReadCabinetSigner(host.files.Resolve(result.path), &check);
      result.signer = check.signer;
    }
  }
  if (results->empty()) exit = CtlExit::kDamagedBundle;  // folders without any bundle
  return exit;
}

void WriteRunResults(const char* command, const tRunRequest& request,
                     const std::vector<tBundleResult>& results, CtlExit exit, CtlOutput& io,
                     const std::function<void(JsonWriter&)>& more_json,
                     const std::function<void()>& more_text) {
  if (request.json) {
    JsonWriter json;
    json.BeginObject().Key("schema").String("kestrinctl-run").Key("version").Number(1);
    json.Key("command").String(command);
    json.Key("exit_status").Number(ExitNumber(exit)).Key("outcome").String(ExitName(exit));
    json.Key("bundles").BeginArray();
    for (const tBundleResult& r : results) {
      json.BeginObject().Key("path").String(r.path).Key("status").String(r.status);
      json.Key("outcome").String(ExitName(r.exit)).Key("reason").String(r.reason);
      json.Key("oem_id").Number(r.oem_id);
      WriteStrings(json, "failed_steps", r.failed_steps);
      WriteStrings(json, "items_left", r.items_left);
      json.Key("restart_required").Bool(r.restart_required);
      json.Key("signer").String(r.signer);
      if (r.up_to_date) json.Key("up_to_date").Bool(*r.up_to_date);
      json.EndObject();
    }
    json.EndArray();
    if (more_json) more_json(json);
    json.EndObject();
    fprintf(io.out, "%s\n", json.text().c_str());
    return;
  }
  for (const tBundleResult& r : results) {
    fprintf(io.out, "%-17s %s", r.status, r.path.c_str());
    if (!r.reason.empty()) fprintf(io.out, ": %s", r.reason.c_str());
    fprintf(io.out, "\n");
    for (const std::string& step : r.failed_steps) fprintf(io.out, "  step failed: %s\n", step.c_str());
    const bool plan = std::string_view(command) == "plan";
    for (const std::string& item : r.items_left)
      fprintf(io.out, "  left to another vendor%s: %s\n", plan ? " (--force overwrites it)" : "",
              item.c_str());
    if (r.restart_required) fprintf(io.out, "  Korvane must be restarted\n");
    if (!r.signer.empty()) fprintf(io.out, "  signed by %s\n", r.signer.c_str());
    if (r.up_to_date.value_or(false)) fprintf(io.out, "  up to date: installing it again changes nothing\n");
  }
  if (more_text) more_text();
  fprintf(io.out, "%s: %s (exit status %d)\n", command, ExitName(exit), ExitNumber(exit));
}

}  // namespace kestrin::ctl
