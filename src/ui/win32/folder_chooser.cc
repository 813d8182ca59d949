// The folder chooser of "...": the shell's folder browser, file-system
// folders only, without a button for new folders, with a status line that
// shows the highlighted folder; its OK button is enabled exactly when that
// folder holds at least one usable bundle.
#include <shlobj.h>

#include "app/messages.h"
#include "bundle/bundle.h"
#include "ui/win32/main_dialog.h"

namespace kestrin {

namespace {

std::string PathOf(LPCITEMIDLIST item) {
  char path[MAX_PATH] = {};
  if (item == nullptr || !SHGetPathFromIDListA(item, path)) return "";
  return path;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lparam, LPARAM data) {
  switch (message) {
    case BFFM_INITIALIZED:
      // Highlights the starting folder; that notifies BFFM_SELCHANGED.
      SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
      break;
    case BFFM_SELCHANGED: {
      const std::string path = PathOf(reinterpret_cast<LPCITEMIDLIST>(lparam));
      SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path.c_str()));
      SendMessageA(browser, BFFM_ENABLEOK, 0, !path.empty() && DirectoryHasBundle(path));
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
  browse.lParam = reinterpret_cast<LPARAM>(first.c_str());
  LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
  if (chosen == nullptr) return std::nullopt;
  const std::string path = PathOf(chosen);
  CoTaskMemFree(chosen);
  if (path.empty() || !DirectoryHasBundle(path)) return std::nullopt;
  return path;
}

}  // namespace kestrin
