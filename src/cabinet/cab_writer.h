// The cabinet writer: packs files into one cabinet, or into a set of cabinets
// of a given maximum size, with any method a BlockEncoder gives.
//
// Files are added one after the other, each with its entry (stored name,
// size, date, time, attributes) and a callback that reads its bytes. They go
// into one folder after the other in the order given; a new folder begins
// when the next file would take the current one past `max_folder_size`.
//
// Like the reader, the writer never opens a file itself: the caller creates
// the cabinets and a scratch file and passes the handles, and the writer
// reads and writes through the caller's callbacks. The data blocks of the
// cabinet being filled go to the scratch file; when the cabinet is full (or
// the last file was added) the writer writes the cabinet: header, folder and
// file records, then the data blocks copied back from the scratch file. Memory
// stays bounded: one file entry per file and the encoder's state.
//
// Spanning sets: each cabinet names its neighbours in its header. When the
// data of a folder goes on in the next cabinet, the data block at the border
// is split between the two cabinets, and every file whose bytes are not all
// in the first is listed in both (continued to the next, then continued from
// the previous); the folder then ends with the last of those files, so that
// every other file of a cabinet lies in a folder that begins there.
#ifndef KESTRIN_CABINET_CAB_WRITER_H_
#define KESTRIN_CABINET_CAB_WRITER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cabinet/block_encoder.h"
#include "cabinet/fdi.h"

namespace kestrin::cab {

// Limits of the format as the readers enforce them.
inline constexpr uint32_t kMaxFolderSize = 65535u * kMaxBlockSize;  // 65535 data blocks
inline constexpr uint32_t kMaxCabinetSize = 0x7FFFFFFF;
inline constexpr uint32_t kMaxCabinetHeaderReserve = 60000;
inline constexpr uint32_t kMaxFilesPerCabinet = 65535;
inline constexpr size_t kMaxStoredNameLength = 255;
// The smallest maximum cabinet size of a set: room for the records, the
// entries of the files that continue into a cabinet, and a whole data block.
inline constexpr uint32_t kMinSpanCabinetSize = 64 * 1024;

struct CabWriterOptions {
  EncoderSpec method;
  // 0: one cabinet (at most kMaxCabinetSize bytes); otherwise a set of
  // cabinets of at most this many bytes each (at least kMinSpanCabinetSize
  // plus the header reserve).
  uint32_t max_cabinet_size = 0;
  uint16_t header_reserve = 0;  // zero bytes in every header, up to 60000
  uint16_t set_id = 0;
  uint32_t max_folder_size = kMaxFolderSize;  // uncompressed bytes of one folder
};

// Where the bytes go. Handles are the caller's; the writer closes every
// handle it was given.
struct CabWriterIo {
  // The file name of cabinet `index` (0 the first) as the headers of its
  // neighbours name it.
  std::function<std::string(int index)> cabinet_name;
  // Creates cabinet `index` for writing: a handle, or -1 with the reason.
  std::function<INT_PTR(int index, std::string* error)> create_cabinet;
  // Creates the scratch file, read and written: a handle, or -1.
  std::function<INT_PTR(std::string* error)> create_scratch;
  PFNREAD read = nullptr;
  PFNWRITE write = nullptr;
  PFNSEEK seek = nullptr;
  PFNCLOSE close = nullptr;
  // Why the last read, write, seek or close failed ("No space left on
  // device"); may be empty.
  std::function<std::string()> io_error;
};

struct CabFileEntry {
  std::string name;  // as stored, "\" between folders
  uint32_t size = 0;
  uint16_t date = 0;  // MS-DOS date and time
  uint16_t time = 0;
  uint16_t attribs = 0;
};

// Reads up to `size` bytes of the file being added: the count, 0 at its
// end, -1 on failure (with the reason in *error).
using CabFileReader = std::function<int64_t(uint8_t* buffer, size_t size, std::string* error)>;

// Whether `name` may be stored: not empty, at most 255 bytes, relative (no
// leading separator, no drive letter or other ":"), no ".." component, no
// control character. Says why not in `why`.
bool IsStorableName(std::string_view name, std::string* why);

// The file attribute bits the format defines.
inline constexpr uint16_t kAttribReadOnly = 0x01;
inline constexpr uint16_t kAttribArchive = 0x20;
inline constexpr uint16_t kAttribExecute = 0x40;
inline constexpr uint16_t kAttribNameIsUtf8 = 0x80;

struct CabWriterStats {
  uint64_t files = 0;
  uint64_t uncompressed = 0;  // bytes of all files
  uint64_t data = 0;          // compressed bytes of all data blocks
  std::vector<uint32_t> cabinet_sizes;
};

class CabWriter {
 public:
  CabWriter(const CabWriterOptions& options, CabWriterIo io);
  ~CabWriter();
  CabWriter(const CabWriter&) = delete;
  CabWriter& operator=(const CabWriter&) = delete;

  // Checks the options and makes the encoder. False (LastError) when they
  // cannot be written or the method is not available.
  bool Open();
  // Adds one file: its entry, then exactly entry.size bytes through `read`
  // (a file that ends early or goes on is an error). After a failure the
  // writer takes nothing more.
  bool AddFile(const CabFileEntry& entry, const CabFileReader& read);
  // Encodes what is held back and writes the last cabinet.
  bool Finish();

  const std::string& LastError() const { return error_; }
  const CabWriterStats& Stats() const { return stats_; }

 private:
  struct File;
  struct Folder;
  struct Cabinet;

  bool Fail(std::string text);
  bool IoFail(const std::string& what);
  bool OnBlock(const uint8_t* data, uint32_t compressed, uint32_t uncompressed);
  bool AppendBlock(const uint8_t* data, uint32_t compressed, uint16_t uncompressed);
  bool StartFolder();
  bool EndFolder();
  bool MakeRoomForEntry(uint64_t need);
  bool NextCabinet(bool continue_folder);
  void SettlePending();
  uint64_t CarryLimit() const;
  bool WriteCabinet(bool has_next);
  bool StartCabinet(int index);
  uint64_t HeaderSize(int index) const;
  uint64_t CabinetSize() const;
  uint64_t Room() const;
  bool Spanning() const { return options_.max_cabinet_size != 0; }
  uint32_t MaxSize() const { return Spanning() ? options_.max_cabinet_size : kMaxCabinetSize; }

  CabWriterOptions options_;
  CabWriterIo io_;
  std::unique_ptr<BlockEncoder> encoder_;
  INT_PTR scratch_ = -1;
  std::vector<File> files_;
  std::vector<Folder> folders_;
  std::unique_ptr<Cabinet> cabinet_;
  std::vector<uint8_t> buffer_;
  bool failed_ = false;
  bool opened_ = false;
  // The folder being filled: whether one is open, whether it continued into
  // this cabinet (and so takes no more files), the uncompressed bytes given
  // to the encoder and those in data blocks it has handed out.
  bool folder_open_ = false;
  bool folder_closing_ = false;
  uint64_t folder_fed_ = 0;
  uint64_t folder_emitted_ = 0;
  // The files of this cabinet from `first_pending_` on have bytes not yet in
  // a data block; their entries (`pending_entry_bytes_`) would go into the
  // next cabinet too if this one ended now.
  size_t first_pending_ = 0;
  uint64_t pending_entry_bytes_ = 0;
  std::string error_;
  CabWriterStats stats_;
};

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_CAB_WRITER_H_
