#include "fdi_harness.h"

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <strings.h>

#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <memory>

namespace kestrin::cab::testing {
namespace {

// Handle table: index + 1 is the handle (never 0 or -1).
struct Slot {
  enum Kind { kFree, kMemory, kDisk, kOutput } kind = kFree;
  const std::string* data = nullptr;  // kMemory
  int fd = -1;                        // kDisk
  uint64_t pos = 0;                   // kMemory
  // kOutput
  std::unique_ptr<kestrin::testing::Sha256> sha;
  uint64_t size = 0;
};
std::vector<Slot>& Slots() {
  static std::vector<Slot> slots;
  return slots;
}
Slot* Lookup(INT_PTR hf) {
  auto& slots = Slots();
  if (hf <= 0 || static_cast<size_t>(hf) > slots.size()) return nullptr;
  Slot* s = &slots[hf - 1];
  return s->kind == Slot::kFree ? nullptr : s;
}
INT_PTR NewSlot() {
  auto& slots = Slots();
  for (size_t i = 0; i < slots.size(); ++i) {
    if (slots[i].kind == Slot::kFree) return static_cast<INT_PTR>(i + 1);
  }
  slots.emplace_back();
  return static_cast<INT_PTR>(slots.size());
}

void* Alloc(uint32_t cb) {
  Harness& h = Harness::Get();
  if (h.fail_allocation >= 0 && h.allocations++ == h.fail_allocation) return nullptr;
  if (h.fail_allocation < 0) ++h.allocations;
  void* p = std::malloc(cb ? cb : 1);
  if (p) ++h.live_blocks;
  return p;
}
void Free(void* p) {
  if (!p) return;
  --Harness::Get().live_blocks;
  std::free(p);
}
uint32_t Read(INT_PTR hf, void* buf, uint32_t cb) {
  Slot* s = Lookup(hf);
  if (!s) return kIoError;
  Harness& h = Harness::Get();
  if (s->kind == Slot::kMemory) {
    const uint64_t left = s->pos < s->data->size() ? s->data->size() - s->pos : 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(cb, left));
    std::memcpy(buf, s->data->data() + s->pos, n);
    s->pos += n;
    h.cabinet_bytes_read += n;
    return n;
  }
  if (s->kind == Slot::kDisk) {
    uint32_t done = 0;
    while (done < cb) {
      const ssize_t n = ::read(s->fd, static_cast<char*>(buf) + done, cb - done);
      if (n < 0) return kIoError;
      if (n == 0) break;
      done += static_cast<uint32_t>(n);
    }
    h.cabinet_bytes_read += done;
    return done;
  }
  return kIoError;
}
uint32_t Write(INT_PTR hf, const void* buf, uint32_t cb) {
  Slot* s = Lookup(hf);
  if (!s || s->kind != Slot::kOutput) return kIoError;
  const uint64_t limit = Harness::Get().output_limit;
  uint32_t n = cb;
  if (s->size + n > limit) n = static_cast<uint32_t>(limit > s->size ? limit - s->size : 0);
  s->sha->Update(buf, n);
  s->size += n;
  return n;
}
int Close(INT_PTR hf) {
  Slot* s = Lookup(hf);
  if (!s) return -1;
  Harness& h = Harness::Get();
  int result = 0;
  if (s->kind == Slot::kDisk) ::close(s->fd);
  if (s->kind != Slot::kOutput && h.fail_close > 0) {
    --h.fail_close;
    result = -1;
  }
  *s = Slot{};
  --h.open_handles;
  return result;
}
long Seek(INT_PTR hf, long dist, int origin) {
  Slot* s = Lookup(hf);
  if (!s) return -1;
  if (s->kind == Slot::kMemory) {
    int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? static_cast<int64_t>(s->pos)
                                                               : static_cast<int64_t>(s->data->size());
    const int64_t to = base + dist;
    if (to < 0) return -1;
    s->pos = static_cast<uint64_t>(to);
    return static_cast<long>(to);
  }
  if (s->kind == Slot::kDisk) {
    const off_t r = ::lseek(s->fd, dist, origin);
    return r < 0 ? -1 : static_cast<long>(r);
  }
  return -1;
}

INT_PTR NewOutput() {
  const INT_PTR hf = NewSlot();
  Slot& s = Slots()[hf - 1];
  s.kind = Slot::kOutput;
  s.sha = std::make_unique<kestrin::testing::Sha256>();
  ++Harness::Get().open_handles;
  return hf;
}

}  // namespace

Harness& Harness::Get() {
  static Harness h;
  return h;
}

void Harness::Reset() {
  for (size_t i = 0; i < Slots().size(); ++i) {
    if (Slots()[i].kind != Slot::kFree) Close(static_cast<INT_PTR>(i + 1));
  }
  *this = Harness{};
}

PFNALLOC TestAlloc() { return Alloc; }
PFNFREE TestFree() { return Free; }

INT_PTR TestOpen(const char* path, int oflag, int pmode) {
  Harness& h = Harness::Get();
  ++h.opens;
  h.opened_paths.push_back(path);
  if (oflag != kOpenReadOnlyBinary || pmode != kOpenPermission) return -1;
  auto it = h.files.find(path);
  if (it == h.files.end() && !h.allow_disk) return -1;
  int fd = -1;
  if (it == h.files.end()) {
    fd = ::open(path, O_RDONLY);
    if (fd < 0) {
      // Like the host layer: a name that differs only in case still finds its file.
      const std::filesystem::path p(path);
      std::error_code ec;
      for (const auto& entry : std::filesystem::directory_iterator(p.parent_path(), ec)) {
        if (strcasecmp(entry.path().filename().c_str(), p.filename().c_str()) == 0) {
          fd = ::open(entry.path().c_str(), O_RDONLY);
          break;
        }
      }
    }
    if (fd < 0) return -1;
  }
  const INT_PTR hf = NewSlot();
  Slot& s = Slots()[hf - 1];
  if (it != h.files.end()) {
    s.kind = Slot::kMemory;
    s.data = &it->second;
  } else {
    s.kind = Slot::kDisk;
    s.fd = fd;
  }
  ++h.open_handles;
  return hf;
}

HFDI MakeTestContext(ERF* erf) {
  return FDICreate(Alloc, Free, TestOpen, Read, Write, Close, Seek, cpu80386, erf);
}

INT_PTR Recorder::Notify(FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n) {
  auto* r = static_cast<Recorder*>(n->pv);
  r->events.push_back(Event{kind, n->psz1 ? n->psz1 : "", n->psz2 ? n->psz2 : "",
                            n->psz3 ? n->psz3 : "", n->cb, n->setID, n->iCabinet, n->iFolder,
                            n->fdie});
  if (r->hook) {
    const INT_PTR answer = r->hook(kind, n);
    if (answer != kDefault) {
      if (kind == fdintCLOSE_FILE_INFO) Close(n->hf);
      return answer;
    }
  }
  switch (kind) {
    case fdintCOPY_FILE: {
      if (!r->accept_files) return 0;
      if (!r->only.empty() &&
          std::find(r->only.begin(), r->only.end(), std::string(n->psz1)) == r->only.end()) {
        return 0;
      }
      return NewOutput();
    }
    case fdintCLOSE_FILE_INFO: {
      Slot* s = Lookup(n->hf);
      Extracted e;
      e.name = n->psz1;
      if (s && s->kind == Slot::kOutput) {
        e.size = s->size;
        e.sha256 = s->sha->HexDigest();
      }
      e.date = n->date;
      e.time = n->time;
      e.attribs = n->attribs;
      e.exec = n->cb;
      e.folder = n->iFolder;
      r->files.push_back(e);
      Close(n->hf);
      return 1;
    }
    case fdintNEXT_CABINET:
      ++r->next_cabinet_requests;
      if (n->fdie != FDIERROR_NONE) return -1;
      if (!r->next_dir.empty()) {
        std::snprintf(n->psz3, 257, "%s", r->next_dir.c_str());
      }
      return 0;
    default:
      return 0;
  }
}

bool Recorder::Copy(HFDI hfdi, const std::string& dir, const std::string& name,
                    PFNFDIDECRYPT decrypt) {
  return FDICopy(hfdi, name.c_str(), dir.c_str(), 0, Notify, decrypt, this);
}

int Recorder::Count(FDINOTIFICATIONTYPE kind) const {
  int n = 0;
  for (const Event& e : events) n += e.kind == kind;
  return n;
}

std::string Hex(const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char ch : s) {
    out += kHex[ch >> 4];
    out += kHex[ch & 15];
  }
  return out;
}

}  // namespace kestrin::cab::testing
