#include "app/progress_dlg.h"

#include <cstdarg>
#include <cstdio>

#include "app/install_steps.h"
#include "app/messages.h"
#include "host/dos_time.h"
#include "host/text_format.h"
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

CProgressDlg::CProgressDlg(const StringList& bundle_arguments, bool silent_mode,
                           bool force_overwrite, bool recover_templates,
                           const std::string& bin_dir_switch, UiServices& ui)
    : RecoverTemplates(recover_templates), ui_(&ui), steps_(InstallationSteps()) {
  SilentMode = silent_mode;
  ForceOverwrite = force_overwrite;
  BundleRecoverTemplates = false;
  FirstShowPending = true;

  ProductIniDir = RemoveTrailingSeparator(GetIniPath());
  OemCabDir = MakeOemCabDir(ProductIniDir);
  ProgramDataDir = RemoveTrailingSeparator(GetProgramDataDir());

  BinDir = bin_dir_switch.empty() ? GetProductDir() : bin_dir_switch;

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
  if (!SilentMode) ui_->AddLine(text);
  if (log) WriteLog(text);
}

bool CProgressDlg::AskYesNo(const std::string& text) {
  MessageText = text;
  return ui_->AskYesNo(text);
}

void CProgressDlg::ResetInfoList(bool prompt) {
  if (SilentMode) return;
  ui_->ClearLines();
  if (prompt) ui_->AddLine(msg::kSelectPrompt);
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
  std::string path = ResolvePath(dlg->OemCabDir + "/" + msg::kLogFileName);
  FILE* file = fopen(path.c_str(), "a");
  if (file == nullptr) return false;
  std::string line = FormatLogLine(dlg->clock()(), text);
  bool written = fwrite(line.data(), 1, line.size(), file) == line.size();
  if (fclose(file) != 0) written = false;
  return written;
}

bool LogTrace(const std::string& text, int level) {
  if (level > 1) return false;
  return WriteLog(text);
}

}  // namespace kestrin
