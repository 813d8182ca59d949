// Cabinet container reader: headers, folders, file entries and data blocks,
// cabinet sets, and the dispatch of data blocks to the block decoders.
//
// Format notes (all integers little-endian)
// ------------
// CFHEADER (36 bytes): "MSCF", reserved u32, cabinet size u32, reserved u32,
//   offset of the first CFFILE u32, reserved u32, version minor u8, major u8,
//   folder count u16, file count u16, flags u16, set id u16, cabinet index u16.
//   flags: 0x0001 previous cabinet, 0x0002 next cabinet, 0x0004 reserve sizes.
// With 0x0004: header reserve size u16 (<= 60000), folder reserve u8, data
//   reserve u8, then the header reserve bytes.
// With 0x0001: previous cabinet name, previous disk name; with 0x0002: next
//   cabinet name, next disk name (zero-terminated, at most 255 characters).
// CFFOLDER (8 + folder reserve): first data block offset u32, data blocks in
//   this cabinet u16, compression type u16. Records follow the last string.
// CFFILE (16 + name): size u32, offset in the folder's uncompressed stream u32,
//   folder index u16 (0xFFFD continued from the previous cabinet, 0xFFFE
//   continued into the next, 0xFFFF both), date u16, time u16, attributes u16,
//   zero-terminated name.
// CFDATA (8 + data reserve + data): checksum u32 (0 = none), compressed size
//   u16, uncompressed size u16 (0 for the first piece of a block that is split
//   across two cabinets: the piece in the next cabinet completes it).
//
// Two read handles are open on the current cabinet: `hf_list` walks the header
// and the file entries, `hf_data` the folder records and data blocks. Data
// flow through one compressed block (`in_buf`) and one uncompressed block
// (`out_buf`, 32768 bytes, also the MSZIP history) at a time; both are made
// when the compression type changes, never per block or per file.
#include "cabinet/fdi.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>

#include "cabinet/block_codec.h"
#include "cabinet/checksum.h"

namespace kestrin::cab {

namespace {

constexpr INT_PTR kClosed = -1;
constexpr uint16_t kNoFolder = 0xFFFF;
constexpr uint16_t kNoMethod = 0x000F;  // tcompBAD: no compression type chosen yet
constexpr uint32_t kHeaderSize = 36;
constexpr uint32_t kMaxHeaderReserve = 60000;
constexpr uint32_t kFileRecordSize = 16;
constexpr uint32_t kMaxName = 256;  // buffer for a name of at most 255 characters
constexpr uint32_t kMaxPath = 256;  // longest cabinet directory or path kept
constexpr uint32_t kStoredInputSize = kMaxBlockSize;

constexpr uint16_t kFlagPrev = 0x0001;
constexpr uint16_t kFlagNext = 0x0002;
constexpr uint16_t kFlagReserve = 0x0004;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Copies src into dst (capacity size), cut to size - 1 characters.
void CopyString(char* dst, const char* src, size_t size) {
  size_t n = strnlen(src, size - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

uint32_t CabChecksum(const uint8_t* p, uint32_t n, uint32_t seed) {
  // XOR is order-free: four independent lanes of 8 bytes, folded at the end.
  uint64_t lane[4] = {};
  uint32_t i = 0;
  for (; i + 32 <= n; i += 32) {
    for (int k = 0; k < 4; ++k) {
      uint64_t w;
      std::memcpy(&w, p + i + 8 * k, 8);
      lane[k] ^= w;
    }
  }
  uint64_t wide = lane[0] ^ lane[1] ^ lane[2] ^ lane[3];
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    wide ^= w;
  }
  uint32_t sum = seed ^ static_cast<uint32_t>(wide) ^ static_cast<uint32_t>(wide >> 32);
  if constexpr (std::endian::native == std::endian::big) {
    sum = seed;
    for (uint32_t k = 0; k + 4 <= i; k += 4) sum ^= Le32(p + k);
  }
  if (i + 4 <= n) {
    sum ^= Le32(p + i);
    i += 4;
  }
  uint32_t tail = 0;
  switch (n - i) {
    case 3:
      tail = static_cast<uint32_t>(p[i]) << 16 | static_cast<uint32_t>(p[i + 1]) << 8 | p[i + 2];
      break;
    case 2:
      tail = static_cast<uint32_t>(p[i]) << 8 | p[i + 1];
      break;
    case 1:
      tail = p[i];
      break;
    default:
      break;
  }
  return sum ^ tail;
}

// Reads through a handle holding what lies ahead: the file entries and their
// names, the folder records and small data blocks lie one after another,
// and would cost a read and a seek of the callbacks each. Seeks only move
// the position; the handle is moved when something must be read there.
// Readers sharing a handle share `handle_at`, where it stands.
class RecordReader {
 public:
  static constexpr uint32_t kSize = 4096;
  static constexpr uint64_t kUnknown = ~uint64_t{0};

  void Attach(INT_PTR hf, PFNREAD read, PFNSEEK seek, uint8_t* buffer, uint64_t* handle_at) {
    *this = RecordReader{};
    hf_ = hf;
    read_ = read;
    seek_ = seek;
    buffer_ = buffer;
    at_ = handle_at;
    *at_ = kUnknown;
  }
  uint64_t Tell() const { return pos_; }
  bool SeekTo(uint64_t offset) {
    if (offset > 0x7FFFFFFFu && sizeof(long) < 8) return false;
    pos_ = offset;
    return true;
  }
  // Exactly n bytes (n <= kSize), or false.
  bool Read(void* out, uint32_t n) {
    if (Fill(n) < n) return false;
    std::memcpy(out, buffer_ + (pos_ - start_), n);
    pos_ += n;
    return true;
  }
  // Exactly n bytes of any size: those held are copied, the rest read
  // straight into `out`. After a large read the next fill reads only what
  // it is asked for: large blocks are read straight, without a copy.
  bool ReadThrough(uint8_t* out, uint32_t n) {
    large_ = n > kSize / 2;
    uint32_t held = 0;
    if (pos_ >= start_ && pos_ - start_ < len_) {
      held = static_cast<uint32_t>(std::min<uint64_t>(start_ + len_ - pos_, n));
      std::memcpy(out, buffer_ + (pos_ - start_), held);
    }
    if (held < n) {
      const uint32_t rest = n - held;
      if (!MoveHandle(pos_ + held) || read_(hf_, out + held, rest) != rest) {
        *at_ = kUnknown;
        return false;
      }
      *at_ = pos_ + n;
    }
    pos_ += n;
    return true;
  }
  // A zero-terminated string of at most max - 1 characters, read as a
  // string of the cabinet is (at most `max` bytes looked at); the position
  // moves past its terminator.
  bool ReadString(char* out, uint32_t max) {
    const uint32_t got = Fill(max);
    const uint8_t* at = buffer_ + (pos_ - start_);
    const void* nul = got ? std::memchr(at, 0, got) : nullptr;
    if (!nul) return false;
    const uint32_t len = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - at);
    std::memcpy(out, at, len + 1);
    pos_ += len + 1;
    return true;
  }

 private:
  bool MoveHandle(uint64_t to) {
    if (*at_ == to) return true;
    *at_ = kUnknown;
    if (to > 0x7FFFFFFFu && sizeof(long) < 8) return false;
    return seek_(hf_, static_cast<long>(to), 0) == static_cast<long>(to);
  }
  // Bytes held from pos_ on, at most `want`: read ahead from pos_ unless the
  // buffer holds `want` of them already or holds the file's end.
  uint32_t Fill(uint32_t want) {
    const bool inside = pos_ >= start_ && pos_ - start_ <= len_;
    if (!inside || (start_ + len_ - pos_ < want && !ended_)) {
      start_ = pos_;
      len_ = 0;
      ended_ = true;
      if (!MoveHandle(pos_)) return 0;
      const uint32_t ask = large_ ? want : kSize;
      const uint32_t got = read_(hf_, buffer_, ask);
      if (got == kIoError || got > ask) return 0;
      len_ = got;
      ended_ = got < ask;
      *at_ = pos_ + got;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(start_ + len_ - pos_, want));
  }

  INT_PTR hf_ = -1;
  PFNREAD read_ = nullptr;
  PFNSEEK seek_ = nullptr;
  uint8_t* buffer_ = nullptr;
  uint64_t start_ = 0;  // file offset of buffer_[0]
  uint32_t len_ = 0;    // bytes held
  uint64_t pos_ = 0;
  uint64_t* at_ = nullptr;  // where the handle stands
  bool ended_ = false;      // the file ends at start_ + len_
  bool large_ = false;      // the last ReadThrough was large
};

// Header fields of the current cabinet.
struct CabHeader {
  uint32_t cbCabinet;
  uint32_t coffFiles;
  uint8_t versionMinor;
  uint8_t versionMajor;
  uint16_t cFolders;
  uint16_t cFiles;
  uint16_t flags;
  uint16_t setID;
  uint16_t iCabinet;
  uint16_t cbHeaderReserve;
  uint8_t cbFolderReserve;
  uint8_t cbDataReserve;
};

// One CFFILE record.
struct FileEntry {
  uint32_t size;
  uint32_t offset;
  uint16_t folder;
  uint16_t date;
  uint16_t time;
  uint16_t attribs;
  char name[kMaxName];
};

struct FdiContext {
  ERF* erf;
  PFNALLOC alloc;
  PFNFREE free;
  PFNOPEN open;
  PFNREAD read;
  PFNWRITE write;
  PFNCLOSE close;
  PFNSEEK seek;
  int cpu_type;

  // During a copy.
  PFNFDINOTIFY notify;
  PFNFDIDECRYPT decrypt;
  void* pv;
  PFNFDIGOON go_on;  // FDICopyPastDamage only

  INT_PTR hf_list;  // header and file entries
  RecordReader entries;  // hf_list past the header
  uint8_t entries_buffer[RecordReader::kSize];
  INT_PTR hf_data;  // folder records and data blocks
  RecordReader folders;  // hf_data's folder records
  RecordReader blocks;   // hf_data's data blocks
  uint64_t data_at;      // where hf_data stands
  uint64_t list_at;      // where hf_list stands
  uint8_t folders_buffer[RecordReader::kSize];
  uint8_t blocks_buffer[RecordReader::kSize];
  INT_PTR hf_out;   // output file in progress

  CabHeader header;
  bool reserve_known;  // folder and data record sizes fixed by the first cabinet
  uint32_t folder_record_size;
  uint32_t data_record_size;
  uint8_t* header_reserve;
  uint16_t header_reserve_size;  // size of the buffer held
  uint8_t* folder_record;
  uint8_t* data_record;
  uint32_t folder_table;  // offset of the first CFFOLDER in the current cabinet

  char prev_cabinet[kMaxName];
  char prev_disk[kMaxName];
  char next_cabinet[kMaxName];
  char next_disk[kMaxName];
  char wanted_cabinet[kMaxName];  // next cabinet asked for while moving
  char wanted_disk[kMaxName];
  char cab_dir[kMaxPath + 1];
  char cab_path[kMaxPath + 1];

  // Current file entry.
  FileEntry file;

  // Position in the current folder.
  uint16_t current_folder;  // kNoFolder when none
  uint16_t blocks_left;     // data blocks of the folder still to read in this cabinet
  uint64_t block_offset;    // uncompressed offset at which the current block begins
  uint32_t block_size;      // uncompressed size of the current block
  const uint8_t* block_data;
  uint32_t files_left;
  uint32_t declined;  // spanning files the caller declined
  bool continuing;    // the copy went on into a next cabinet
  bool moved;         // the copy let go of its first cabinet to go on into a next one

  // Block decoder.
  uint16_t comp_type;  // kNoMethod until a folder is opened
  const CabBlockCodec* codec;
  void* codec_handle;
  uint8_t* in_buf;
  uint32_t in_size;
  uint8_t* out_buf;

  FDINOTIFICATION note;
  FDIDECRYPT crypt;
};

namespace {

// ---------------------------------------------------------------------------
// Small helpers

bool Fail(FdiContext* c, FDIERROR code, int32_t type = 0) {
  c->erf->erfOper = code;
  c->erf->erfType = type;
  c->erf->fError = 1;
  return false;
}

bool ReadExact(FdiContext* c, INT_PTR hf, void* buf, uint32_t n) {
  return c->read(hf, buf, n) == n;
}

long Tell(FdiContext* c, INT_PTR hf) { return c->seek(hf, 0, SEEK_CUR); }

void CloseCabinetHandles(FdiContext* c, bool* ok = nullptr) {
  bool good = true;
  if (c->hf_list != kClosed && c->close(c->hf_list) != 0) good = false;
  if (c->hf_data != kClosed && c->close(c->hf_data) != 0) good = false;
  c->hf_list = kClosed;
  c->hf_data = kClosed;
  if (ok) *ok = good;
}

// Reads a zero-terminated string of at most 255 characters at the current
// position of hf: up to 256 bytes are read, the position is then moved just
// past the terminator.
bool ReadString(FdiContext* c, INT_PTR hf, char* out) {
  char buf[kMaxName];
  const uint32_t got = c->read(hf, buf, kMaxName);
  if (got == 0 || got == kIoError || got > kMaxName) return false;
  const void* nul = std::memchr(buf, 0, got);
  if (!nul) return false;
  const uint32_t len = static_cast<uint32_t>(static_cast<const char*>(nul) - buf);
  std::memcpy(out, buf, len + 1);
  const long back = static_cast<long>(got) - static_cast<long>(len + 1);
  if (back != 0 && c->seek(hf, -back, SEEK_CUR) == -1) return false;
  return true;
}

void ClearNote(FdiContext* c) {
  std::memset(&c->note, 0, sizeof(c->note));
  c->note.pv = c->pv;
}

INT_PTR Notify(FdiContext* c, FDINOTIFICATIONTYPE kind) { return c->notify(kind, &c->note); }

// Decrypt callback (if any): -1 aborts.
bool Decrypt(FdiContext* c) {
  if (!c->decrypt) return true;
  c->crypt.pvUser = c->pv;
  if (c->decrypt(&c->crypt) == -1) return Fail(c, FDIERROR_USER_ABORT);
  return true;
}

// ---------------------------------------------------------------------------
// Cabinet headers

// Reads and checks the header of the cabinet open on hf (steps shared by the
// copy and the listing): fixed part, reserve sizes, header reserve (kept in
// *reserve when given, else skipped), the four strings. Leaves hf just past
// the strings.
bool ReadHeader(FdiContext* c, INT_PTR hf, CabHeader* h, const uint16_t* expect_set,
                const uint16_t* expect_index, uint8_t** reserve, uint16_t* reserve_size,
                char* prev_cab, char* prev_disk, char* next_cab, char* next_disk) {
  uint8_t raw[kHeaderSize];
  if (!ReadExact(c, hf, raw, kHeaderSize) || std::memcmp(raw, "MSCF", 4) != 0) {
    return Fail(c, FDIERROR_NOT_A_CABINET);
  }
  h->cbCabinet = Le32(raw + 8);
  h->coffFiles = Le32(raw + 16);
  h->versionMinor = raw[24];
  h->versionMajor = raw[25];
  h->cFolders = Le16(raw + 26);
  h->cFiles = Le16(raw + 28);
  h->flags = Le16(raw + 30);
  h->setID = Le16(raw + 32);
  h->iCabinet = Le16(raw + 34);
  if (h->versionMajor != 1 || h->versionMinor != 3) {
    return Fail(c, FDIERROR_UNKNOWN_CABINET_VERSION, Le16(raw + 24));
  }
  if (expect_set && (h->setID != *expect_set || h->iCabinet != *expect_index)) {
    return Fail(c, FDIERROR_WRONG_CABINET);
  }
  h->cbHeaderReserve = 0;
  h->cbFolderReserve = 0;
  h->cbDataReserve = 0;
  if (h->flags & kFlagReserve) {
    uint8_t sizes[4];
    if (!ReadExact(c, hf, sizes, 4)) return Fail(c, FDIERROR_NOT_A_CABINET);
    h->cbHeaderReserve = Le16(sizes);
    h->cbFolderReserve = sizes[2];
    h->cbDataReserve = sizes[3];
    if (h->cbHeaderReserve > kMaxHeaderReserve) return Fail(c, FDIERROR_NOT_A_CABINET);
  }
  if (reserve) {
    if (h->cbHeaderReserve != *reserve_size) {
      if (*reserve) c->free(*reserve);
      *reserve = nullptr;
      *reserve_size = 0;
      if (h->cbHeaderReserve) {
        *reserve = static_cast<uint8_t*>(c->alloc(h->cbHeaderReserve));
        if (!*reserve) return Fail(c, FDIERROR_ALLOC_FAIL);
        *reserve_size = h->cbHeaderReserve;
      }
    }
    if (h->cbHeaderReserve && !ReadExact(c, hf, *reserve, h->cbHeaderReserve)) {
      return Fail(c, FDIERROR_NOT_A_CABINET);
    }
  } else if (h->cbHeaderReserve) {
    const long want = static_cast<long>(kHeaderSize + 4 + h->cbHeaderReserve);
    if (c->seek(hf, want, SEEK_SET) != want) return Fail(c, FDIERROR_NOT_A_CABINET);
  }
  prev_cab[0] = prev_disk[0] = next_cab[0] = next_disk[0] = '\0';
  if (h->flags & kFlagPrev) {
    if (!ReadString(c, hf, prev_cab) || !ReadString(c, hf, prev_disk)) {
      return Fail(c, FDIERROR_CORRUPT_CABINET);
    }
  }
  if (h->flags & kFlagNext) {
    if (!ReadString(c, hf, next_cab) || !ReadString(c, hf, next_disk)) {
      return Fail(c, FDIERROR_CORRUPT_CABINET);
    }
  }
  return true;
}

void BuildPath(FdiContext* c, const char* name) {
  const size_t dir_len = strnlen(c->cab_dir, kMaxPath);
  std::memcpy(c->cab_path, c->cab_dir, dir_len);
  const size_t name_len = std::min(strnlen(name, kMaxName), kMaxPath - dir_len);
  std::memcpy(c->cab_path + dir_len, name, name_len);
  c->cab_path[dir_len + name_len] = '\0';
}

// Opens the cabinet `name` in cab_dir with both handles and reads its header
// (for a next cabinet the expected set id and index are given); fixes the
// record sizes on the first cabinet; positions hf_list at the file entries;
// sends fdintCABINET_INFO and decrypt kind 0.
bool OpenCabinet(FdiContext* c, const char* name, const uint16_t* expect_set,
                 const uint16_t* expect_index) {
  BuildPath(c, name);
  c->hf_list = c->open(c->cab_path, kOpenReadOnlyBinary, kOpenPermission);
  if (c->hf_list == kClosed) return Fail(c, FDIERROR_CABINET_OPEN);
  c->hf_data = c->open(c->cab_path, kOpenReadOnlyBinary, kOpenPermission);
  if (c->hf_data == kClosed) return Fail(c, FDIERROR_CABINET_OPEN);

  CabHeader& h = c->header;
  if (!ReadHeader(c, c->hf_list, &h, expect_set, expect_index, &c->header_reserve,
                  &c->header_reserve_size, c->prev_cabinet, c->prev_disk, c->next_cabinet,
                  c->next_disk)) {
    return false;
  }
  const uint32_t folder_size = 8u + h.cbFolderReserve;
  const uint32_t data_size = 8u + h.cbDataReserve;
  if (!c->reserve_known) {
    c->folder_record = static_cast<uint8_t*>(c->alloc(folder_size));
    if (!c->folder_record) return Fail(c, FDIERROR_ALLOC_FAIL);
    c->data_record = static_cast<uint8_t*>(c->alloc(data_size));
    if (!c->data_record) {
      c->free(c->folder_record);
      c->folder_record = nullptr;
      return Fail(c, FDIERROR_ALLOC_FAIL);
    }
    std::memset(c->folder_record, 0, folder_size);
    std::memset(c->data_record, 0, data_size);
    c->folder_record_size = folder_size;
    c->data_record_size = data_size;
    c->reserve_known = true;
  } else if (folder_size != c->folder_record_size || data_size != c->data_record_size) {
    return Fail(c, FDIERROR_RESERVE_MISMATCH);
  }
  const long here = Tell(c, c->hf_list);
  if (here < 0) return Fail(c, FDIERROR_CORRUPT_CABINET);
  c->folder_table = static_cast<uint32_t>(here);
  c->entries.Attach(c->hf_list, c->read, c->seek, c->entries_buffer, &c->list_at);
  c->folders.Attach(c->hf_data, c->read, c->seek, c->folders_buffer, &c->data_at);
  c->blocks.Attach(c->hf_data, c->read, c->seek, c->blocks_buffer, &c->data_at);
  if (!c->entries.SeekTo(h.coffFiles)) return Fail(c, FDIERROR_CORRUPT_CABINET);
  c->files_left = h.cFiles;

  ClearNote(c);
  c->note.psz1 = c->next_cabinet;
  c->note.psz2 = c->next_disk;
  c->note.psz3 = c->cab_dir;
  c->note.setID = h.setID;
  c->note.iCabinet = h.iCabinet;
  if (Notify(c, fdintCABINET_INFO) == -1) return Fail(c, FDIERROR_USER_ABORT);

  c->crypt.fdidt = fdidtNEW_CABINET;
  c->crypt.cabinet.pHeaderReserve = h.cbHeaderReserve ? c->header_reserve : nullptr;
  c->crypt.cabinet.cbHeaderReserve = h.cbHeaderReserve;
  c->crypt.cabinet.setID = h.setID;
  c->crypt.cabinet.iCabinet = h.iCabinet;
  return Decrypt(c);
}

// Reads the 16-byte file record and the name through hf_list.
bool ReadFileEntry(FdiContext* c, FileEntry* f) {
  uint8_t raw[kFileRecordSize];
  if (!c->entries.Read(raw, kFileRecordSize) || !c->entries.ReadString(f->name, kMaxName)) {
    return Fail(c, FDIERROR_CORRUPT_CABINET);
  }
  f->size = Le32(raw);
  f->offset = Le32(raw + 4);
  f->folder = Le16(raw + 8);
  f->date = Le16(raw + 10);
  f->time = Le16(raw + 12);
  f->attribs = Le16(raw + 14);
  return true;
}

// ---------------------------------------------------------------------------
// Block decoders

void StopCodec(FdiContext* c, bool* ok) {
  *ok = true;
  if (c->codec_handle) {
    if (c->codec->destroy(c->codec_handle) != kCodecOk) *ok = false;
  }
  c->codec = nullptr;
  c->codec_handle = nullptr;
  if (c->in_buf) c->free(c->in_buf);
  if (c->out_buf) c->free(c->out_buf);
  c->in_buf = nullptr;
  c->out_buf = nullptr;
  c->in_size = 0;
}

// Makes the block decoder and buffers of compression type `type` current.
bool SwitchCodec(FdiContext* c, uint16_t type) {
  if (type == c->comp_type) return true;
  bool stopped;
  StopCodec(c, &stopped);
  c->comp_type = kNoMethod;
  if (!stopped) return Fail(c, FDIERROR_MDI_FAIL);

  const uint16_t method = type & tcompMASK_TYPE;
  const uint32_t window_bits = (type >> 8) & 0x1F;
  QuantumConfig qtm{static_cast<int>(window_bits), c->cpu_type};
  LzxConfig lzx{window_bits < 32 ? 1u << window_bits : 0u, c->cpu_type};
  const CabBlockCodec* codec = nullptr;
  const void* config = nullptr;
  switch (method) {
    case tcompTYPE_NONE:
      break;
    case tcompTYPE_MSZIP:
      codec = &kMszipCodec;
      break;
    case tcompTYPE_QUANTUM:
      codec = &kQuantumCodec;
      config = &qtm;
      break;
    case tcompTYPE_LZX:
      codec = &kLzxCodec;
      config = &lzx;
      break;
    case kNoMethod:
      c->comp_type = type;
      return true;
    default:
      return Fail(c, FDIERROR_BAD_COMPR_TYPE);
  }
  uint32_t in_size = kStoredInputSize;
  if (codec) {
    if (codec->create(kMaxBlockSize, config, c->alloc, c->free, &in_size, nullptr) != kCodecOk ||
        in_size < kMaxBlockSize) {
      return Fail(c, FDIERROR_MDI_FAIL);
    }
  }
  c->in_buf = static_cast<uint8_t*>(c->alloc(in_size));
  c->out_buf = static_cast<uint8_t*>(c->alloc(kMaxBlockSize));
  if (!c->in_buf || !c->out_buf) {
    bool ignored;
    StopCodec(c, &ignored);
    return Fail(c, FDIERROR_ALLOC_FAIL);
  }
  std::memset(c->in_buf, 0, in_size);
  std::memset(c->out_buf, 0, kMaxBlockSize);
  c->in_size = in_size;
  if (codec) {
    uint32_t ignored_size = 0;
    void* handle = nullptr;
    const BlockCodecError err =
        codec->create(kMaxBlockSize, config, c->alloc, c->free, &ignored_size, &handle);
    if (err != kCodecOk || !handle) {
      bool ignored;
      StopCodec(c, &ignored);
      return Fail(c, err == kCodecOutOfMemory ? FDIERROR_ALLOC_FAIL : FDIERROR_MDI_FAIL);
    }
    c->codec = codec;
    c->codec_handle = handle;
  }
  c->comp_type = type;
  return true;
}

// Resets the block decoder before a new folder (or a restart of the same).
bool ResetCodec(FdiContext* c) {
  // MSZIP's history is the output block: a folder's history starts empty.
  if (c->out_buf && c->codec == &kMszipCodec) std::memset(c->out_buf, 0, kMaxBlockSize);
  if (c->codec_handle && c->codec->reset(c->codec_handle) != kCodecOk) {
    return Fail(c, FDIERROR_MDI_FAIL);
  }
  return true;
}

// Decodes the block in in_buf (compressed size `in_len`) to `expected` bytes.
bool DecodeBlock(FdiContext* c, uint32_t in_len, uint32_t expected) {
  if (!c->codec_handle) {  // stored
    if (in_len > kMaxBlockSize || in_len != expected) return Fail(c, FDIERROR_MDI_FAIL);
    c->block_data = c->in_buf;
    c->block_size = in_len;
    return true;
  }
  if (expected > kMaxBlockSize) return Fail(c, FDIERROR_MDI_FAIL);
  uint32_t out_size = (c->comp_type & tcompMASK_TYPE) == tcompTYPE_MSZIP ? kMaxBlockSize : expected;
  if (c->codec->decompress(c->codec_handle, c->in_buf, in_len, c->out_buf, &out_size) != kCodecOk ||
      out_size != expected) {
    return Fail(c, FDIERROR_MDI_FAIL);
  }
  c->block_data = c->out_buf;
  c->block_size = out_size;
  return true;
}

// ---------------------------------------------------------------------------
// Data blocks and cabinet sets

// Reads one data block through hf_data, appending its bytes at `offset` of
// in_buf. *in_len becomes offset + compressed size; *uncomp the block's
// uncompressed size.
bool ReadDataBlock(FdiContext* c, uint32_t offset, uint32_t* in_len, uint32_t* uncomp) {
  uint8_t* rec = c->data_record;
  if (!c->blocks.Read(rec, c->data_record_size)) return Fail(c, FDIERROR_CORRUPT_CABINET);
  const uint32_t checksum = Le32(rec);
  const uint32_t comp = Le16(rec + 4);
  *uncomp = Le16(rec + 6);
  if (static_cast<uint64_t>(offset) + comp > c->in_size) return Fail(c, FDIERROR_CORRUPT_CABINET);
  uint8_t* data = c->in_buf + offset;
  if (comp && !c->blocks.ReadThrough(data, comp)) return Fail(c, FDIERROR_CORRUPT_CABINET);
  if (checksum != 0) {
    uint32_t sum = CabChecksum(data, comp, 0);
    sum = CabChecksum(rec + 4, c->data_record_size - 4, sum);
    if (sum != checksum) return Fail(c, FDIERROR_CORRUPT_CABINET);
  }
  *in_len = offset + comp;
  c->crypt.fdidt = fdidtDECRYPT;
  const uint32_t reserve = c->data_record_size - 8;
  c->crypt.decrypt.pDataReserve = reserve ? rec + 8 : nullptr;
  c->crypt.decrypt.cbDataReserve = static_cast<uint16_t>(reserve);
  c->crypt.decrypt.pbData = data;
  c->crypt.decrypt.cbData = static_cast<uint16_t>(comp);
  c->crypt.decrypt.fSplit = offset != 0 || *uncomp == 0;
  c->crypt.decrypt.cbPartial = static_cast<uint16_t>(offset);
  return Decrypt(c);
}

// Opens the next cabinet of the set and continues the current folder in its
// first folder. Repeats fdintNEXT_CABINET (with the failure in fdie) until
// the cabinet opens or the callback answers -1.
bool MoveToNextCabinet(FdiContext* c) {
  const auto let_go = [c] {
    c->moved = true;
    bool closed_ok;
    CloseCabinetHandles(c, &closed_ok);
    return closed_ok || Fail(c, FDIERROR_CORRUPT_CABINET);
  };
  // A copy that may go on past damage keeps this cabinet until the callback
  // has agreed to the move: a refusal leaves it where it can go on.
  if (!c->go_on && !let_go()) return false;
  // Without a next cabinet in the header the name asked for is empty; the
  // callback decides (a caller that cannot supply one answers -1).

  CopyString(c->wanted_cabinet, c->next_cabinet, kMaxName);
  CopyString(c->wanted_disk, c->next_disk, kMaxName);
  const uint16_t set_id = c->header.setID;
  const uint16_t index = static_cast<uint16_t>(c->header.iCabinet + 1);
  FDIERROR last = FDIERROR_NONE;
  for (;;) {
    ClearNote(c);
    c->note.psz1 = c->wanted_cabinet;
    c->note.psz2 = c->wanted_disk;
    c->note.psz3 = c->cab_dir;
    c->note.setID = set_id;
    c->note.iCabinet = index;
    c->note.fdie = last;
    if (Notify(c, fdintNEXT_CABINET) == -1) return Fail(c, FDIERROR_USER_ABORT);
    c->cab_dir[kMaxPath] = '\0';
    if (!c->moved && !let_go()) return false;

    bool ok = OpenCabinet(c, c->wanted_cabinet, &set_id, &index);
    if (ok) {
      // Continue the folder in the new cabinet's first folder.
      if (c->header.cFolders == 0 || !c->folders.SeekTo(c->folder_table) ||
          !c->folders.Read(c->folder_record, c->folder_record_size) ||
          !c->blocks.SeekTo(Le32(c->folder_record))) {
        ok = Fail(c, FDIERROR_CORRUPT_CABINET);
      }
    }
    if (ok) {
      c->blocks_left = Le16(c->folder_record + 4);
      const uint16_t type = Le16(c->folder_record + 6);
      if ((type & tcompMASK_TYPE) == kNoMethod) {
        ok = Fail(c, FDIERROR_BAD_COMPR_TYPE);
      } else {
        ok = SwitchCodec(c, type);
      }
    }
    if (ok) {
      c->crypt.fdidt = fdidtNEW_FOLDER;
      const uint32_t reserve = c->folder_record_size - 8;
      c->crypt.folder.pFolderReserve = reserve ? c->folder_record + 8 : nullptr;
      c->crypt.folder.cbFolderReserve = static_cast<uint16_t>(reserve);
      c->crypt.folder.iFolder = 0;
      ok = Decrypt(c);
    }
    if (ok) break;
    if (c->erf->erfOper == FDIERROR_USER_ABORT) {
      CloseCabinetHandles(c);
      return false;
    }
    last = static_cast<FDIERROR>(c->erf->erfOper);
    CloseCabinetHandles(c);
  }
  // Skip the entry of the file in progress and those of the spanning files
  // the caller declined: they continue at the head of this cabinet's list.
  for (uint32_t skip = 1 + c->declined; skip > 0 && c->files_left > 0; --skip) {
    FileEntry skipped;
    if (!ReadFileEntry(c, &skipped)) return false;
    --c->files_left;
  }
  c->declined = 0;
  c->continuing = true;
  c->current_folder = 0;
  return true;
}

// Reads and decodes the next block of the current folder (the first one when
// `first`), following the folder into the next cabinet where it continues:
// when the read fails with no counted block of the folder left in this
// cabinet (the last counted block is damaged, or the folder's data run past
// its count), the next cabinet is asked for and the block read from there;
// a block whose uncompressed size is 0 is completed by the head of the next
// cabinet's first folder.
bool ReadNextBlock(FdiContext* c, bool first) {
  if (!first) c->block_offset += c->block_size;
  c->block_size = 0;
  if (c->blocks_left > 0) --c->blocks_left;
  uint32_t in_len = 0;
  uint32_t uncomp = 0;
  if (!ReadDataBlock(c, 0, &in_len, &uncomp)) {
    if (c->blocks_left != 0 || c->erf->erfOper == FDIERROR_USER_ABORT) return false;
    if (!MoveToNextCabinet(c)) return false;
    if (c->blocks_left > 0) --c->blocks_left;
    if (!ReadDataBlock(c, 0, &in_len, &uncomp)) return false;
  }
  while (uncomp == 0) {
    // Split block: the rest of it heads the next cabinet's folder (and may
    // itself go on into the one after, when cabinets are smaller than a block).
    if (!MoveToNextCabinet(c)) return false;
    if (c->blocks_left > 0) --c->blocks_left;
    if (!ReadDataBlock(c, in_len, &in_len, &uncomp)) return false;
  }
  return DecodeBlock(c, in_len, uncomp);
}

// Opens folder `folder` of the current cabinet: its record, its first block.
bool OpenFolder(FdiContext* c, uint16_t folder) {
  if (!ResetCodec(c)) return false;
  c->current_folder = kNoFolder;
  if (folder >= c->header.cFolders) return Fail(c, FDIERROR_CORRUPT_CABINET);
  const uint64_t at = c->folder_table + static_cast<uint64_t>(folder) * c->folder_record_size;
  if (at > 0xFFFFFFFFu || !c->folders.SeekTo(static_cast<uint32_t>(at)) ||
      !c->folders.Read(c->folder_record, c->folder_record_size) ||
      !c->blocks.SeekTo(Le32(c->folder_record))) {
    return Fail(c, FDIERROR_CORRUPT_CABINET);
  }
  const uint16_t type = Le16(c->folder_record + 6);
  if ((type & tcompMASK_TYPE) == kNoMethod) return Fail(c, FDIERROR_BAD_COMPR_TYPE);
  c->blocks_left = Le16(c->folder_record + 4);
  if (!SwitchCodec(c, type)) return false;
  c->crypt.fdidt = fdidtNEW_FOLDER;
  const uint32_t reserve = c->folder_record_size - 8;
  c->crypt.folder.pFolderReserve = reserve ? c->folder_record + 8 : nullptr;
  c->crypt.folder.cbFolderReserve = static_cast<uint16_t>(reserve);
  c->crypt.folder.iFolder = folder;
  if (!Decrypt(c)) return false;
  c->block_offset = 0;
  c->block_size = 0;
  c->current_folder = folder;
  if (!ReadNextBlock(c, true)) {
    c->current_folder = kNoFolder;
    return false;
  }
  return true;
}

// Writes the current file (accepted with output handle hf_out).
bool ExtractBody(FdiContext* c) {
  uint64_t pos = c->file.offset;
  const uint64_t end = pos + c->file.size;
  if (pos < c->block_offset) {
    // The file lies before the current block: restart its folder, which is
    // impossible once the folder came from an earlier cabinet.
    if (c->continuing) return Fail(c, FDIERROR_CORRUPT_CABINET);
    c->current_folder = kNoFolder;
  }
  if (!c->continuing) {
    uint16_t folder = c->file.folder;
    if (folder == ifoldCONTINUED_TO_NEXT || folder == ifoldCONTINUED_PREV_AND_NEXT) {
      folder = c->header.cFolders ? static_cast<uint16_t>(c->header.cFolders - 1) : 0;
    }
    if (folder != c->current_folder && !OpenFolder(c, folder)) return false;
  }
  while (pos >= c->block_offset + c->block_size) {
    if (!ReadNextBlock(c, false)) return false;
  }
  while (pos < end) {
    const uint32_t at = static_cast<uint32_t>(pos - c->block_offset);
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(c->block_size - at, end - pos));
    if (c->write(c->hf_out, c->block_data + at, n) != n) return Fail(c, FDIERROR_TARGET_FILE);
    pos += n;
    if (pos < end && !ReadNextBlock(c, false)) return false;
  }
  return true;
}

bool ExtractFile(FdiContext* c) {
  if (c->file.size != 0 && !ExtractBody(c)) {
    c->close(c->hf_out);
    c->hf_out = kClosed;
    c->current_folder = kNoFolder;
    return false;
  }
  ClearNote(c);
  c->note.psz1 = c->file.name;
  c->note.hf = c->hf_out;
  c->note.date = c->file.date;
  c->note.time = c->file.time;
  c->note.attribs = static_cast<uint16_t>(c->file.attribs & ~0x40);
  c->note.cb = (c->file.attribs & 0x40) ? 1 : 0;
  c->note.iFolder = c->file.folder;
  const INT_PTR answer = Notify(c, fdintCLOSE_FILE_INFO);
  c->hf_out = kClosed;
  if (answer == -1) return Fail(c, FDIERROR_USER_ABORT);
  if (answer == 0) return Fail(c, FDIERROR_TARGET_FILE);
  return true;
}

void FillFileNote(FdiContext* c) {
  ClearNote(c);
  c->note.psz1 = c->file.name;
  c->note.psz2 = c->prev_cabinet;
  c->note.psz3 = c->prev_disk;
  c->note.cb = static_cast<int32_t>(c->file.size);
  c->note.date = c->file.date;
  c->note.time = c->file.time;
  c->note.attribs = c->file.attribs;
  c->note.iFolder = c->file.folder;
}

// Sends fdintENUMERATE; the callback may ask for further entries.
bool Enumerate(FdiContext* c) {
  const long here = static_cast<long>(c->entries.Tell());
  ClearNote(c);
  c->note.cb = static_cast<int32_t>(here);
  c->note.iFolder = static_cast<uint16_t>(c->files_left);
  c->note.setID = c->header.setID;
  if (Notify(c, fdintENUMERATE) == -1) return Fail(c, FDIERROR_USER_ABORT);
  c->files_left = c->note.iFolder;
  if (c->files_left > 0 && c->note.cb != here) {
    if (c->note.cb < 0 || !c->entries.SeekTo(static_cast<uint32_t>(c->note.cb))) {
      return Fail(c, FDIERROR_CORRUPT_CABINET);
    }
  }
  return true;
}

// FDICopyPastDamage: after a file failed in the first cabinet, the copy goes
// on with the next entry as a copy started there would, if the caller wants.
bool GoOnPastFailure(FdiContext* c) {
  if (!c->go_on || c->moved || !c->go_on(c->pv)) return false;
  c->current_folder = kNoFolder;
  c->block_offset = 0;
  c->block_size = 0;
  c->declined = 0;
  return true;
}

bool CopyFiles(FdiContext* c, const char* cabinet) {
  if (!OpenCabinet(c, cabinet, nullptr, nullptr)) return false;
  c->continuing = false;
  c->current_folder = kNoFolder;
  c->block_offset = 0;
  c->block_size = 0;
  if (!Enumerate(c)) return false;
  for (;;) {
    while (c->files_left > 0) {
      if (!ReadFileEntry(c, &c->file)) return false;
      --c->files_left;
      const uint16_t idx = c->file.folder;
      const bool from_prev = idx == ifoldCONTINUED_FROM_PREV || idx == ifoldCONTINUED_PREV_AND_NEXT;
      FillFileNote(c);
      if (from_prev && !c->continuing) {
        if (Notify(c, fdintPARTIAL_FILE) == -1) return Fail(c, FDIERROR_USER_ABORT);
        continue;
      }
      if (!from_prev && c->continuing) {
        // Entries that begin new folders are left for a copy that starts here.
        c->files_left = 0;
        break;
      }
      if (!from_prev && idx >= c->header.cFolders && idx < 0xFFFC) continue;  // no such folder
      const INT_PTR answer = Notify(c, fdintCOPY_FILE);
      if (answer == -1) return Fail(c, FDIERROR_USER_ABORT);
      if (answer == 0) {
        if (idx == ifoldCONTINUED_TO_NEXT || idx == ifoldCONTINUED_PREV_AND_NEXT) ++c->declined;
        continue;
      }
      c->hf_out = answer;
      if (!ExtractFile(c) && !GoOnPastFailure(c)) return false;
    }
    if (!Enumerate(c)) return false;
    if (c->files_left == 0) return true;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Public interface

const char* FDIErrorText(int32_t erfOper) {
  static const char* const kTexts[] = {
      "no error",
      "cabinet file cannot be opened",
      "file is not a cabinet",
      "unknown cabinet version",
      "corrupt cabinet",
      "out of memory",
      "unknown compression type",
      "failure decompressing data",
      "failure writing to target file",
      "cabinets in a set do not have the same reserve sizes",
      "cabinet is not the expected next one of the set",
      "aborted",
  };
  if (erfOper < 0 || erfOper >= static_cast<int32_t>(sizeof(kTexts) / sizeof(kTexts[0]))) {
    return "unknown error";
  }
  return kTexts[erfOper];
}

char* FDICompressionName(uint16_t typeCompress, char* buf, size_t size) {
  if (!buf || size == 0) return buf;
  const unsigned method = typeCompress & tcompMASK_TYPE;
  const unsigned window = (typeCompress >> 8) & 0x1F;
  switch (method) {
    case tcompTYPE_NONE:
      std::snprintf(buf, size, "NONE");
      break;
    case tcompTYPE_MSZIP:
      std::snprintf(buf, size, "MSZIP");
      break;
    case tcompTYPE_QUANTUM:
      std::snprintf(buf, size, "QTM:%u/%u", (typeCompress >> 4) & 0xFu, window);
      break;
    case tcompTYPE_LZX:
      std::snprintf(buf, size, "LZX:%u", window);
      break;
    default:
      std::snprintf(buf, size, "UNKNOWN%u", method);
      break;
  }
  return buf;
}

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf) {
  if (!perf) return nullptr;
  *perf = ERF{};
  if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
    perf->erfOper = FDIERROR_ALLOC_FAIL;
    perf->fError = 1;
    return nullptr;
  }
  void* mem = pfnalloc(sizeof(FdiContext));
  if (!mem) {
    perf->erfOper = FDIERROR_ALLOC_FAIL;
    perf->fError = 1;
    return nullptr;
  }
  std::memset(mem, 0, sizeof(FdiContext));
  auto* c = new (mem) FdiContext;
  std::memset(static_cast<void*>(c), 0, sizeof(FdiContext));
  c->erf = perf;
  c->alloc = pfnalloc;
  c->free = pfnfree;
  c->open = pfnopen;
  c->read = pfnread;
  c->write = pfnwrite;
  c->close = pfnclose;
  c->seek = pfnseek;
  c->cpu_type = cpuType;
  c->hf_list = c->hf_data = c->hf_out = kClosed;
  c->current_folder = kNoFolder;
  c->comp_type = kNoMethod;
  return c;
}

namespace {

bool Copy(HFDI c, const char* pszCabinet, const char* pszCabPath, PFNFDINOTIFY pfnfdin,
          PFNFDIDECRYPT pfnfdid, PFNFDIGOON pfngoon, void* pvUser) {
  if (!c || !pfnfdin) return false;
  c->notify = pfnfdin;
  c->decrypt = pfnfdid;
  c->go_on = pfngoon;
  c->pv = pvUser;
  c->declined = 0;
  c->moved = false;
  CopyString(c->cab_dir, pszCabPath ? pszCabPath : "", sizeof(c->cab_dir));
  const bool ok = CopyFiles(c, pszCabinet ? pszCabinet : "");
  CloseCabinetHandles(c);
  if (!ok) c->current_folder = kNoFolder;
  c->notify = nullptr;
  c->decrypt = nullptr;
  c->go_on = nullptr;
  return ok;
}

}  // namespace

bool FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int /*flags*/,
             PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void* pvUser) {
  return Copy(hfdi, pszCabinet, pszCabPath, pfnfdin, pfnfdid, nullptr, pvUser);
}

bool FDICopyPastDamage(HFDI hfdi, const char* pszCabinet, const char* pszCabPath,
                       PFNFDINOTIFY pfnfdin, PFNFDIGOON pfngoon, void* pvUser) {
  return Copy(hfdi, pszCabinet, pszCabPath, pfnfdin, nullptr, pfngoon, pvUser);
}

bool FDIDestroy(HFDI hfdi) {
  if (!hfdi) return false;
  FdiContext* c = hfdi;
  bool ignored;
  StopCodec(c, &ignored);
  if (c->header_reserve) c->free(c->header_reserve);
  if (c->folder_record) c->free(c->folder_record);
  if (c->data_record) c->free(c->data_record);
  CloseCabinetHandles(c);
  PFNFREE free_fn = c->free;
  c->~FdiContext();
  free_fn(c);
  return true;
}

bool FDIListCabinet(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, PFNFDILIST pfnlist,
                    void* pvUser) {
  if (!hfdi || !pfnlist) return false;
  FdiContext* c = hfdi;
  char dir[kMaxPath + 1];
  CopyString(dir, pszCabPath ? pszCabPath : "", sizeof(dir));
  char path[kMaxPath + 1];
  const size_t dir_len = strnlen(dir, kMaxPath);
  std::memcpy(path, dir, dir_len);
  const char* name = pszCabinet ? pszCabinet : "";
  const size_t name_len = std::min(strnlen(name, kMaxName), kMaxPath - dir_len);
  std::memcpy(path + dir_len, name, name_len);
  path[dir_len + name_len] = '\0';

  const INT_PTR hf = c->open(path, kOpenReadOnlyBinary, kOpenPermission);
  if (hf == kClosed) return Fail(c, FDIERROR_CABINET_OPEN);
  char prev_cab[kMaxName], prev_disk[kMaxName], next_cab[kMaxName], next_disk[kMaxName];
  CabHeader h{};
  // The header reserve is read into the context's buffer (as a copy would
  // hold it), for the listing callback to see.
  bool ok = ReadHeader(c, hf, &h, nullptr, nullptr, &c->header_reserve, &c->header_reserve_size,
                       prev_cab, prev_disk, next_cab, next_disk);
  FDILISTCABINET cab{};
  FDILISTENTRY entry{};
  entry.pv = pvUser;
  entry.cabinet = &cab;
  uint32_t folder_size = 0;
  long folder_table = 0;
  if (ok) {
    cab = FDILISTCABINET{h.cbCabinet, h.coffFiles, h.versionMinor, h.versionMajor, h.cFolders,
                         h.cFiles, h.flags, h.setID, h.iCabinet, h.cbHeaderReserve,
                         h.cbFolderReserve, h.cbDataReserve, prev_cab, prev_disk, next_cab,
                         next_disk, h.cbHeaderReserve ? c->header_reserve : nullptr, 0};
    folder_size = 8u + h.cbFolderReserve;
    folder_table = Tell(c, hf);
    if (folder_table < 0) ok = Fail(c, FDIERROR_CORRUPT_CABINET);
    cab.coffFolders = static_cast<uint32_t>(folder_table);
  }
  if (ok) {
    entry.kind = fdilistCABINET;
    if (pfnlist(&entry) == -1) ok = Fail(c, FDIERROR_USER_ABORT);
  }
  // Folder records: the types are needed for the file entries, so read them
  // all first (a cabinet has at most 65535 folders; 2 bytes each on the stack
  // would be too much, so they are re-read per file from the folder table,
  // through a reader of their own so that the entries' reader keeps its place).
  uint8_t folder_buffer[RecordReader::kSize], entry_buffer[RecordReader::kSize];
  RecordReader folders, entries;
  uint64_t at;
  folders.Attach(hf, c->read, c->seek, folder_buffer, &at);
  entries.Attach(hf, c->read, c->seek, entry_buffer, &at);
  FDILISTFOLDER folder{};
  entry.folder = &folder;
  for (uint32_t i = 0; ok && i < h.cFolders; ++i) {
    uint8_t rec[8];
    const uint64_t at = static_cast<uint64_t>(folder_table) + uint64_t{i} * folder_size;
    if (at > 0x7FFFFFFF || !folders.SeekTo(static_cast<uint32_t>(at)) || !folders.Read(rec, 8)) {
      ok = Fail(c, FDIERROR_CORRUPT_CABINET);
      break;
    }
    folder = FDILISTFOLDER{static_cast<uint16_t>(i), Le16(rec + 6), Le32(rec), Le16(rec + 4)};
    entry.kind = fdilistFOLDER;
    if (pfnlist(&entry) == -1) ok = Fail(c, FDIERROR_USER_ABORT);
  }
  entry.folder = nullptr;
  FDILISTFILE file{};
  char file_name[kMaxName];
  entry.file = &file;
  long next_entry = h.coffFiles;
  for (uint32_t i = 0; ok && i < h.cFiles; ++i) {
    uint8_t raw[kFileRecordSize];
    if (!entries.SeekTo(static_cast<uint32_t>(next_entry)) || !entries.Read(raw, kFileRecordSize) ||
        !entries.ReadString(file_name, kMaxName)) {
      ok = Fail(c, FDIERROR_CORRUPT_CABINET);
      break;
    }
    const long entry_at = next_entry;
    next_entry = entries.Tell();
    file = FDILISTFILE{file_name,       Le32(raw),       Le32(raw + 4), Le16(raw + 8),
                       Le16(raw + 10), Le16(raw + 12), Le16(raw + 14), tcompBAD, false,
                       static_cast<uint32_t>(entry_at)};
    uint32_t data_folder = file.iFolder;
    if (file.iFolder == ifoldCONTINUED_FROM_PREV) {
      data_folder = 0;
    } else if (file.iFolder == ifoldCONTINUED_TO_NEXT ||
               file.iFolder == ifoldCONTINUED_PREV_AND_NEXT) {
      data_folder = h.cFolders ? h.cFolders - 1u : 0xFFFFu;
    }
    if (data_folder < h.cFolders) {
      uint8_t rec[8];
      const uint64_t at = static_cast<uint64_t>(folder_table) + uint64_t{data_folder} * folder_size;
      if (at > 0x7FFFFFFF || !folders.SeekTo(static_cast<uint32_t>(at)) || !folders.Read(rec, 8)) {
        ok = Fail(c, FDIERROR_CORRUPT_CABINET);
        break;
      }
      file.typeCompress = Le16(rec + 6);
      file.folderInRange = true;
    }
    entry.kind = fdilistFILE;
    if (pfnlist(&entry) == -1) ok = Fail(c, FDIERROR_USER_ABORT);
  }
  c->close(hf);
  return ok;
}

}  // namespace kestrin::cab
