// Signing a cabinet: the header reserve gets the signature record (the
// offsets behind it move by the room it takes), the Authenticode digest is
// made over the result, and the PKCS#7 signature is appended.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/atomic_file.h"
#include "signature/cabinet_signature.h"
#include "signature/signature.h"

namespace kestrin {

using sig::Bytes;
using sig::ByteSpan;

namespace {

constexpr sig::DigestAlgorithm kSigningDigest = sig::DigestAlgorithm::kSha256;

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Reads the input cabinet in order: its first bytes, then its body in pieces.
class Input {
 public:
  ~Input() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool Open(const std::string& path, std::string* error) {
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) *error = "cannot read " + path + ": " + std::strerror(errno);
    return file_ != nullptr;
  }
  bool Read(void* buffer, size_t size, std::string* error) {
    if (std::fread(buffer, 1, size, file_) == size) return true;
    *error = "the cabinet changed while it was being signed";
    return false;
  }

 private:
  std::FILE* file_ = nullptr;
};

// The cabinet's first bytes as they will be in the signed file: header,
// reserve sizes, the signature record (its size still 0), the header
// strings and the folder records, every offset moved by the room the
// record takes.
bool SignedPrefix(const sig::CabinetLayout& layout, ByteSpan old_prefix, bool already_signed,
                  Bytes* prefix, uint32_t* body_end, std::string* error) {
  const uint32_t old_reserve_end =
      layout.has_reserve_flag() ? sig::kRecordAt + static_cast<uint32_t>(layout.header_reserve.size())
                                : sig::kHeaderSize;
  // The offsets behind the reserve move by this much: forward to make room,
  // backward where a larger reserve of zeros gives way to the record.
  const int64_t shift = int64_t{sig::kRecordAt} + sig::kSignatureRecordSize - old_reserve_end;
  auto moved = [shift](uint32_t offset) { return static_cast<uint32_t>(offset + shift); };
  *body_end = already_signed ? Le32(layout.header_reserve.data() + 4) : layout.cabinet_size;
  if (already_signed ? *body_end != layout.cabinet_size || *body_end > layout.file_size
                     : layout.cabinet_size != layout.file_size) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "the cabinet's size field says %u bytes, the file has %llu: it is damaged",
                  layout.cabinet_size, static_cast<unsigned long long>(layout.file_size));
    *error = text;
    return false;
  }
  if (*body_end + shift + sig::kMaxSignatureSize > int64_t{0xFFFFFFFF}) {
    *error = "the cabinet is too large to be signed";
    return false;
  }
  prefix->assign(old_prefix.begin(), old_prefix.begin() + sig::kHeaderSize);
  uint8_t* h = prefix->data();
  const uint32_t new_size = moved(layout.cabinet_size);
  PutLe32(h + 8, new_size);
  PutLe32(h + 16, moved(layout.files_at));
  PutLe16(h + 30, static_cast<uint16_t>(layout.flags | 0x0004));
  const uint8_t sizes[4] = {static_cast<uint8_t>(sig::kSignatureRecordSize), 0, 0, 0};
  prefix->insert(prefix->end(), sizes, sizes + 4);
  uint8_t record[sig::kSignatureRecordSize] = {};
  PutLe32(record, sig::kSignatureRecordMark);
  PutLe32(record + 4, new_size);
  prefix->insert(prefix->end(), record, record + sizeof record);
  prefix->insert(prefix->end(), old_prefix.begin() + old_reserve_end, old_prefix.end());
  for (uint16_t i = 0; i < layout.folder_count; ++i) {
    PutLe32(prefix->data() + moved(layout.folders_at) + i * 8u, moved(layout.folder_data_at[i]));
  }
  return true;
}

// The digest over `prefix` (the signed file's first bytes) and the input's
// bytes from `from` to `to`, which are also written to `output` when given.
// Empty with `error` set on failure.
Bytes BodyDigest(ByteSpan prefix, Input* input, uint64_t from, uint64_t to, StagedFile* output,
                 std::string* error) {
  std::unique_ptr<sig::Hasher> hasher = sig::Hasher::Make(kSigningDigest);
  sig::HashCabinetPrefix(prefix, hasher.get());
  std::vector<uint8_t> buffer(1 << 16);
  for (uint64_t at = from; at < to;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), to - at));
    if (!input->Read(buffer.data(), n, error)) return {};
    hasher->Update(buffer.data(), n);
    if (output != nullptr) {
      const FileResult written = output->Write(buffer.data(), n);
      if (!written.ok()) {
        *error = written.message;
        return {};
      }
    }
    at += n;
  }
  return hasher->Finish();
}

}  // namespace

namespace {

// The signer's certificates (its own first), parsed, and its key.
struct Signer {
  std::vector<Bytes> certificates;
  sig::Certificate cert;  // points into certificates.front()
  std::unique_ptr<sig::SigningKey> key;
};

bool LoadSigner(const std::string& cert_file, const std::string& key_file, Signer* signer,
                std::string* error) {
  if (!sig::ReadCertificateFile(cert_file, &signer->certificates, error)) return false;
  sig::ParseCertificate(signer->certificates.front(), &signer->cert);
  if (!signer->cert.AllowsPurpose(sig::oid::kCodeSigning)) {
    *error = cert_file + ": the certificate (" + sig::NameText(signer->cert.subject) +
             ") is not meant for code signing; a signature made with it would not be accepted";
    return false;
  }
  signer->key = sig::SigningKey::Load(key_file, error);
  if (!signer->key) return false;
  if (!signer->key->Matches(signer->cert)) {
    *error = key_file + ": the key does not belong to the certificate " +
             sig::NameText(signer->cert.subject);
    return false;
  }
  return true;
}

}  // namespace

bool CheckSigningIdentity(const std::string& cert_file, const std::string& key_file,
                          std::string* error) {
  Signer signer;
  return LoadSigner(cert_file, key_file, &signer, error);
}

bool SignCabinet(const std::string& cert_file, const std::string& key_file, const std::string& in,
                 const std::string& out, std::string* error) {
  Signer signer;
  if (!LoadSigner(cert_file, key_file, &signer, error)) return false;

  sig::CabinetLayout layout;
  if (!sig::ReadCabinetLayout(in, &layout, error)) {
    return false;
  }
  if (layout.in_set()) {
    *error = "the cabinet belongs to a set (it names a previous or next cabinet); "
                  "only single cabinets can be signed";
    return false;
  }
  if (layout.folder_reserve != 0 || layout.data_reserve != 0) {
    *error = "the cabinet has folder or data reserves, which a signed cabinet cannot have";
    return false;
  }
  sig::SignatureRecord old_record;
  const sig::RecordState state = sig::ReadSignatureRecord(layout, &old_record);
  // A reserve of zeros is room kept for the record; the record replaces it.
  if (state == sig::RecordState::kForeign || state == sig::RecordState::kDamaged) {
    *error = "the cabinet's header reserve holds other data; it cannot be signed";
    return false;
  }
  const uint64_t prefix_size = layout.folders_end();
  if (prefix_size > layout.file_size || prefix_size > (64u << 20)) {
    *error = "the cabinet is damaged (its folder records end beyond the file)";
    return false;
  }

  Input input;
  if (!input.Open(in, error)) return false;
  Bytes old_prefix(static_cast<size_t>(prefix_size));
  if (!input.Read(old_prefix.data(), old_prefix.size(), error)) return false;
  Bytes prefix;
  uint32_t body_end = 0;
  if (!SignedPrefix(layout, old_prefix, state == sig::RecordState::kPresent, &prefix, &body_end,
                    error)) {
    return false;
  }
  if (prefix_size > body_end) {
    *error = "the cabinet is damaged (its folder records reach into its signature)";
    return false;
  }

  // The digest, over the new first bytes and the rest of the input.
  const Bytes file_digest = BodyDigest(prefix, &input, prefix_size, body_end, nullptr, error);
  if (file_digest.empty()) return false;

  const Bytes indirect = sig::BuildCabinetIndirectData(kSigningDigest, file_digest);
  sig::DerItem indirect_item;
  sig::ParseSingle(indirect, &indirect_item);
  const Bytes attributes =
      sig::BuildSignedAttributes(sig::Digest(kSigningDigest, indirect_item.contents));
  Bytes signature;
  if (!signer.key->Sign(kSigningDigest, attributes, &signature, error)) {
    *error = key_file + ": " + *error;
    return false;
  }
  const std::string_view signature_oid = signer.key->kind() == sig::SignatureKind::kRsaPkcs1
                                             ? sig::oid::kRsaEncryption
                                             : std::string_view("1.2.840.10045.4.3.2");
  Bytes pkcs7 = sig::BuildSignedData(kSigningDigest, indirect, signer.certificates, signer.cert,
                                     attributes, signature_oid, signature);
  pkcs7.resize((pkcs7.size() + 7) & ~size_t{7});  // padded to 8 bytes, as signers do
  if (pkcs7.size() > sig::kMaxSignatureSize) {
    *error = cert_file + ": the certificates make the signature too large";
    return false;
  }
  PutLe32(prefix.data() + sig::kRecordAt + 8, static_cast<uint32_t>(pkcs7.size()));

  // Write the new first bytes, the body again from the input (its digest
  // made once more: a cabinet that changed in between is not signed), and
  // the signature.
  Input again;
  if (!again.Open(in, error)) return false;
  Bytes prefix_again(old_prefix.size());
  if (!again.Read(prefix_again.data(), prefix_again.size(), error)) return false;
  StagedFile output;
  FileResult written = output.Open(ResolveWriteTarget(out));
  if (written.ok()) written = output.Write(prefix.data(), prefix.size());
  if (!written.ok()) {
    *error = written.message;
    return false;
  }
  const Bytes digest_again = BodyDigest(prefix, &again, prefix_size, body_end, &output, error);
  if (digest_again.empty()) return false;
  if (digest_again != file_digest || prefix_again != old_prefix) {
    *error = "the cabinet changed while it was being signed";
    return false;
  }
  if (written.ok()) written = output.Write(pkcs7.data(), pkcs7.size());
  if (written.ok()) written = output.Commit();
  if (!written.ok()) {
    *error = written.message;
    return false;
  }
  return true;
}

}  // namespace kestrin
