// Output files below the target folder on Windows: folders are created one
// by one, and a junction or symbolic link met on the way (or in the file's
// place) is refused, so a write never leaves the target folder. Names that
// Windows would read as something else (a device such as "CON", a stream
// "name:stream", characters a file name cannot hold, trailing dots or
// blanks) are refused too.
#include <errno.h>
#include <io.h>
#include <windows.h>

#include <cstring>

#include "bundle/crt_file_io.h"
#include "bundle/output_tree.h"
#include "host/dos_time.h"
#include "host/file_system.h"
#include "host/path_resolve.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

// Why Windows cannot hold `name` as a plain file or folder name; null when it can.
const char* UnusableName(const std::string& name) {
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 32 || std::strchr("<>:\"|?*", c) != nullptr) {
      return "the name holds a character Windows does not allow in file names";
    }
  }
  if (name.back() == '.' || name.back() == ' ') return "the name ends with a dot or a blank";
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" ||
      (base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
       base[3] >= '1' && base[3] <= '9')) {
    return "the name is a device name";
  }
  return nullptr;
}

}  // namespace

// Nothing is kept open between files here.
struct OutputTree::Folder {};

OutputTree::OutputTree(std::string target_directory) : target_(std::move(target_directory)) {}

OutputTree::~OutputTree() = default;

cab::INT_PTR OutputTree::CreateOutputFile(const std::vector<std::string>& components,
                                          std::string* display_path, std::string* error) {
  if (components.empty()) {
    *error = "no file name";
    return -1;
  }
  FileSystem& fs = SystemFileSystem();
  std::string path =
      StripTrailingSeparators(NativePath(target_.empty() ? std::string(".") : target_));
  if (!IsDirectory(fs, path)) {
    FsError fs_error;
    if (CreateDirectoryTree(fs, path, &fs_error) != 1 && !IsDirectory(fs, path)) {
      *error = fs_error.text.empty() ? "cannot create folder " + path : fs_error.text;
      return -1;
    }
  }
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string& name = components[i];
    path = JoinPath(path, name);
    *display_path = path;
    if (const char* why = UnusableName(name)) {
      *error = "cannot create " + path + ": " + why;
      return -1;
    }
    const DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      *error = "refusing to follow the link " + path;
      return -1;
    }
    if (i + 1 == components.size()) break;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryW(LongPath(path).c_str(), nullptr) &&
          GetLastError() != ERROR_ALREADY_EXISTS) {
        *error = "cannot create folder " + path + ": " + Win32ErrorText(GetLastError());
        return -1;
      }
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      *error = "cannot create folder " + path + ": a file of that name exists";
      return -1;
    }
  }
  const cab::INT_PTR hf = CrtOpen(path.c_str(), kCrtOutputFlags, kCrtOutputPermission);
  if (hf == -1) {
    const int err = errno;
    const char* why = CrtNotRegularText(err);
    *error = "cannot create file " + path + ": " + (why != nullptr ? why : std::strerror(err));
    return -1;
  }
  return hf;
}

void StampOutputFile(int fd, uint16_t dos_date, uint16_t dos_time, uint16_t attribs) {
  const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (file == INVALID_HANDLE_VALUE) return;
  FILETIME local, utc;
  if (DosDateTimeToFileTime(dos_date, dos_time, &local) && LocalFileTimeToFileTime(&local, &utc)) {
    (void)SetFileTime(file, nullptr, nullptr, &utc);
  }
  if (attribs & 0x01) {
    FILE_BASIC_INFO info{};
    if (GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) {
      info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
      (void)SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info);
    }
  }
}

}  // namespace kestrin
