// Fuzzes the whole cabinet reader: FDICopy (and the listing call) over an
// in-memory cabinet, every file accepted, all compression methods. The input
// may be a set: cabinets back to back, each beginning where the one before
// ends by its header's cabinet size; a next-cabinet request opens the next
// of them (the first repeated request is answered once more, so that the
// retry is walked too), which exercises folders spanning cabinets. Output is
// checked for nothing but capped per input so that a tiny input cannot make
// the run write gigabytes: past the cap the write callback comes up short and
// the copy ends with a target-file error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cabinet/fdi.h"

namespace {

using namespace kestrin::cab;

const uint8_t* g_data;
size_t g_size;
uint64_t g_written;
uint64_t g_cap;

// The cabinets of the input: part i is [g_part_at[i], g_part_at[i + 1]).
constexpr int kMaxParts = 8;
size_t g_part_at[kMaxParts + 1];
int g_parts;
int g_current;  // the part a next-cabinet open gets
int g_repeats;  // repeated next-cabinet requests answered in this copy

void SplitParts() {
  g_parts = 0;
  g_part_at[0] = 0;
  size_t at = 0;
  while (g_parts < kMaxParts) {
    size_t end = g_size;
    if (at + 12 <= g_size) {
      const uint32_t cb = g_data[at + 8] | g_data[at + 9] << 8 | g_data[at + 10] << 16 |
                          static_cast<uint32_t>(g_data[at + 11]) << 24;
      if (cb >= 36 && cb < g_size - at && g_size - at - cb >= 4 &&
          std::memcmp(g_data + at + cb, "MSCF", 4) == 0) {
        end = at + cb;
      }
    }
    g_part_at[++g_parts] = end;
    if (end == g_size) break;
    at = end;
  }
  g_part_at[g_parts] = g_size;  // the last part takes the rest
}

struct MemFile {
  bool used = false;
  bool output = false;
  size_t pos = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};
MemFile g_handles[16];

void* Alloc(uint32_t n) { return std::malloc(n ? n : 1); }
void Free(void* p) { std::free(p); }

INT_PTR NewHandle(bool output, int part = 0) {
  for (int i = 0; i < 16; ++i) {
    if (!g_handles[i].used) {
      const size_t from = g_part_at[part];
      g_handles[i] = MemFile{true, output, 0, g_data + from, g_part_at[part + 1] - from};
      return i + 1;
    }
  }
  return -1;
}
MemFile* Get(INT_PTR hf) {
  if (hf < 1 || hf > 16 || !g_handles[hf - 1].used) return nullptr;
  return &g_handles[hf - 1];
}

// The first cabinet's path opens the first part; any other path (a next
// cabinet) the part the last request moved to.
INT_PTR Open(const char* path, int, int) {
  const bool first = std::strcmp(path, "/mem/fuzz.cab") == 0;
  return NewHandle(false, first ? 0 : g_current);
}
uint32_t Read(INT_PTR hf, void* buf, uint32_t n) {
  MemFile* f = Get(hf);
  if (!f || f->output) return kIoError;
  const size_t left = f->pos < f->size ? f->size - f->pos : 0;
  const uint32_t got = static_cast<uint32_t>(n < left ? n : left);
  if (got) std::memcpy(buf, f->data + f->pos, got);
  f->pos += got;
  return got;
}
uint32_t Write(INT_PTR hf, const void*, uint32_t n) {
  MemFile* f = Get(hf);
  if (!f || !f->output) return kIoError;
  if (g_written + n > g_cap) return 0;
  g_written += n;
  return n;
}
int Close(INT_PTR hf) {
  MemFile* f = Get(hf);
  if (!f) return -1;
  f->used = false;
  return 0;
}
long Seek(INT_PTR hf, long dist, int origin) {
  MemFile* f = Get(hf);
  if (!f || f->output) return -1;
  const long base = origin == 0 ? 0 : origin == 1 ? static_cast<long>(f->pos) : static_cast<long>(f->size);
  const long to = base + dist;
  if (to < 0) return -1;
  f->pos = static_cast<size_t>(to);
  return to;
}

INT_PTR Notify(FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n) {
  switch (kind) {
    case fdintCOPY_FILE:
      return NewHandle(true);
    case fdintCLOSE_FILE_INFO:
      Close(n->hf);
      return 1;
    case fdintNEXT_CABINET:
      if (n->fdie == FDIERROR_NONE) {
        if (g_current + 1 < g_parts) ++g_current;
        return 0;
      }
      return g_repeats++ < 1 ? 0 : -1;
    default:
      return 0;
  }
}

INT_PTR List(const FDILISTENTRY* e) {
  char method[32];
  if (e->kind == fdilistFILE) FDICompressionName(e->file->typeCompress, method, sizeof method);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_data = data;
  g_size = size;
  g_written = 0;
  g_cap = 64 * static_cast<uint64_t>(size) + (1u << 20);
  SplitParts();
  g_current = 0;
  g_repeats = 0;
  ERF erf;
  HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
  if (!hfdi) return 0;
  FDICopy(hfdi, "fuzz.cab", "/mem/", 0, Notify, nullptr, nullptr);
  // And the copy that starts at the second cabinet of a set.
  if (g_parts > 1) {
    g_current = 1;
    g_repeats = 0;
    FDICopy(hfdi, "next.cab", "/mem/", 0, Notify, nullptr, nullptr);
  }
  FDIListCabinet(hfdi, "fuzz.cab", "/mem/", List, nullptr);
  FDIDestroy(hfdi);
  for (MemFile& f : g_handles) {
    if (f.used) std::abort();  // every handle must be closed again
  }
  return 0;
}
