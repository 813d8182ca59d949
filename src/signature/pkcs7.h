// Authenticode signatures: PKCS#7 SignedData holding an SpcIndirectDataContent
// (the digest of the signed file), the certificates, and one SignerInfo with
// its signed attributes, its signature and, as unsigned attributes, a time
// stamp (a PKCS#9 countersignature or an RFC 3161 token). Also the X.509
// certificate fields the verifier looks at, and the builders the signer uses.
//
// Parsing takes the structures apart and checks their shape; it does no
// cryptography. Every span in the results points into the parsed bytes.
#ifndef KESTRIN_SIGNATURE_PKCS7_H_
#define KESTRIN_SIGNATURE_PKCS7_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "signature/der.h"

namespace kestrin::sig {

namespace oid {
inline constexpr std::string_view kSignedData = "1.2.840.113549.1.7.2";
inline constexpr std::string_view kData = "1.2.840.113549.1.7.1";
inline constexpr std::string_view kSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";
inline constexpr std::string_view kSpcCabData = "1.3.6.1.4.1.311.2.1.25";
inline constexpr std::string_view kSpcSpOpusInfo = "1.3.6.1.4.1.311.2.1.12";
inline constexpr std::string_view kSpcStatementType = "1.3.6.1.4.1.311.2.1.11";
inline constexpr std::string_view kSpcIndividualCodeSigning = "1.3.6.1.4.1.311.2.1.21";
inline constexpr std::string_view kContentType = "1.2.840.113549.1.9.3";
inline constexpr std::string_view kMessageDigest = "1.2.840.113549.1.9.4";
inline constexpr std::string_view kSigningTime = "1.2.840.113549.1.9.5";
inline constexpr std::string_view kCounterSignature = "1.2.840.113549.1.9.6";
inline constexpr std::string_view kRfc3161Timestamp = "1.3.6.1.4.1.311.3.3.1";
inline constexpr std::string_view kNestedSignature = "1.3.6.1.4.1.311.2.4.1";
inline constexpr std::string_view kTstInfo = "1.2.840.113549.1.9.16.1.4";
inline constexpr std::string_view kRsaEncryption = "1.2.840.113549.1.1.1";
inline constexpr std::string_view kEcPublicKey = "1.2.840.10045.2.1";
inline constexpr std::string_view kCodeSigning = "1.3.6.1.5.5.7.3.3";
inline constexpr std::string_view kTimeStamping = "1.3.6.1.5.5.7.3.8";
}  // namespace oid

enum class DigestAlgorithm { kUnknown, kMd5, kSha1, kSha256, kSha384, kSha512 };

DigestAlgorithm DigestFromOid(std::string_view dotted);
std::string_view DigestOid(DigestAlgorithm digest);
const char* DigestName(DigestAlgorithm digest);  // "sha256"; "unknown"
size_t DigestSize(DigestAlgorithm digest);

// How a SignerInfo's signature was made, from its signature algorithm
// (rsaEncryption, sha256WithRSAEncryption, ecdsa-with-SHA256, ...).
enum class SignatureKind { kUnknown, kRsaPkcs1, kEcdsa };
SignatureKind SignatureKindFromOid(std::string_view dotted);

// The fields of an X.509 certificate the verifier needs.
struct Certificate {
  ByteSpan der;              // the whole certificate
  ByteSpan serial;           // contents of the serial number INTEGER
  ByteSpan issuer;           // whole Name encodings
  ByteSpan subject;
  ByteSpan public_key_info;  // whole SubjectPublicKeyInfo
  ByteSpan subject_key_id;   // contents of the key identifier, empty when absent
  int64_t not_before = 0;
  int64_t not_after = 0;
  bool has_extended_key_usage = false;
  std::vector<std::string> extended_key_usage;  // dotted purposes

  // True when the certificate may be used for `purpose`: it names no
  // extended key usage at all, or names this one or any purpose.
  bool AllowsPurpose(std::string_view purpose) const;
};
bool ParseCertificate(ByteSpan der, Certificate* cert);

struct SignerInfo {
  // Who signed: issuer and serial number, or a subject key identifier.
  ByteSpan issuer;
  ByteSpan serial;
  ByteSpan subject_key_id;
  DigestAlgorithm digest = DigestAlgorithm::kUnknown;
  std::string digest_oid;
  std::string signature_oid;
  // The signed attributes as stored ([0] IMPLICIT), empty when absent.
  ByteSpan signed_attributes;
  std::string content_type;  // the contentType attribute, dotted; empty when absent
  bool has_message_digest = false;
  ByteSpan message_digest;
  bool has_signing_time = false;
  int64_t signing_time = 0;
  ByteSpan signature;
  // Unsigned attributes: PKCS#9 countersignatures (each a SignerInfo) and
  // RFC 3161 time-stamp tokens (each a ContentInfo), and how many nested
  // signatures follow (they are not looked at).
  std::vector<ByteSpan> counter_signatures;
  std::vector<ByteSpan> timestamp_tokens;
  int nested_signatures = 0;

  // The bytes the signature covers: the signed attributes encoded as the
  // SET OF they are (tag 0x31 in place of [0]).
  Bytes SignedAttributesAsSet() const;
};
bool ParseSignerInfo(ByteSpan der, SignerInfo* signer, std::string* error);

struct SignedData {
  std::string content_type;  // dotted
  DerItem content;           // inside [0] EXPLICIT; tag 0 when absent
  std::vector<Certificate> certificates;
  std::vector<SignerInfo> signers;

  // The certificate a signer names, null when it is not among them.
  const Certificate* FindSignerCertificate(const SignerInfo& signer) const;
};
// A ContentInfo holding SignedData. Trailing bytes after the ContentInfo
// are refused unless they are zeros (signers pad the signature).
bool ParseSignedData(ByteSpan der, SignedData* data, std::string* error);

// An Authenticode signature: SignedData whose content is an
// SpcIndirectDataContent, with exactly one signer.
struct Authenticode {
  SignedData signed_data;
  std::string data_type;  // what was signed: kSpcCabData for a cabinet
  DigestAlgorithm file_digest_algorithm = DigestAlgorithm::kUnknown;
  std::string file_digest_oid;
  ByteSpan file_digest;
  // The contents of the SpcIndirectDataContent SEQUENCE (no tag and length):
  // what the signer's messageDigest attribute is the digest of.
  ByteSpan indirect_contents;

  const SignerInfo& signer() const { return signed_data.signers.front(); }
};
bool ParseAuthenticode(ByteSpan der, Authenticode* sig, std::string* error);

// The TSTInfo of an RFC 3161 time-stamp token.
struct TstInfo {
  DigestAlgorithm digest = DigestAlgorithm::kUnknown;
  ByteSpan hashed_message;
  int64_t gen_time = 0;
};
bool ParseTstInfo(ByteSpan der, TstInfo* info, std::string* error);

// ---------------------------------------------------------------------------
// Building a cabinet's signature

// The SpcIndirectDataContent SEQUENCE for a cabinet with this digest.
Bytes BuildCabinetIndirectData(DigestAlgorithm digest, ByteSpan file_digest);
// The signed attributes as a SET OF (what the signature is made over):
// content type, statement type (individual code signing), an empty opus
// info and the message digest of the indirect data's contents.
Bytes BuildSignedAttributes(ByteSpan indirect_digest);
// The ContentInfo: SignedData with the indirect data, the certificates
// (signer first) and one SignerInfo. `signed_attributes` is the SET OF from
// BuildSignedAttributes; `signature_oid` names how `signature` was made.
Bytes BuildSignedData(DigestAlgorithm digest, ByteSpan indirect_data,
                      const std::vector<Bytes>& certificates, const Certificate& signer,
                      ByteSpan signed_attributes, std::string_view signature_oid,
                      ByteSpan signature);

}  // namespace kestrin::sig

#endif  // KESTRIN_SIGNATURE_PKCS7_H_
