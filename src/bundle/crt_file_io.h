// The C runtime's low-level file calls and heap, as the cabinet decoder's
// callbacks expect them.
//
// The decoder and CCabinetFile speak in the Windows runtime's open flags and
// permission values (0x8000 read-only binary for a cabinet, 0x8122 with 0x80
// for an output file); on POSIX CrtOpen translates them, the Windows runtime
// takes them as they are. Handles are descriptors shifted by one, so a handle
// is never 0 (0 means "skip this file" to the decoder) and never -1, even
// when descriptor 0 is free. Opening differs between the platforms
// (crt_file_io_posix.cc, crt_file_io_win32.cc); the rest is shared.
#ifndef KESTRIN_BUNDLE_CRT_FILE_IO_H_
#define KESTRIN_BUNDLE_CRT_FILE_IO_H_

#include <cstdint>
#include <string>

#include "cabinet/fdi.h"

namespace kestrin {

// Windows C runtime open flags (<fcntl.h> of that runtime).
inline constexpr int kCrtRdOnly = 0x0000;
inline constexpr int kCrtWrOnly = 0x0001;
inline constexpr int kCrtRdWr = 0x0002;
inline constexpr int kCrtAppend = 0x0008;
inline constexpr int kCrtRandom = 0x0010;
inline constexpr int kCrtSequential = 0x0020;
inline constexpr int kCrtTemporary = 0x0040;
inline constexpr int kCrtNoInherit = 0x0080;
inline constexpr int kCrtCreat = 0x0100;
inline constexpr int kCrtTrunc = 0x0200;
inline constexpr int kCrtExcl = 0x0400;
inline constexpr int kCrtText = 0x4000;
inline constexpr int kCrtBinary = 0x8000;
// Permission values (<sys/stat.h> of that runtime).
inline constexpr int kCrtIRead = 0x0100;
inline constexpr int kCrtIWrite = 0x0080;

// What CabCopyNotify passes for an output file: binary, create, sequential
// access, read-write; write permission.
inline constexpr int kCrtOutputFlags = kCrtBinary | kCrtCreat | kCrtSequential | kCrtRdWr;  // 0x8122
inline constexpr int kCrtOutputPermission = kCrtIWrite;                                      // 0x80

// POSIX open flags for runtime flags: access mode, append, create, truncate,
// exclusive; binary, text, sequential, random, temporary and no-inherit have
// no meaning here (descriptors are always close-on-exec). A file opened for
// writing with create is truncated when it exists.
int TranslateCrtOpenFlags(int crt_flags);
// File mode for a runtime permission: 0666 with write permission, else 0444
// (the umask applies on creation).
unsigned TranslateCrtPermission(int crt_permission);

// Handle <-> descriptor.
inline cab::INT_PTR HandleFromFd(int fd) { return static_cast<cab::INT_PTR>(fd) + 1; }
inline int FdFromHandle(cab::INT_PTR hf) { return static_cast<int>(hf - 1); }

// A handle that accepts and drops every write and closes without error; used
// to decode files without writing them (a test run).
inline constexpr cab::INT_PTR kDiscardHandle = static_cast<cab::INT_PTR>(0x7ffffff0);

// The seven callbacks.
void* CrtAlloc(uint32_t size);
void CrtFree(void* block);
// A path that does not exist is looked up again ignoring letter case (only
// when not creating), the way Windows would find it. Only regular files are
// opened, and the open never waits: a FIFO, device or socket fails with
// errno ENXIO, a folder with EISDIR.
cab::INT_PTR CrtOpen(const char* path, int crt_flags, int crt_permission);
uint32_t CrtRead(cab::INT_PTR hf, void* buffer, uint32_t count);
uint32_t CrtWrite(cab::INT_PTR hf, const void* buffer, uint32_t count);
int CrtClose(cab::INT_PTR hf);
long CrtSeek(cab::INT_PTR hf, long offset, int origin);

// errno of the last failed or short CrtWrite (0 when none failed yet); the
// decoder only reports that a write fell short, this tells why.
int CrtLastWriteErrno();

// Why CrtOpen refused an entry that exists, for errno ENXIO or EISDIR as it
// set them ("it is a folder", ...); null for any other errno.
const char* CrtNotRegularText(int err);

// CrtOpen of `name` inside the directory `dir_fd`, never following a
// symbolic link in its last component. Used for output files so that a link
// planted in the target folder cannot redirect a write. (POSIX only.)
cab::INT_PTR CrtOpenAt(int dir_fd, const char* name, int crt_flags, int crt_permission);

// The folder of a cabinet as the decoder is given it: the decoder keeps
// paths of at most 256 characters, so where the platform allows it a longer
// folder is reached through a descriptor of it (`*handle`, released with
// ReleaseDecoderFolder; -1 when none was needed).
std::string DecoderFolder(const std::string& folder, size_t name_length, int* handle);
void ReleaseDecoderFolder(int handle);

namespace crt_platform {

// A block of the runtime's heap (released with free): malloc, or where the
// platform can, a large block on huge pages.
void* Allocate(uint32_t size);
// One call of the runtime's read or write (interrupted calls repeated): the
// count, or -1 with errno set. Each platform's back end.
long ReadOnce(int fd, void* buffer, uint32_t count);
long WriteOnce(int fd, const void* buffer, uint32_t count);
int Close(int fd);
// `origin` is 0, 1 or 2 (set, current, end).
long Seek(int fd, long offset, int origin);
// What a file that is no regular file is, in the platform's words.
extern const char* const kNotRegularText;

}  // namespace crt_platform

}  // namespace kestrin

#endif  // KESTRIN_BUNDLE_CRT_FILE_IO_H_
