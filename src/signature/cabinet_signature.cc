#include "signature/cabinet_signature.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "bundle/crt_file_io.h"
#include "cabinet/fdi.h"
#include "signature/crypto.h"

namespace kestrin::sig {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

cab::INT_PTR CollectLayout(const cab::FDILISTENTRY* entry) {
  auto* layout = static_cast<CabinetLayout*>(entry->pv);
  if (entry->kind == cab::fdilistCABINET) {
    const cab::FDILISTCABINET& c = *entry->cabinet;
    layout->cabinet_size = c.cbCabinet;
    layout->files_at = c.coffFiles;
    layout->folders_at = c.coffFolders;
    layout->flags = c.flags;
    layout->folder_count = c.cFolders;
    layout->folder_reserve = c.cbFolderReserve;
    layout->data_reserve = c.cbDataReserve;
    if (c.pbHeaderReserve != nullptr) {
      layout->header_reserve.assign(c.pbHeaderReserve, c.pbHeaderReserve + c.cbHeaderReserve);
    }
    return 0;
  }
  if (entry->kind == cab::fdilistFOLDER) {
    layout->folder_data_at.push_back(entry->folder->coffCabStart);
    return 0;
  }
  return -1;  // the file records are not needed
}

}  // namespace

bool ReadCabinetLayout(const std::string& path, CabinetLayout* layout, std::string* error) {
  *layout = CabinetLayout{};
  std::error_code ec;
  layout->file_size = std::filesystem::file_size(path, ec);
  if (ec) {
    *error = "cannot read the file: " + ec.message();
    return false;
  }
  // The cabinet reader keeps paths of up to 255 characters; a longer one
  // would be cut and might name another file.
  if (path.size() > 255) {
    *error = "cannot read the file: its path is longer than 255 characters";
    return false;
  }
  cab::ERF erf{};
  cab::HFDI hfdi = cab::FDICreate(CrtAlloc, CrtFree, CrtOpen, CrtRead, CrtWrite, CrtClose,
                                  CrtSeek, cab::cpu80386, &erf);
  if (hfdi == nullptr) {
    *error = cab::FDIErrorText(erf.erfOper);
    return false;
  }
  // The listing wants a directory and a name; the name may hold a folder too.
  const bool listed = cab::FDIListCabinet(hfdi, path.c_str(), "", CollectLayout, layout);
  cab::FDIDestroy(hfdi);
  // The walk stops at the first file record on purpose (a user abort);
  // anything else is a failure.
  if (!listed && erf.erfOper != cab::FDIERROR_USER_ABORT) {
    *error = cab::FDIErrorText(erf.erfOper);
    return false;
  }
  if (layout->folder_data_at.size() != layout->folder_count) {
    *error = cab::FDIErrorText(cab::FDIERROR_CORRUPT_CABINET);
    return false;
  }
  return true;
}

RecordState ReadSignatureRecord(const CabinetLayout& layout, SignatureRecord* record) {
  if (layout.header_reserve.empty()) return RecordState::kNone;
  if (std::all_of(layout.header_reserve.begin(), layout.header_reserve.end(),
                  [](uint8_t b) { return b == 0; })) {
    return RecordState::kEmpty;
  }
  if (layout.header_reserve.size() != kSignatureRecordSize) return RecordState::kForeign;
  if (Le32(layout.header_reserve.data()) != kSignatureRecordMark) return RecordState::kDamaged;
  record->offset = Le32(layout.header_reserve.data() + 4);
  record->size = Le32(layout.header_reserve.data() + 8);
  record->reserved = Le32(layout.header_reserve.data() + 12);
  return RecordState::kPresent;
}

void HashCabinetPrefix(ByteSpan prefix, Hasher* hasher) {
  hasher->Update(prefix.data(), 4);
  hasher->Update(prefix.data() + 8, 34 - 8);
  hasher->Update(prefix.data() + kDigestResumesAt, prefix.size() - kDigestResumesAt);
}

bool CabinetDigest(const std::string& path, uint32_t signed_end, DigestAlgorithm digest,
                   Bytes* result, std::string* error) {
  std::unique_ptr<Hasher> hasher = Hasher::Make(digest);
  if (!hasher) {
    *error = std::string("the digest algorithm ") + DigestName(digest) + " is not supported";
    return false;
  }
  if (signed_end < kDigestResumesAt) {
    *error = "the cabinet is too short to hold a signature";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = std::string("cannot read the file: ") + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> buffer(1 << 16);
  uint64_t done = 0;
  bool first = true;
  while (done < signed_end) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), signed_end - done));
    const size_t got = std::fread(buffer.data(), 1, want, file);
    if (got != want) break;
    if (first) {
      // The first block always reaches past byte 56 (signed_end does).
      HashCabinetPrefix(ByteSpan(buffer.data(), got), hasher.get());
      first = false;
    } else {
      hasher->Update(buffer.data(), got);
    }
    done += got;
  }
  std::fclose(file);
  if (done != signed_end) {
    *error = "cannot read the file: it ended before the signature";
    return false;
  }
  *result = hasher->Finish();
  return true;
}

}  // namespace kestrin::sig
