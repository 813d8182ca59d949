// The folder chooser of "...": the shell's folder browser, file-system
// folders only, without a button for new folders, with a status line that
// shows the highlighted folder; its OK button is enabled exactly when that
// folder holds at least one usable bundle.
#include <shlobj.h>

#include "app/messages.h"
#include "app/system_host.h"
#include "bundle/bundle.h"
#include "ui/win32/main_dialog.h"

namespace kestrin {

namespace {

std::string PathOf(LPCITEMIDLIST item) {
  char path[MAX_PATH] = {};
  if (item == nullptr || !SHGetPathFromIDListA(item, path)) return "";
  return path;
}

// The browser that is open (it is modal: one at a time) and the folder it
// is to start on.
struct tBrowse {
  std::string start;
  bool done = false;        // the start is highlighted, or the user chose another
  bool requesting = false;  // inside our own request to highlight the start
  int tries = 0;
};
tBrowse* g_browse = nullptr;

constexpr UINT_PTR kHighlightTimer = 1;

// Highlights the starting folder; that notifies BFFM_SELCHANGED. The shell
// may not take the request while it is still filling its tree (Wine's
// browser drops it now and then), so it is repeated for up to two seconds
// until the start is highlighted or the user has highlighted a folder.
void CALLBACK HighlightStart(HWND browser, UINT, UINT_PTR, DWORD) {
  if (g_browse == nullptr || g_browse->done || ++g_browse->tries > 20) {
    KillTimer(browser, kHighlightTimer);
    return;
  }
  g_browse->requesting = true;
  SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(g_browse->start.c_str()));
  g_browse->requesting = false;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lparam, LPARAM) {
  switch (message) {
    case BFFM_INITIALIZED:
      HighlightStart(browser, 0, 0, 0);
      if (!g_browse->done) SetTimer(browser, kHighlightTimer, 100, HighlightStart);
      break;
    case BFFM_SELCHANGED: {
      const std::string path = PathOf(reinterpret_cast<LPCITEMIDLIST>(lparam));
      if (!g_browse->requesting || lstrcmpiA(path.c_str(), g_browse->start.c_str()) == 0)
        g_browse->done = true;
      SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path.c_str()));
      // Posted: it must hold after the browser's own check of the new
      // selection (Wine's enables OK once the callback has returned).
      PostMessageA(browser, BFFM_ENABLEOK, 0, !path.empty() && DirectoryHasBundle(SystemHost(), path));
      break;
    }
    default:
      break;
  }
  return 0;
}

}  // namespace

std::optional<std::string> ChooseBundleFolder(HWND owner, const std::string& start) {
  std::string first = start;
  const DWORD attributes = first.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(first.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof current, current);
    first = current;
  }
  char display[MAX_PATH] = {};
  BROWSEINFOA browse = {};
  browse.hwndOwner = owner;
  browse.pszDisplayName = display;
  browse.lpszTitle = msg::kChooseDirectory;
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
  browse.lpfn = BrowseCallback;
  tBrowse state{first};
  g_browse = &state;
  LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
  g_browse = nullptr;
  if (chosen == nullptr) return std::nullopt;
  const std::string path = PathOf(chosen);
  CoTaskMemFree(chosen);
  if (path.empty() || !DirectoryHasBundle(SystemHost(), path)) return std::nullopt;
  return path;
}

}  // namespace kestrin
