// Opening files for the decoder on the Windows C runtime: the flags and
// permission values are the runtime's own and are passed on as they are.
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bundle/crt_file_io.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

// CON, NUL, COM1 ...: names that open a device in any folder.
bool IsDeviceName(const char* path) {
  std::string name(path);
  const size_t slash = name.find_last_of("\\/:");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" ||
      name == "CONOUT$") {
    return true;
  }
  return name.size() == 4 && (name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0) &&
         name[3] >= '1' && name[3] <= '9';
}

// The folders too long for the decoder (DecoderFolder), by alias: the
// decoder is given "<N>\" for the N-th, a text no Windows path starts with,
// and CrtOpen puts the folder back in its place.
std::vector<std::string>& LongFolders() {
  static std::vector<std::string> folders;
  return folders;
}

std::string ExpandFolderAlias(const char* path) {
  std::string text(path);
  const size_t end = text.find(">\\");
  if (text.empty() || text[0] != '<' || end == std::string::npos) return text;
  const size_t index = std::strtoul(text.c_str() + 1, nullptr, 10);
  if (index >= LongFolders().size() || LongFolders()[index].empty()) return text;
  return LongFolders()[index] + text.substr(end + 2);
}

}  // namespace

namespace crt_platform {

void* Allocate(uint32_t size) { return std::malloc(size == 0 ? 1 : size); }

const char* const kNotRegularText = "it is not a regular file (a device)";

long ReadOnce(int fd, void* buffer, uint32_t count) { return _read(fd, buffer, count); }

long WriteOnce(int fd, const void* buffer, uint32_t count) { return _write(fd, buffer, count); }

int Close(int fd) { return _close(fd); }

long Seek(int fd, long offset, int origin) { return _lseek(fd, offset, origin); }

}  // namespace crt_platform

// The runtime takes its own flags; the descriptor is never inherited by
// programs Kestrin starts.
int TranslateCrtOpenFlags(int crt_flags) {
  int flags = crt_flags | _O_NOINHERIT;
  if ((crt_flags & kCrtCreat) && (crt_flags & 3) != kCrtRdOnly) flags |= _O_TRUNC;
  return flags;
}

unsigned TranslateCrtPermission(int crt_permission) {
  return static_cast<unsigned>(crt_permission & (_S_IREAD | _S_IWRITE)) | _S_IREAD;
}

cab::INT_PTR CrtOpen(const char* path, int crt_flags, int crt_permission) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (IsDeviceName(path)) {
    errno = ENXIO;
    return -1;
  }
  // Any depth: the wide runtime call takes the "\\?\" form.
  const std::wstring wide = LongPath(ExpandFolderAlias(path));
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return -1;
  }
  const int fd = _wopen(wide.c_str(), TranslateCrtOpenFlags(crt_flags),
                        static_cast<int>(TranslateCrtPermission(crt_permission)));
  if (fd < 0) return -1;
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK) {
    _close(fd);
    errno = ENXIO;
    return -1;
  }
  return HandleFromFd(fd);
}

// A folder too long for the decoder is given to it by its alias.
std::string DecoderFolder(const std::string& folder, size_t name_length, int* handle) {
  *handle = -1;
  if (folder.size() + name_length <= 255) return folder;
  std::vector<std::string>& folders = LongFolders();
  size_t index = 0;
  while (index < folders.size() && !folders[index].empty()) ++index;
  if (index == folders.size()) folders.emplace_back();
  folders[index] = folder;
  *handle = static_cast<int>(index);
  return "<" + std::to_string(index) + ">\\";
}

void ReleaseDecoderFolder(int handle) {
  if (handle >= 0 && static_cast<size_t>(handle) < LongFolders().size()) {
    LongFolders()[handle].clear();
  }
}

}  // namespace kestrin
