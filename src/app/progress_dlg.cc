#include "app/progress_dlg.h"

#include "app/install_steps.h"
#include "app/messages.h"
#include "host/dos_time.h"
#include "host/path_resolve.h"
#include "host/product_env.h"

namespace kestrin {

namespace {

CProgressDlg* g_context = nullptr;

}  // namespace

std::tm SystemLocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  LocalTimeOf(now, &local);
  return local;
}

CProgressDlg::CProgressDlg(Host& host, const StringList& bundle_arguments, bool silent_mode,
                           bool force_overwrite, bool recover_templates,
                           const std::string& bin_dir_switch, UiServices& ui)
    : StepContext(host),
      RecoverTemplates(recover_templates),
      ui_(&ui),
      steps_(InstallationSteps()) {
  SilentMode = silent_mode;
  ForceOverwrite = force_overwrite;
  BundleRecoverTemplates = false;
  FirstShowPending = true;

  ProductIniDir = RemoveTrailingSeparator(GetIniPath(host));
  OemCabDir = MakeOemCabDir(ProductIniDir);
  ProgramDataDir = RemoveTrailingSeparator(GetProgramDataDir(host));

  BinDir = bin_dir_switch.empty() ? GetProductDir(host) : bin_dir_switch;

  CommandLinePaths.insert(CommandLinePaths.begin(), bundle_arguments.begin(),
                          bundle_arguments.end());
  g_context = this;
  BundleDirectories.clear();
  AvailableBundles.clear();
  ScheduledBundles.clear();

  // The cabinet and bundle code reports through AddInfo.
  previous_sink_ = SetReportSink(
      [this](const std::string& text, int level, bool log) { AddInfo(text, level, log); });
}

CProgressDlg::~CProgressDlg() {
  SetReportSink(std::move(previous_sink_));
  if (g_context == this) g_context = nullptr;
}

CProgressDlg* CProgressDlg::Current() { return g_context; }

void CProgressDlg::AddInfo(const std::string& text, int level, bool log) {
  if (level >= 2) return;
  Ui().AddLine(text);
  if (log) WriteLog(text);
}

bool CProgressDlg::AskYesNo(const std::string& text) {
  MessageText = text;
  return Ui().AskYesNo(text);
}

void CProgressDlg::ResetInfoList(bool prompt) {
  Ui().ClearLines();
  if (prompt) Ui().AddLine(msg::kSelectPrompt);
}

std::string FormatLogLine(const std::tm& when, const std::string& text) {
  char stamp[25];
  size_t n = strftime(stamp, sizeof stamp, "%Y%m%d %H.%M", &when);
  std::string line(stamp, n);
  line += " -> ";
  line += text;
  line += '\n';
  return line;
}

bool WriteLog(const std::string& text) {
  CProgressDlg* dlg = CProgressDlg::Current();
  if (dlg == nullptr) return false;
  // Resolved like every Korvane path, so an "oemcab" folder is found too.
  FileSystem& fs = dlg->host.files;
  return fs.AppendText(fs.Resolve(JoinPath(dlg->OemCabDir, msg::kLogFileName)),
                       FormatLogLine(dlg->clock()(), text));
}

bool LogTrace(const std::string& text, int level) {
  if (level > 1) return false;
  return WriteLog(text);
}

}  // namespace kestrin
