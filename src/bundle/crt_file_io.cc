// The decoder's file callbacks that both platforms share: the heap, the
// loops of reads and writes, closing and seeking.
#include "bundle/crt_file_io.h"

#include <errno.h>

#include <cstdlib>

namespace kestrin {
namespace {

int last_write_errno = 0;

}  // namespace

int CrtLastWriteErrno() { return last_write_errno; }

void* CrtAlloc(uint32_t size) { return crt_platform::Allocate(size); }

void CrtFree(void* block) { std::free(block); }

const char* CrtNotRegularText(int err) {
  if (err == EISDIR) return "it is a folder";
  if (err == ENXIO) return crt_platform::kNotRegularText;
  return nullptr;
}

uint32_t CrtRead(cab::INT_PTR hf, void* buffer, uint32_t count) {
  if (hf == kDiscardHandle) return 0;
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const long n = crt_platform::ReadOnce(FdFromHandle(hf), out + done, count - done);
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
    const long n = crt_platform::WriteOnce(FdFromHandle(hf), in + done, count - done);
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
  return crt_platform::Close(FdFromHandle(hf)) == 0 ? 0 : -1;
}

long CrtSeek(cab::INT_PTR hf, long offset, int origin) {
  if (hf == kDiscardHandle) return 0;
  if (origin < 0 || origin > 2) {
    errno = EINVAL;
    return -1;
  }
  return crt_platform::Seek(FdFromHandle(hf), offset, origin);
}

}  // namespace kestrin
