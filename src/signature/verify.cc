// Reading and checking a cabinet's Authenticode signature.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "signature/cabinet_signature.h"
#include "signature/signature.h"

namespace kestrin {

using sig::Authenticode;
using sig::ByteSpan;
using sig::Bytes;
using sig::Certificate;
using sig::DigestAlgorithm;
using sig::SignerInfo;

const char* SignatureStatusText(SignatureStatus status) {
  switch (status) {
    case SignatureStatus::kValid: return "valid signature";
    case SignatureStatus::kUnreadable: return "cannot read the cabinet";
    case SignatureStatus::kNotSigned: return "not signed";
    case SignatureStatus::kMalformed: return "damaged or unsupported signature";
    case SignatureStatus::kDigestMismatch: return "changed after signing";
    case SignatureStatus::kBadSignature: return "signature does not match";
    case SignatureStatus::kUntrusted: return "not trusted";
    case SignatureStatus::kExpired: return "certificate expired or not yet valid";
    case SignatureStatus::kWrongUsage: return "certificate not for code signing";
    case SignatureStatus::kBadTimestamp: return "bad time stamp";
  }
  return "unknown";
}

bool LoadTrustAnchors(const std::vector<std::string>& paths, sig::TrustAnchors* anchors,
                      std::string* error) {
  *anchors = sig::TrustAnchors{};
  if (paths.empty()) return true;
  anchors->system = false;
  for (const std::string& path : paths) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
      if (!sig::ReadCertificateFile(path, &anchors->certificates, error)) return false;
      continue;
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
      std::error_code entry_ec;
      if (entry.is_regular_file(entry_ec)) files.push_back(entry.path().string());
    }
    if (ec) {
      *error = "cannot read the folder " + path + ": " + ec.message();
      return false;
    }
    std::sort(files.begin(), files.end());
    size_t before = anchors->certificates.size();
    for (const std::string& file : files) {
      std::string ignored;  // files that hold no certificate are passed over
      sig::ReadCertificateFile(file, &anchors->certificates, &ignored);
    }
    if (anchors->certificates.size() == before) {
      *error = "no certificate in the folder " + path;
      return false;
    }
  }
  return true;
}

namespace {

// A signed cabinet's signature, read and taken apart.
struct ReadSignature {
  sig::CabinetLayout layout;
  sig::SignatureRecord record;
  Bytes der;
  Authenticode parsed;
};

SignatureStatus Finish(SignatureCheck* result, SignatureStatus status, std::string reason) {
  result->status = status;
  result->reason = std::move(reason);
  return status;
}

bool ReadBytes(const std::string& path, uint64_t offset, uint32_t size, Bytes* out,
               std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = std::string("cannot read the file: ") + std::strerror(errno);
    return false;
  }
  out->resize(size);
  // The signature lies below 4 GiB; seek in steps a 32-bit long can take.
  bool ok = true;
  for (uint64_t left = offset; ok && left > 0;) {
    const long step = static_cast<long>(std::min<uint64_t>(left, 0x40000000));
    ok = std::fseek(file, step, SEEK_CUR) == 0;
    left -= static_cast<uint64_t>(step);
  }
  ok = ok && std::fread(out->data(), 1, size, file) == size;
  std::fclose(file);
  if (!ok) *error = "cannot read the signature from the file";
  return ok;
}

SignatureStatus ReadAndParse(const std::string& path, ReadSignature* s, SignatureCheck* result) {
  *result = SignatureCheck{};
  std::string error;
  if (!sig::ReadCabinetLayout(path, &s->layout, &error)) {
    return Finish(result, SignatureStatus::kUnreadable, error);
  }
  switch (sig::ReadSignatureRecord(s->layout, &s->record)) {
    case sig::RecordState::kNone:
      return Finish(result, SignatureStatus::kNotSigned, "the cabinet carries no signature");
    case sig::RecordState::kEmpty:
      return Finish(result, SignatureStatus::kNotSigned,
                    "the cabinet keeps room for a signature but carries none");
    case sig::RecordState::kDamaged:
      return Finish(result, SignatureStatus::kMalformed,
                    "the signature record in the header reserve is damaged (its mark is wrong)");
    case sig::RecordState::kForeign: {
      char text[160];
      std::snprintf(text, sizeof text,
                    "the cabinet's header reserve (%zu bytes) holds no signature record",
                    s->layout.header_reserve.size());
      return Finish(result, SignatureStatus::kNotSigned, text);
    }
    case sig::RecordState::kPresent:
      break;
  }
  const sig::SignatureRecord& r = s->record;
  char text[200];
  if (s->layout.folder_reserve != 0 || s->layout.data_reserve != 0) {
    return Finish(result, SignatureStatus::kMalformed,
                  "a signed cabinet has no folder or data reserve, this one has");
  }
  if (r.offset != s->layout.cabinet_size) {
    std::snprintf(text, sizeof text,
                  "the signature record places the signature at %u, but the cabinet ends at %u",
                  r.offset, s->layout.cabinet_size);
    return Finish(result, SignatureStatus::kMalformed, text);
  }
  if (r.size == 0 || r.size > sig::kMaxSignatureSize ||
      uint64_t{r.offset} + r.size != s->layout.file_size) {
    std::snprintf(text, sizeof text,
                  "the signature record gives %u bytes at %u, but the file has %llu bytes", r.size,
                  r.offset, static_cast<unsigned long long>(s->layout.file_size));
    return Finish(result, SignatureStatus::kMalformed, text);
  }
  if (r.reserved != 0) {
    // Bytes the digest does not cover must hold nothing.
    return Finish(result, SignatureStatus::kMalformed,
                  "the signature record's reserved field is not zero");
  }
  if (!ReadBytes(path, r.offset, r.size, &s->der, &error)) {
    return Finish(result, SignatureStatus::kUnreadable, error);
  }
  if (!sig::ParseAuthenticode(s->der, &s->parsed, &error)) {
    return Finish(result, SignatureStatus::kMalformed, error);
  }
  const SignerInfo& signer = s->parsed.signer();
  const Certificate* cert = s->parsed.signed_data.FindSignerCertificate(signer);
  if (cert == nullptr) {
    return Finish(result, SignatureStatus::kMalformed,
                  "the signer's certificate is not in the signature");
  }
  result->signer = sig::NameText(cert->subject);
  result->issuer = sig::NameText(cert->issuer);
  result->digest = sig::DigestName(s->parsed.file_digest_algorithm);
  return SignatureStatus::kValid;
}

// The certificates of a signature as spans, for a chain check.
std::vector<ByteSpan> CertificateSpans(const sig::SignedData& data) {
  std::vector<ByteSpan> spans;
  for (const Certificate& c : data.certificates) spans.push_back(c.der);
  return spans;
}

// Checks a SignerInfo's signed attributes against the digest of what it
// signed and its signature against its certificate. `content_type` is the
// content type the attributes must name (empty: any).
bool CheckSignerInfo(const SignerInfo& signer, const Certificate& cert, ByteSpan signed_content,
                     std::string_view content_type, std::string* error) {
  if (signer.digest == DigestAlgorithm::kUnknown || signer.digest == DigestAlgorithm::kMd5) {
    *error = "its digest algorithm " + signer.digest_oid + " is not accepted";
    return false;
  }
  const sig::SignatureKind kind = sig::SignatureKindFromOid(signer.signature_oid);
  if (kind == sig::SignatureKind::kUnknown) {
    *error = "its signature algorithm " + signer.signature_oid + " is not supported";
    return false;
  }
  if (signer.signed_attributes.empty() || !signer.has_message_digest) {
    *error = "it has no signed message digest";
    return false;
  }
  if (!content_type.empty() && signer.content_type != content_type) {
    *error = "its signed content type is not the signed content's";
    return false;
  }
  if (!std::ranges::equal(sig::Digest(signer.digest, signed_content), signer.message_digest)) {
    *error = "its signed message digest does not match the signed content";
    return false;
  }
  return sig::VerifyWithCertificate(cert.der, signer.digest, kind, signer.SignedAttributesAsSet(),
                                    signer.signature, error);
}

// Checks the first time stamp of the signer; sets result->timestamp* when it
// holds. False with `reason` set when there is one that does not hold.
bool CheckTimestamp(const Authenticode& signature, const sig::TrustAnchors& trust,
                    SignatureCheck* result, std::string* reason) {
  const SignerInfo& signer = signature.signer();
  std::string error;
  const Certificate* tsa = nullptr;
  int64_t time = 0;
  std::vector<ByteSpan> pool = CertificateSpans(signature.signed_data);
  sig::SignedData token;
  if (!signer.timestamp_tokens.empty()) {
    // RFC 3161: a SignedData over a TSTInfo that holds the digest of the
    // signer's signature.
    sig::TstInfo info;
    if (!sig::ParseSignedData(signer.timestamp_tokens.front(), &token, &error) ||
        token.content_type != sig::oid::kTstInfo || token.content.tag != sig::kTagOctetString ||
        !sig::ParseTstInfo(token.content.contents, &info, &error) || token.signers.size() != 1) {
      *reason = "the time-stamp token is malformed" + (error.empty() ? "" : ": " + error);
      return false;
    }
    if (!std::ranges::equal(sig::Digest(info.digest, signer.signature), info.hashed_message)) {
      *reason = "the time stamp is for another signature";
      return false;
    }
    tsa = token.FindSignerCertificate(token.signers.front());
    if (tsa == nullptr) tsa = signature.signed_data.FindSignerCertificate(token.signers.front());
    if (tsa == nullptr) {
      *reason = "the time stamp's certificate is not in the signature";
      return false;
    }
    if (!CheckSignerInfo(token.signers.front(), *tsa, token.content.contents, sig::oid::kTstInfo,
                         &error)) {
      *reason = "the time stamp's signature does not hold: " + error;
      return false;
    }
    for (ByteSpan c : CertificateSpans(token)) pool.push_back(c);
    time = info.gen_time;
  } else if (!signer.counter_signatures.empty()) {
    // A PKCS#9 countersignature: a SignerInfo over the signer's signature.
    SignerInfo counter;
    if (!sig::ParseSignerInfo(signer.counter_signatures.front(), &counter, &error) ||
        !counter.has_signing_time) {
      *reason = "the countersignature is malformed" +
                (error.empty() ? std::string(": it has no signing time") : ": " + error);
      return false;
    }
    tsa = signature.signed_data.FindSignerCertificate(counter);
    if (tsa == nullptr) {
      *reason = "the countersignature's certificate is not in the signature";
      return false;
    }
    if (!CheckSignerInfo(counter, *tsa, signer.signature, {}, &error)) {
      *reason = "the countersignature does not hold: " + error;
      return false;
    }
    time = counter.signing_time;
  } else {
    return true;
  }
  if (!tsa->AllowsPurpose(sig::oid::kTimeStamping)) {
    *reason = "the time stamp's certificate is not meant for time stamping (" +
              sig::NameText(tsa->subject) + ")";
    return false;
  }
  if (sig::VerifyChain(tsa->der, pool, trust, time, &error) != sig::ChainStatus::kTrusted) {
    *reason = "the time stamp's certificate: " + error;
    return false;
  }
  result->timestamped = true;
  result->timestamp = time;
  result->timestamp_signer = sig::NameText(tsa->subject);
  return true;
}

}  // namespace

SignatureStatus ReadCabinetSigner(const std::string& path, SignatureCheck* result) {
  ReadSignature s;
  return ReadAndParse(path, &s, result);
}

SignatureStatus VerifyCabinetSignature(const std::string& path, const sig::TrustAnchors& trust,
                                       SignatureCheck* result) {
  return VerifyCabinetSignatureAt(path, trust, static_cast<int64_t>(std::time(nullptr)), result);
}

SignatureStatus VerifyCabinetSignatureAt(const std::string& path, const sig::TrustAnchors& trust,
                                         int64_t now, SignatureCheck* result) {
  ReadSignature s;
  if (const SignatureStatus read = ReadAndParse(path, &s, result); read != SignatureStatus::kValid) {
    return read;
  }
  const Authenticode& signature = s.parsed;
  if (signature.data_type != sig::oid::kSpcCabData) {
    return Finish(result, SignatureStatus::kMalformed,
                  "the signature was made for another kind of file (" + signature.data_type + ")");
  }
  const DigestAlgorithm algorithm = signature.file_digest_algorithm;
  if (algorithm == DigestAlgorithm::kUnknown || algorithm == DigestAlgorithm::kMd5) {
    return Finish(result, SignatureStatus::kMalformed,
                  "the file digest's algorithm " + signature.file_digest_oid + " is not accepted");
  }
  std::string error;
  // A signature that cannot be checked is not trusted.
  if (!sig::CryptoAvailable(&error)) return Finish(result, SignatureStatus::kUntrusted, error);
  Bytes digest;
  if (!sig::CabinetDigest(path, s.record.offset, algorithm, &digest, &error)) {
    return Finish(result, SignatureStatus::kUnreadable, error);
  }
  if (!std::ranges::equal(digest, signature.file_digest)) {
    return Finish(result, SignatureStatus::kDigestMismatch,
                  std::string("the cabinet's ") + sig::DigestName(algorithm) + " digest is " +
                      sig::HexText(digest) + ", the signed one " +
                      sig::HexText(signature.file_digest));
  }
  const SignerInfo& signer = signature.signer();
  const Certificate& cert = *signature.signed_data.FindSignerCertificate(signer);
  if (!CheckSignerInfo(signer, cert, signature.indirect_contents, sig::oid::kSpcIndirectData,
                       &error)) {
    return Finish(result, SignatureStatus::kBadSignature, "the signer's signature: " + error);
  }
  std::string reason;
  if (!CheckTimestamp(signature, trust, result, &reason)) {
    return Finish(result, SignatureStatus::kBadTimestamp, reason);
  }
  // With a time stamp the chain is checked when the cabinet was signed:
  // certificates that expired since then do not matter.
  const int64_t at = result->timestamped ? result->timestamp : now;
  switch (sig::VerifyChain(cert.der, CertificateSpans(signature.signed_data), trust, at, &error)) {
    case sig::ChainStatus::kTrusted:
      break;
    case sig::ChainStatus::kExpired:
      return Finish(result, SignatureStatus::kExpired,
                    error + (result->timestamped ? " at the time stamp's time " + sig::FormatTime(at)
                                                 : std::string(" (no time stamp: checked now)")));
    case sig::ChainStatus::kUntrusted:
      return Finish(result, SignatureStatus::kUntrusted, error);
  }
  if (!cert.AllowsPurpose(sig::oid::kCodeSigning)) {
    return Finish(result, SignatureStatus::kWrongUsage,
                  "the signer's certificate (" + result->signer +
                      ") names extended key usages without code signing");
  }
  return Finish(result, SignatureStatus::kValid, {});
}

}  // namespace kestrin
