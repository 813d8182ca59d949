#include "fdi_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/sha256.h"
#include "support/temp_dir.h"

namespace kestrin::cab::testing {
namespace {

namespace fs = std::filesystem;

// Open handles, numbered from 1 (never 0 or -1). An input handle reads
// `data`; an output handle hashes what is written.
struct Slot {
  const std::string* data = nullptr;
  uint64_t pos = 0;  // read position, or bytes written
  kestrin::testing::Sha256 sha;
};
std::map<INT_PTR, Slot>& Slots() {
  static std::map<INT_PTR, Slot> slots;
  return slots;
}
Slot* Lookup(INT_PTR hf) {
  const auto it = Slots().find(hf);
  return it == Slots().end() ? nullptr : &it->second;
}
INT_PTR NewSlot(const std::string* data) {
  INT_PTR hf = 1;
  while (Slots().count(hf)) ++hf;
  Slots()[hf].data = data;
  ++Harness::Get().open_handles;
  return hf;
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
  if (!s || !s->data) return kIoError;
  const uint32_t n = static_cast<uint32_t>(
      std::min<uint64_t>(cb, s->pos < s->data->size() ? s->data->size() - s->pos : 0));
  std::memcpy(buf, s->data->data() + s->pos, n);
  s->pos += n;
  return n;
}
uint32_t Write(INT_PTR hf, const void* buf, uint32_t cb) {
  Slot* s = Lookup(hf);
  if (!s || s->data) return kIoError;
  const uint64_t limit = std::max(Harness::Get().output_limit, s->pos);
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(cb, limit - s->pos));
  s->sha.Update(buf, n);
  s->pos += n;
  return n;
}
int Close(INT_PTR hf) {
  Slot* s = Lookup(hf);
  if (!s) return -1;
  Harness& h = Harness::Get();
  const bool fail = s->data && h.fail_close > 0;
  h.fail_close -= fail;
  Slots().erase(hf);
  --h.open_handles;
  return fail ? -1 : 0;
}
long Seek(INT_PTR hf, long dist, int origin) {
  Slot* s = Lookup(hf);
  if (!s || !s->data) return -1;
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
  if (it == h.files.end() && h.allow_disk && fs::is_regular_file(path)) {
    std::ifstream in(path, std::ios::binary);
    it = h.files.emplace(path, std::string(std::istreambuf_iterator<char>(in), {})).first;
  }
  return it == h.files.end() ? -1 : NewSlot(&it->second);
}

}  // namespace

Harness& Harness::Get() {
  static Harness h;
  return h;
}

void Harness::Reset() {
  while (!Slots().empty()) Close(Slots().begin()->first);
  *this = Harness{};
}

PFNALLOC TestAlloc() { return Alloc; }
PFNFREE TestFree() { return Free; }
HFDI MakeTestContext(ERF* erf) {
  return FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, erf);
}

INT_PTR Recorder::Notify(FDINOTIFICATIONTYPE kind, FDINOTIFICATION* n) {
  auto* r = static_cast<Recorder*>(n->pv);
  const std::string psz1 = n->psz1 ? n->psz1 : "";
  switch (kind) {
    case fdintCABINET_INFO:
      r->log.push_back("info " + std::string(n->psz3) + " " + std::to_string(n->setID));
      break;
    case fdintENUMERATE: r->log.push_back("enum " + std::to_string(n->iFolder)); break;
    case fdintCOPY_FILE: r->log.push_back("copy " + psz1 + " " + std::to_string(n->cb)); break;
    case fdintCLOSE_FILE_INFO: r->log.push_back("close " + psz1); break;
    case fdintNEXT_CABINET: r->log.push_back("next " + psz1 + "/" + std::to_string(n->fdie)); break;
    default: r->log.push_back("partial " + psz1); break;
  }
  const INT_PTR answer = r->hook ? r->hook(kind, n) : kDefault;
  if (answer != kDefault) {
    if (kind == fdintCLOSE_FILE_INFO) Close(n->hf);
    return answer;
  }
  if (kind == fdintCOPY_FILE) {
    const bool wanted = r->only.empty() || std::count(r->only.begin(), r->only.end(), psz1);
    return wanted ? NewSlot(nullptr) : 0;
  }
  if (kind == fdintCLOSE_FILE_INFO) {
    Slot* s = Lookup(n->hf);
    const bool out = s && !s->data;
    r->files.push_back(Extracted{psz1, out ? s->sha.HexDigest() : "", out ? s->pos : 0, n->date,
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

std::vector<std::string> Recorder::Of(const std::string& kind) const {
  std::vector<std::string> lines;
  for (const std::string& line : log)
    if (line.rfind(kind + " ", 0) == 0) lines.push_back(line.substr(kind.size() + 1));
  return lines;
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
  Harness::Get().files.clear();
  return CopyResult{ok, ok ? 0 : erf.erfOper, rec.files};
}

fs::path CorpusDir() { return kestrin::testing::SharedDir() / "corpus"; }

std::vector<ExpectedFile> ReadExpected(const fs::path& file) {
  std::vector<ExpectedFile> out;
  std::ifstream in(file);
  EXPECT_TRUE(in.good()) << "cannot read " << file;
  for (std::string line, size; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    ExpectedFile f;
    std::getline(std::getline(std::getline(fields, f.sha256, '\t'), size, '\t'), f.name, '\t');
    f.size = std::stoull(size);
    out.push_back(f);
  }
  return out;
}

}  // namespace kestrin::cab::testing
