#include "fdi_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "support/sha256.h"
#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

namespace fs = std::filesystem;

// Handle table: index + 1 is the handle (never 0 or -1).
struct Slot {
  enum Kind { kFree, kMemory, kDisk, kOutput } kind = kFree;
  const std::string* data = nullptr;  // kMemory
  int fd = -1;                        // kDisk
  uint64_t pos = 0;                   // kMemory: read position; kOutput: size
  std::unique_ptr<kestrin::testing::Sha256> sha;
};
std::vector<Slot>& Slots() {
  static std::vector<Slot> slots;
  return slots;
}
Slot* Lookup(INT_PTR hf) {
  if (hf <= 0 || static_cast<size_t>(hf) > Slots().size()) return nullptr;
  Slot* s = &Slots()[hf - 1];
  return s->kind == Slot::kFree ? nullptr : s;
}
INT_PTR NewSlot(Slot::Kind kind) {
  auto& slots = Slots();
  size_t i = 0;
  while (i < slots.size() && slots[i].kind != Slot::kFree) ++i;
  if (i == slots.size()) slots.emplace_back();
  slots[i].kind = kind;
  ++Harness::Get().open_handles;
  return static_cast<INT_PTR>(i + 1);
}

void* Alloc(uint32_t cb) {
  Harness& h = Harness::Get();
  if (h.allocations++ == h.fail_allocation) return nullptr;
  ++h.live_blocks;
  return std::malloc(cb ? cb : 1);
}
void Free(void* p) {
  if (p) --Harness::Get().live_blocks;
  std::free(p);
}
uint32_t Read(INT_PTR hf, void* buf, uint32_t cb) {
  Slot* s = Lookup(hf);
  if (s && s->kind == Slot::kMemory) {
    const uint32_t n = static_cast<uint32_t>(
        std::min<uint64_t>(cb, s->pos < s->data->size() ? s->data->size() - s->pos : 0));
    std::memcpy(buf, s->data->data() + s->pos, n);
    s->pos += n;
    return n;
  }
  if (!s || s->kind != Slot::kDisk) return kIoError;
  uint32_t done = 0;
  while (done < cb) {
    const ssize_t n = ::read(s->fd, static_cast<char*>(buf) + done, cb - done);
    if (n < 0) return kIoError;
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}
uint32_t Write(INT_PTR hf, const void* buf, uint32_t cb) {
  Slot* s = Lookup(hf);
  if (!s || s->kind != Slot::kOutput) return kIoError;
  const uint64_t limit = Harness::Get().output_limit;
  const uint32_t n =
      s->pos + cb > limit ? static_cast<uint32_t>(std::max(limit, s->pos) - s->pos) : cb;
  s->sha->Update(buf, n);
  s->pos += n;
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
  if (s && s->kind == Slot::kDisk) return static_cast<long>(::lseek(s->fd, dist, origin));
  if (!s || s->kind != Slot::kMemory) return -1;
  const int64_t base = origin == SEEK_SET   ? 0
                       : origin == SEEK_CUR ? static_cast<int64_t>(s->pos)
                                            : static_cast<int64_t>(s->data->size());
  if (base + dist < 0) return -1;
  s->pos = static_cast<uint64_t>(base + dist);
  return static_cast<long>(s->pos);
}
INT_PTR Open(const char* path, int oflag, int pmode) {
  Harness& h = Harness::Get();
  if (oflag != kOpenReadOnlyBinary || pmode != kOpenPermission) return -1;
  auto it = h.files.find(path);
  if (it != h.files.end()) {
    const INT_PTR hf = NewSlot(Slot::kMemory);
    Slots()[hf - 1].data = &it->second;
    return hf;
  }
  if (!h.allow_disk) return -1;
#ifdef O_BINARY
  const int fd = ::open(path, O_RDONLY | O_BINARY);
#else
  const int fd = ::open(path, O_RDONLY);
#endif
  if (fd < 0) return -1;
  const INT_PTR hf = NewSlot(Slot::kDisk);
  Slots()[hf - 1].fd = fd;
  return hf;
}

uint32_t Le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = v << 8 | static_cast<uint8_t>(at + i < s.size() ? s[at + i] : 0);
  return v;
}

}  // namespace

Harness& Harness::Get() {
  static Harness h;
  return h;
}

void Harness::Reset() {
  for (size_t i = 0; i < Slots().size(); ++i) Close(static_cast<INT_PTR>(i + 1));
  *this = Harness{};
}

PFNALLOC TestAlloc() { return Alloc; }
PFNFREE TestFree() { return Free; }
HFDI MakeTestContext(ERF* erf) {
  return FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, erf);
}

INT_PTR Recorder::Notify(FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n) {
  auto* r = static_cast<Recorder*>(n->pv);
  r->events.push_back(Event{kind, n->psz1 ? n->psz1 : "", n->psz3 ? n->psz3 : "", n->cb, n->setID, n->iFolder, n->fdie});
  const INT_PTR answer = r->hook ? r->hook(kind, n) : kDefault;
  if (answer != kDefault) {
    if (kind == fdintCLOSE_FILE_INFO) Close(n->hf);
    return answer;
  }
  if (kind == fdintCOPY_FILE) {
    if (!r->only.empty() && std::count(r->only.begin(), r->only.end(), n->psz1) == 0) return 0;
    const INT_PTR hf = NewSlot(Slot::kOutput);
    Slots()[hf - 1].sha = std::make_unique<kestrin::testing::Sha256>();
    return hf;
  }
  if (kind == fdintCLOSE_FILE_INFO) {
    Slot* s = Lookup(n->hf);
    const bool out = s && s->kind == Slot::kOutput;
    r->files.push_back(Extracted{n->psz1, out ? s->sha->HexDigest() : "", out ? s->pos : 0, n->date,
                                 n->time, n->attribs, n->cb});
    Close(n->hf);
    return 1;
  }
  if (kind == fdintNEXT_CABINET) return n->fdie == FDIERROR_NONE ? 0 : -1;
  return 0;
}

bool Recorder::Copy(HFDI hfdi, const std::string& dir, const std::string& name,
                    PFNFDIDECRYPT decrypt) {
  return FDICopy(hfdi, name.c_str(), dir.c_str(), 0, Notify, decrypt, this);
}

int Recorder::Count(FDINOTIFICATIONTYPE kind) const {
  return static_cast<int>(
      std::count_if(events.begin(), events.end(), [&](const Event& e) { return e.kind == kind; }));
}

std::vector<std::string> Recorder::Names() const {
  std::vector<std::string> names;
  for (const Extracted& f : files) names.push_back(f.name);
  return names;
}

CopyResult CopyCabinet(const fs::path& cab) {
  const int64_t blocks_before = Harness::Get().live_blocks;
  ERF erf{};
  HFDI hfdi = MakeTestContext(&erf);
  Recorder rec;
  const bool ok = rec.Copy(hfdi, cab.parent_path().string() + "/", cab.filename().string());
  EXPECT_TRUE(FDIDestroy(hfdi));
  EXPECT_EQ(Harness::Get().live_blocks, blocks_before) << "memory left behind: " << cab;
  EXPECT_EQ(Harness::Get().open_handles, 0) << "handles left open: " << cab;
  return CopyResult{ok, ok ? 0 : erf.erfOper, rec.files};
}

fs::path CorpusDir() { return kestrin::testing::SharedDir() / "corpus"; }

std::vector<ExpectedFile> ReadExpected(const fs::path& file) {
  std::vector<ExpectedFile> out;
  std::ifstream in(file);
  EXPECT_TRUE(in.good()) << "cannot read " << file;
  std::string line, size;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    ExpectedFile f;
    std::getline(fields, f.sha256, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, f.name, '\t');
    f.size = std::stoull(size);
    out.push_back(f);
  }
  return out;
}

std::vector<RawFolder> RawFolders(const std::string& cab) {
  std::vector<RawFolder> folders;
  const uint32_t count = Le(cab, 26, 2), flags = Le(cab, 30, 2);
  size_t at = 36, folder_reserve = 0, data_reserve = 0;
  if (flags & 4) {
    folder_reserve = Le(cab, 38, 1);
    data_reserve = Le(cab, 39, 1);
    at += 4 + Le(cab, 36, 2);
  }
  for (int i = 0; i < ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); ++i)
    at = cab.find('\0', at) + 1;
  for (uint32_t i = 0; i < count && at + 8 <= cab.size(); ++i, at += 8 + folder_reserve) {
    RawFolder folder{static_cast<uint16_t>(Le(cab, at + 6, 2)), {}};
    size_t p = Le(cab, at, 4);
    for (uint32_t k = Le(cab, at + 4, 2); k > 0 && p + 8 + data_reserve <= cab.size(); --k) {
      const uint32_t comp = Le(cab, p + 4, 2);
      folder.blocks.push_back(RawBlock{cab.substr(p + 8 + data_reserve, comp), Le(cab, p + 6, 2)});
      p += 8 + data_reserve + comp;
    }
    folders.push_back(folder);
  }
  return folders;
}

}  // namespace kestrin::cab::testing
