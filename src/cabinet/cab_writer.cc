// The cabinet writer (see cab_writer.h for the layout it produces).
#include "cabinet/cab_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cabinet/checksum.h"

namespace kestrin::cab {
namespace {

constexpr uint32_t kHeaderSize = 36;
constexpr uint32_t kFolderRecordSize = 8;
constexpr uint32_t kFileRecordSize = 16;
constexpr uint32_t kDataRecordSize = 8;
constexpr uint16_t kFlagPrev = 0x0001;
constexpr uint16_t kFlagNext = 0x0002;
constexpr uint16_t kFlagReserve = 0x0004;
constexpr size_t kIoChunk = 256 * 1024;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutString(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

uint64_t EntrySize(const CabFileEntry& entry) { return kFileRecordSize + entry.name.size() + 1; }

std::string Number(uint64_t n) { return std::to_string(n); }

}  // namespace

bool IsStorableName(std::string_view name, std::string* why) {
  auto refuse = [why](const char* text) {
    if (why) *why = text;
    return false;
  };
  if (name.empty()) return refuse("the name is empty");
  if (name.size() > kMaxStoredNameLength) return refuse("the name is longer than 255 bytes");
  if (name[0] == '\\' || name[0] == '/') return refuse("the name is absolute");
  if (name.find(':') != std::string_view::npos)
    return refuse("the name holds a \":\" (a drive letter or a stream name)");
  for (unsigned char c : name) {
    if (c < 0x20) return refuse("the name holds a control character");
    if (std::strchr("<>\"|?*", c) != nullptr)
      return refuse("the name holds one of the characters < > \" | ? *");
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part.empty()) return refuse("the name has an empty folder name (a doubled or trailing separator)");
    if (part.find_first_not_of(". ") == std::string_view::npos) {
      return refuse(part == ".." ? "the name climbs out of its folder with \"..\""
                                 : "a part of the name is only dots and blanks");
    }
    start = end + 1;
  }
  return true;
}

struct CabWriter::File {
  CabFileEntry entry;
  uint32_t offset = 0;  // in its folder's uncompressed bytes
  size_t folder = 0;    // index in the cabinet's folders
};

struct CabWriter::Folder {
  uint64_t data_start = 0;  // of its first data block in the scratch file
  uint32_t blocks = 0;      // data blocks in this cabinet
};

struct CabWriter::Cabinet {
  int index = 0;
  uint64_t header_size = 0;  // the largest header it may get
  std::vector<Folder> folders;
  std::vector<File> files;
  size_t continued_from_prev = 0;  // the first files of `files` came from the previous cabinet
  size_t continued_to_next = 0;    // the last files of `files` go on in the next
  uint64_t table_bytes = 0;        // folder and file records
  uint64_t data_bytes = 0;         // data records in the scratch file
};

CabWriter::CabWriter(const CabWriterOptions& options, CabWriterIo io)
    : options_(options), io_(std::move(io)) {}

CabWriter::~CabWriter() {
  if (scratch_ != -1) io_.close(scratch_);
}

bool CabWriter::Fail(std::string text) {
  if (!failed_) error_ = std::move(text);
  failed_ = true;
  return false;
}

bool CabWriter::IoFail(const std::string& what) {
  std::string reason = io_.io_error ? io_.io_error() : std::string();
  return Fail(reason.empty() ? what : what + ": " + reason);
}

bool CabWriter::Open() {
  if (opened_) return !failed_;
  opened_ = true;
  if (options_.header_reserve > kMaxCabinetHeaderReserve) {
    return Fail("the header reserve may be at most 60000 bytes");
  }
  if (Spanning() && (options_.max_cabinet_size > kMaxCabinetSize ||
                     options_.max_cabinet_size < kMinSpanCabinetSize + options_.header_reserve)) {
    return Fail("the cabinet size of a set must lie between " +
                Number(kMinSpanCabinetSize + options_.header_reserve) + " and " +
                Number(kMaxCabinetSize) + " bytes");
  }
  if (options_.max_folder_size == 0 || options_.max_folder_size > kMaxFolderSize) {
    return Fail("the folder size must lie between 1 and " + Number(kMaxFolderSize) + " bytes");
  }
  std::string why;
  encoder_ = MakeBlockEncoder(
      options_.method,
      [this](const uint8_t* data, uint32_t compressed, uint32_t uncompressed) {
        return OnBlock(data, compressed, uncompressed);
      },
      &why);
  if (!encoder_) return Fail(EncoderSpecName(options_.method) + ": " + why);
  scratch_ = io_.create_scratch(&why);
  if (scratch_ == -1) return Fail("cannot create the scratch file: " + why);
  buffer_.resize(kIoChunk);
  return StartCabinet(0);
}

uint64_t CabWriter::HeaderSize(int index) const {
  uint64_t size = kHeaderSize;
  if (options_.header_reserve != 0) size += 4 + options_.header_reserve;
  if (index > 0) size += io_.cabinet_name(index - 1).size() + 2;  // name and empty disk name
  if (Spanning()) size += io_.cabinet_name(index + 1).size() + 2;
  return size;
}

uint64_t CabWriter::CabinetSize() const {
  return cabinet_->header_size + cabinet_->table_bytes + cabinet_->data_bytes;
}

uint64_t CabWriter::Room() const {
  const uint64_t size = CabinetSize();
  return size >= MaxSize() ? 0 : MaxSize() - size;
}

bool CabWriter::StartCabinet(int index) {
  if (index > 0xFFFF) return Fail("a set holds at most 65536 cabinets");
  auto cabinet = std::make_unique<Cabinet>();
  cabinet->index = index;
  cabinet->header_size = HeaderSize(index);
  cabinet_ = std::move(cabinet);
  return true;
}

bool CabWriter::StartFolder() {
  cabinet_->folders.push_back(Folder{cabinet_->data_bytes, 0});
  cabinet_->table_bytes += kFolderRecordSize;
  folder_open_ = true;
  folder_closing_ = false;
  folder_fed_ = 0;
  folder_emitted_ = 0;
  return true;
}

bool CabWriter::EndFolder() {
  if (!folder_open_) return true;
  folder_open_ = false;
  if (!encoder_->EndFolder()) return failed_ ? false : Fail(encoder_->LastError());
  first_pending_ = cabinet_->files.size();
  pending_entry_bytes_ = 0;
  return !failed_;
}

// Room for one more entry (and a folder record) in the current cabinet of
// a set: otherwise the folder is ended there and, if that did not already
// move on, the next cabinet is begun.
bool CabWriter::MakeRoomForEntry(uint64_t need) {
  auto fits = [&] {
    return cabinet_->files.size() < kMaxFilesPerCabinet && Room() >= need + kDataRecordSize + 1;
  };
  if (fits()) return true;
  if (!EndFolder()) return false;
  if (fits()) return true;
  if (!NextCabinet(false)) return false;
  if (fits()) return true;
  return Fail("the cabinet size is too small for the entry of one file");
}

bool CabWriter::AddFile(const CabFileEntry& entry, const CabFileReader& read) {
  if (!opened_ && !Open()) return false;
  if (failed_) return false;
  std::string why;
  if (!IsStorableName(entry.name, &why)) return Fail(entry.name + ": " + why);
  if (entry.size > options_.max_folder_size) {
    return Fail(entry.name + ": " + Number(entry.size) + " bytes is more than a cabinet folder holds (" +
                Number(options_.max_folder_size) + " bytes)");
  }
  // In a set, a folder also ends before so many files wait in the encoder
  // that their entries would not fit the next cabinet beside a data block.
  const bool new_folder = !folder_open_ || folder_closing_ ||
                          folder_fed_ + entry.size > options_.max_folder_size ||
                          (Spanning() && pending_entry_bytes_ + EntrySize(entry) > CarryLimit());
  if (new_folder && !EndFolder()) return false;
  if (Spanning()) {
    if (!MakeRoomForEntry(EntrySize(entry) + (new_folder || !folder_open_ ? kFolderRecordSize : 0)))
      return false;
  } else if (cabinet_->files.size() >= kMaxFilesPerCabinet) {
    return Fail("a cabinet holds at most 65535 files; more need a set of cabinets");
  }
  if (!folder_open_) StartFolder();
  cabinet_->files.push_back(File{entry, static_cast<uint32_t>(folder_fed_), cabinet_->folders.size() - 1});
  cabinet_->table_bytes += EntrySize(entry);
  pending_entry_bytes_ += EntrySize(entry);
  SettlePending();  // an empty file at the end of what is in blocks
  if (CabinetSize() > MaxSize()) {
    return Fail("the cabinet would be larger than 2 GiB; more need a set of cabinets");
  }
  folder_fed_ += entry.size;
  stats_.files++;
  stats_.uncompressed += entry.size;

  uint64_t left = entry.size;
  while (true) {
    // One byte more than owed at the end, to see a file that grew.
    const size_t want = left == 0 ? 1 : static_cast<size_t>(std::min<uint64_t>(left, buffer_.size()));
    why.clear();
    const int64_t got = read(buffer_.data(), want, &why);
    if (got < 0) return Fail(entry.name + ": " + (why.empty() ? "cannot read the file" : why));
    if (left == 0) {
      if (got > 0) return Fail(entry.name + ": the file grew while it was packed");
      break;
    }
    if (got == 0) return Fail(entry.name + ": the file shrank while it was packed");
    const size_t n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(got), left));
    if (!encoder_->Write(buffer_.data(), n)) return failed_ ? false : Fail(encoder_->LastError());
    left -= n;
  }
  return true;
}

bool CabWriter::OnBlock(const uint8_t* data, uint32_t compressed, uint32_t uncompressed) {
  if (failed_) return false;
  if (uncompressed == 0 || uncompressed > kMaxBlockSize || compressed == 0 ||
      compressed > MaxEncodedBlockSize(encoder_->TypeCompress())) {
    return Fail("the " + EncoderSpecName(options_.method) + " encoder made a data block of " +
                Number(compressed) + " bytes for " + Number(uncompressed) +
                ", which readers do not accept");
  }
  const uint64_t need = kDataRecordSize + compressed;
  const auto u16 = static_cast<uint16_t>(uncompressed);
  bool ok;
  if (need <= Room()) {
    ok = AppendBlock(data, compressed, u16);
  } else if (!Spanning()) {
    return Fail("the cabinet would be larger than 2 GiB; more need a set of cabinets");
  } else {
    // The block ends this cabinet: a first piece fills it, the rest opens
    // the next; or, where the next could not take the rest, it goes there
    // whole.
    const uint64_t room = Room();
    const uint64_t next_fixed = HeaderSize(cabinet_->index + 1) + kFolderRecordSize + pending_entry_bytes_;
    const uint64_t piece = room > kDataRecordSize ? room - kDataRecordSize : 0;
    if (piece > 0 && piece < compressed && next_fixed + kDataRecordSize + (compressed - piece) <= MaxSize()) {
      const auto p = static_cast<uint32_t>(piece);
      ok = AppendBlock(data, p, 0) && NextCabinet(true) && AppendBlock(data + p, compressed - p, u16);
    } else if (next_fixed + need <= MaxSize()) {
      ok = NextCabinet(true) && AppendBlock(data, compressed, u16);
    } else {
      return Fail("the cabinet size is too small for the entries of the files that continue into the next cabinet");
    }
  }
  folder_emitted_ += uncompressed;
  SettlePending();
  return ok;
}

void CabWriter::SettlePending() {
  const std::vector<File>& files = cabinet_->files;
  while (first_pending_ < files.size() &&
         files[first_pending_].offset + uint64_t{files[first_pending_].entry.size} <= folder_emitted_) {
    pending_entry_bytes_ -= EntrySize(files[first_pending_].entry);
    ++first_pending_;
  }
}

// The most entry bytes that may continue into a cabinet: what is left of it
// beside its header, a folder record and the largest data block.
uint64_t CabWriter::CarryLimit() const {
  const uint64_t fixed = HeaderSize(cabinet_->index + 1) + kFolderRecordSize + kDataRecordSize +
                         MaxEncodedBlockSize(encoder_->TypeCompress());
  return MaxSize() > fixed ? MaxSize() - fixed : 0;
}

bool CabWriter::AppendBlock(const uint8_t* data, uint32_t compressed, uint16_t uncompressed) {
  uint8_t record[kDataRecordSize];
  record[4] = static_cast<uint8_t>(compressed);
  record[5] = static_cast<uint8_t>(compressed >> 8);
  record[6] = static_cast<uint8_t>(uncompressed);
  record[7] = static_cast<uint8_t>(uncompressed >> 8);
  const uint32_t sum = CabChecksum(record + 4, 4, CabChecksum(data, compressed, 0));
  for (int i = 0; i < 4; ++i) record[i] = static_cast<uint8_t>(sum >> (8 * i));
  if (io_.write(scratch_, record, kDataRecordSize) != kDataRecordSize ||
      io_.write(scratch_, data, compressed) != compressed) {
    return IoFail("cannot write the scratch file");
  }
  cabinet_->data_bytes += kDataRecordSize + compressed;
  cabinet_->folders.back().blocks++;
  stats_.data += compressed;
  return true;
}

// Ends the current cabinet and begins the next. With `continue_folder` the
// current folder goes on there: the files not complete in this cabinet's
// whole blocks are listed in both, and the folder takes no more files.
bool CabWriter::NextCabinet(bool continue_folder) {
  std::vector<File> carried;
  if (continue_folder) {
    const size_t first = first_pending_;
    carried.assign(cabinet_->files.begin() + static_cast<std::ptrdiff_t>(first), cabinet_->files.end());
    cabinet_->continued_to_next = carried.size();
  }
  if (!WriteCabinet(true) || !StartCabinet(cabinet_->index + 1)) return false;
  if (continue_folder) {
    cabinet_->folders.push_back(Folder{0, 0});
    cabinet_->table_bytes += kFolderRecordSize;
    for (File& f : carried) {
      f.folder = 0;
      cabinet_->table_bytes += EntrySize(f.entry);
    }
    cabinet_->continued_from_prev = carried.size();
    cabinet_->files = std::move(carried);
    folder_closing_ = true;
  }
  first_pending_ = 0;
  if (!continue_folder) pending_entry_bytes_ = 0;
  return true;
}

bool CabWriter::WriteCabinet(bool has_next) {
  Cabinet& cab = *cabinet_;
  const std::string prev = cab.index > 0 ? io_.cabinet_name(cab.index - 1) : std::string();
  const std::string next = has_next ? io_.cabinet_name(cab.index + 1) : std::string();
  uint16_t flags = 0;
  uint64_t header = kHeaderSize;
  if (options_.header_reserve != 0) {
    flags |= kFlagReserve;
    header += 4 + options_.header_reserve;
  }
  if (cab.index > 0) {
    flags |= kFlagPrev;
    header += prev.size() + 2;
  }
  if (has_next) {
    flags |= kFlagNext;
    header += next.size() + 2;
  }
  const uint64_t files_at = header + kFolderRecordSize * cab.folders.size();
  const uint64_t data_at = header + cab.table_bytes;
  const uint64_t total = data_at + cab.data_bytes;
  if (total > MaxSize()) return Fail("the cabinet would be larger than its maximum size");

  std::vector<uint8_t> out;
  out.reserve(data_at);
  out.insert(out.end(), {'M', 'S', 'C', 'F'});
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(total));
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(files_at));
  Put32(out, 0);
  out.push_back(3);  // version 1.3
  out.push_back(1);
  Put16(out, static_cast<uint32_t>(cab.folders.size()));
  Put16(out, static_cast<uint32_t>(cab.files.size()));
  Put16(out, flags);
  Put16(out, options_.set_id);
  Put16(out, static_cast<uint32_t>(cab.index));
  if (options_.header_reserve != 0) {
    Put16(out, options_.header_reserve);
    out.push_back(0);  // folder reserve
    out.push_back(0);  // data reserve
    out.resize(out.size() + options_.header_reserve, 0);
  }
  if (cab.index > 0) {
    PutString(out, prev);
    PutString(out, "");
  }
  if (has_next) {
    PutString(out, next);
    PutString(out, "");
  }
  for (const Folder& folder : cab.folders) {
    Put32(out, static_cast<uint32_t>(data_at + folder.data_start));
    Put16(out, folder.blocks);
    Put16(out, encoder_->TypeCompress());
  }
  const size_t to_next_from = cab.files.size() - cab.continued_to_next;
  for (size_t i = 0; i < cab.files.size(); ++i) {
    const File& f = cab.files[i];
    const bool from_prev = i < cab.continued_from_prev;
    const bool to_next = i >= to_next_from;
    uint16_t folder = static_cast<uint16_t>(f.folder);
    if (from_prev && to_next) {
      folder = ifoldCONTINUED_PREV_AND_NEXT;
    } else if (from_prev) {
      folder = ifoldCONTINUED_FROM_PREV;
    } else if (to_next) {
      folder = ifoldCONTINUED_TO_NEXT;
    }
    Put32(out, f.entry.size);
    Put32(out, f.offset);
    Put16(out, folder);
    Put16(out, f.entry.date);
    Put16(out, f.entry.time);
    Put16(out, f.entry.attribs);
    PutString(out, f.entry.name);
  }

  const std::string name = io_.cabinet_name(cab.index);
  std::string why;
  const INT_PTR hf = io_.create_cabinet(cab.index, &why);
  if (hf == -1) return Fail("cannot create " + name + ": " + why);
  bool ok = true;
  for (size_t at = 0; ok && at < out.size(); at += kIoChunk) {
    const auto n = static_cast<uint32_t>(std::min(kIoChunk, out.size() - at));
    ok = io_.write(hf, out.data() + at, n) == n;
  }
  if (ok && cab.data_bytes > 0) {
    ok = io_.seek(scratch_, 0, 0) == 0;
    // Not buffer_: a cabinet may end while a file's bytes in it are encoded.
    std::vector<uint8_t> copy(kIoChunk);
    for (uint64_t left = cab.data_bytes; ok && left > 0;) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(left, copy.size()));
      ok = io_.read(scratch_, copy.data(), n) == n && io_.write(hf, copy.data(), n) == n;
      left -= n;
    }
    ok = ok && io_.seek(scratch_, 0, 0) == 0;
  }
  if (!ok) {
    const bool failed = IoFail("cannot write " + name);
    io_.close(hf);
    return failed;
  }
  if (io_.close(hf) != 0) return IoFail("cannot write " + name);
  stats_.cabinet_sizes.push_back(static_cast<uint32_t>(total));
  return true;
}

bool CabWriter::Finish() {
  if (!opened_ && !Open()) return false;
  if (failed_ || !EndFolder()) return false;
  if (stats_.files == 0) return Fail("no files to pack: readers take a cabinet without files for a damaged one");
  if (!WriteCabinet(false)) return false;
  const INT_PTR scratch = scratch_;
  scratch_ = -1;
  if (io_.close(scratch) != 0) return IoFail("cannot close the scratch file");
  failed_ = true;  // takes nothing more
  error_ = "the cabinet is finished";
  return true;
}

}  // namespace kestrin::cab
