// Where a signature lives in a cabinet and which bytes it covers.
//
// A signed cabinet has the reserve flag set, a header reserve of 20 bytes
// and no change to the folder and data reserves. The header reserve is the
// signature record:
//   u32 0x00100000            marks the record
//   u32 offset                where the PKCS#7 signature begins: the end of
//                             the cabinet proper (its size field)
//   u32 size                  the signature's size, padded to 8 bytes
//   u32 0, u32 0
// and the signature follows the cabinet's last data block, ending the file.
//
// The Authenticode digest covers the header without its first reserved
// field (bytes 4 to 7) and without the cabinet index, the reserve sizes and
// the first 16 bytes of the signature record (bytes 34 to 55; the offset
// and size are written after the digest is made), then everything from byte
// 56 to the signature: the record's last 4 bytes, the header strings, the
// folder and file records and the data blocks.
#ifndef KESTRIN_SIGNATURE_CABINET_SIGNATURE_H_
#define KESTRIN_SIGNATURE_CABINET_SIGNATURE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "signature/der.h"
#include "signature/pkcs7.h"

namespace kestrin::sig {

inline constexpr uint32_t kSignatureRecordSize = 20;
inline constexpr uint32_t kSignatureRecordMark = 0x00100000;
// Offsets in the file: the signature record and the digest's gaps.
inline constexpr uint32_t kHeaderSize = 36;
inline constexpr uint32_t kRecordAt = 40;
inline constexpr uint32_t kDigestResumesAt = 56;
// Signatures are a few kilobytes; anything beyond this is not one.
inline constexpr uint32_t kMaxSignatureSize = 1u << 20;

// What the container reader reports about one cabinet, and the file's size.
struct CabinetLayout {
  uint64_t file_size = 0;
  uint32_t cabinet_size = 0;  // the header's size field
  uint32_t files_at = 0;      // offset of the first file record
  uint32_t folders_at = 0;    // offset of the first folder record
  uint16_t flags = 0;
  uint16_t folder_count = 0;
  uint8_t folder_reserve = 0;
  uint8_t data_reserve = 0;
  Bytes header_reserve;
  std::vector<uint32_t> folder_data_at;  // each folder's first data block

  bool has_reserve_flag() const { return (flags & 0x0004) != 0; }
  bool in_set() const { return (flags & 0x0003) != 0; }
  // Where the folder records end.
  uint64_t folders_end() const {
    return folders_at + uint64_t{folder_count} * (8u + folder_reserve);
  }
};

// Reads the header, header reserve and folder records with the cabinet
// decoder. False with `error` set when the file cannot be read or is not a
// cabinet.
bool ReadCabinetLayout(const std::string& path, CabinetLayout* layout, std::string* error);

struct SignatureRecord {
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t reserved = 0;  // the 4 record bytes the digest does not cover
};

enum class RecordState {
  kNone,       // no header reserve: the cabinet is not signed
  kEmpty,      // a header reserve of zeros only: room kept for a signature
  kForeign,    // a header reserve of another size: no signature record
  kDamaged,    // a header reserve of the record's size without its mark
  kPresent,    // a signature record
};
RecordState ReadSignatureRecord(const CabinetLayout& layout, SignatureRecord* record);

// The Authenticode digest of the cabinet at `path`, the signature beginning
// at `signed_end`. False with `error` set when the file cannot be read to
// there.
bool CabinetDigest(const std::string& path, uint32_t signed_end, DigestAlgorithm digest,
                   Bytes* result, std::string* error);

// Feeds the parts of a cabinet's first bytes that the digest covers (the
// caller feeds the rest from byte `prefix.size()` on); `prefix` must reach
// at least to byte 56.
class Hasher;
void HashCabinetPrefix(ByteSpan prefix, Hasher* hasher);

}  // namespace kestrin::sig

#endif  // KESTRIN_SIGNATURE_CABINET_SIGNATURE_H_
