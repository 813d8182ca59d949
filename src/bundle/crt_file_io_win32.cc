// The decoder's file callbacks on the Windows C runtime: the flags and
// permission values are the runtime's own and are passed on as they are.
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "bundle/crt_file_io.h"

namespace kestrin {
namespace {

int last_write_errno = 0;

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

}  // namespace

int CrtLastWriteErrno() { return last_write_errno; }

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

void* CrtAlloc(uint32_t size) { return std::malloc(size == 0 ? 1 : size); }

void CrtFree(void* block) { std::free(block); }

const char* CrtNotRegularText(int err) {
  if (err == EISDIR) return "it is a folder";
  if (err == ENXIO) return "it is not a regular file (a device)";
  return nullptr;
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
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return -1;
  }
  const int fd = _open(path, TranslateCrtOpenFlags(crt_flags),
                       static_cast<int>(TranslateCrtPermission(crt_permission)));
  if (fd < 0) return -1;
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK) {
    _close(fd);
    errno = ENXIO;
    return -1;
  }
  return HandleFromFd(fd);
}

uint32_t CrtRead(cab::INT_PTR hf, void* buffer, uint32_t count) {
  if (hf == kDiscardHandle) return 0;
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const int n = _read(FdFromHandle(hf), out + done, count - done);
    if (n < 0) return done > 0 ? done : cab::kIoError;
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

uint32_t CrtWrite(cab::INT_PTR hf, const void* buffer, uint32_t count) {
  if (hf == kDiscardHandle) return count;
  const char* in = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const int n = _write(FdFromHandle(hf), in + done, count - done);
    if (n < 0) {
      last_write_errno = errno;
      return done > 0 ? done : cab::kIoError;
    }
    if (n == 0) {
      last_write_errno = ENOSPC;
      break;
    }
    done += static_cast<uint32_t>(n);
  }
  return done;
}

int CrtClose(cab::INT_PTR hf) {
  if (hf == kDiscardHandle) return 0;
  return _close(FdFromHandle(hf)) == 0 ? 0 : -1;
}

long CrtSeek(cab::INT_PTR hf, long offset, int origin) {
  if (hf == kDiscardHandle) return 0;
  if (origin < 0 || origin > 2) {
    errno = EINVAL;
    return -1;
  }
  return _lseek(FdFromHandle(hf), offset, origin);
}

}  // namespace kestrin
