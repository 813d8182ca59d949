// Authenticode signatures of cabinet files: who signed a cabinet, whether
// the signature holds and is trusted, and signing one.
//
// This is what the tools call (kestrin-cab l, verify and sign, and the
// installer's policy); the structures and the cryptography behind it are in
// pkcs7.h, cabinet_signature.h and crypto.h.
#ifndef KESTRIN_SIGNATURE_SIGNATURE_H_
#define KESTRIN_SIGNATURE_SIGNATURE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "signature/crypto.h"

namespace kestrin {

// The outcome of checking a cabinet's signature. The values are the exit
// statuses of `kestrin-cab verify` and are never renumbered; 2 is left for
// the tools' usage errors.
enum class SignatureStatus : int {
  kValid = 0,           // signed; the signature holds and its chain leads to a trusted certificate
  kUnreadable = 1,      // the file cannot be read or is not a cabinet
  kNotSigned = 3,       // no signature in the header reserve
  kMalformed = 4,       // the signature record or the PKCS#7 structure is damaged, or of a kind
                        // not accepted (a digest other than SHA-1/SHA-2, not for a cabinet, ...)
  kDigestMismatch = 5,  // the cabinet's bytes differ from the signed ones: changed after signing
  kBadSignature = 6,    // the signature does not match its signed attributes or its certificate
  kUntrusted = 7,       // the signer's chain leads to no trusted certificate, or a link does not
                        // hold, or the cryptography to check it with cannot be loaded
  kExpired = 8,         // a certificate of the chain was not valid at the time checked
                        // (the time stamp's time, without one now)
  kWrongUsage = 9,      // the signer's certificate is not meant for code signing
  kBadTimestamp = 10,   // the time stamp is damaged, belongs to another signature, or its signer
                        // is not trusted
};

// "valid signature", "not signed", "changed after signing", ...
const char* SignatureStatusText(SignatureStatus status);

struct SignatureCheck {
  SignatureStatus status = SignatureStatus::kNotSigned;
  std::string reason;  // one line: what failed and where; empty when valid
  // Known once the signature could be read:
  std::string signer;  // the signer's subject, "CN=..., O=..."
  std::string issuer;
  std::string digest;  // the file digest's algorithm, "sha256"
  bool timestamped = false;  // a time stamp that holds
  int64_t timestamp = 0;     // its time, seconds since 1970 UTC
  std::string timestamp_signer;
};

// Reads the trust anchors from certificate files (PEM with any number of
// certificates, or DER) and folders (every such file in them). No paths:
// the system's certificate authorities. False with `error` set when a path
// cannot be read or holds no certificate.
bool LoadTrustAnchors(const std::vector<std::string>& paths, sig::TrustAnchors* anchors,
                      std::string* error);

// Checks the signature of the cabinet at `path` against `trust` at the
// present time; see SignatureStatus.
SignatureStatus VerifyCabinetSignature(const std::string& path, const sig::TrustAnchors& trust,
                                       SignatureCheck* result);
// The same at `now` (seconds since 1970 UTC), for checks at another time.
SignatureStatus VerifyCabinetSignatureAt(const std::string& path, const sig::TrustAnchors& trust,
                                         int64_t now, SignatureCheck* result);

// Who signed the cabinet, without checking anything but the signature's
// shape: kNotSigned, kMalformed (reason set), kUnreadable, or kValid with
// `signer` set, which here only means "signed by".
SignatureStatus ReadCabinetSigner(const std::string& path, SignatureCheck* result);

// Signs the cabinet `in` with the key `key_file` and the certificate file
// `cert_file` (PEM or DER; the signer's certificate first, then any
// intermediates to include), writing the signed cabinet to `out` (which
// may be `in`): the header reserve becomes the signature record (the offsets
// behind it move; a reserve of zeros, kept as room, gives way to it) or an
// old signature is replaced. The output is replaced only when
// everything worked. False with `error` set on failure.
bool SignCabinet(const std::string& cert_file, const std::string& key_file, const std::string& in,
                 const std::string& out, std::string* error);

// Whether SignCabinet could sign with these files: the certificate is for
// code signing and the key is its own. For checking before a cabinet is made.
bool CheckSigningIdentity(const std::string& cert_file, const std::string& key_file,
                          std::string* error);

}  // namespace kestrin

#endif  // KESTRIN_SIGNATURE_SIGNATURE_H_
