// The cryptography behind signatures: digests, checking a signature with a
// certificate's public key, checking a certificate chain against a trust
// store, and signing with a private key. Two back ends implement it: OpenSSL
// (crypto_posix.cc) and the Windows CryptoAPI and CNG (crypto_win32.cc).
// Everything that takes signatures and cabinets apart is shared and lives
// outside them.
#ifndef KESTRIN_SIGNATURE_CRYPTO_H_
#define KESTRIN_SIGNATURE_CRYPTO_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "signature/der.h"
#include "signature/pkcs7.h"

namespace kestrin::sig {

// Whether the cryptography can be used: false, with `error` naming what is
// missing, when the library behind it cannot be loaded. The functions below
// fail then too (Hasher::Make gives null).
bool CryptoAvailable(std::string* error);

// An incremental digest.
class Hasher {
 public:
  // Null for an algorithm we do not compute (unknown, MD5).
  static std::unique_ptr<Hasher> Make(DigestAlgorithm digest);
  virtual ~Hasher() = default;
  virtual void Update(const void* data, size_t size) = 0;
  virtual Bytes Finish() = 0;
};

// The digest of `data`; empty for an algorithm Hasher does not make.
Bytes Digest(DigestAlgorithm digest, ByteSpan data);

// Whether `signature` over `data` (hashed with `digest`) was made with the
// private key of the certificate `certificate` (DER), in the way `kind`
// says. On false, `error` says why.
bool VerifyWithCertificate(ByteSpan certificate, DigestAlgorithm digest, SignatureKind kind,
                           ByteSpan data, ByteSpan signature, std::string* error);

// Where trust ends: the system's certificate authorities, or exactly the
// certificates given (each of which is then trusted as it is, root or not).
struct TrustAnchors {
  bool system = true;
  std::vector<Bytes> certificates;
};

enum class ChainStatus {
  kTrusted,    // the chain leads to a trust anchor and every link holds
  kUntrusted,  // no chain to a trust anchor, or a link that does not hold
  kExpired,    // a certificate of the chain was not valid at the time checked
};

// Checks the chain from `leaf` (DER) through any of `intermediates` to the
// trust anchors, with every certificate's validity checked at `at_time`
// (seconds since 1970, UTC). On anything but kTrusted, `reason` names the
// failure and the certificate it concerns.
ChainStatus VerifyChain(ByteSpan leaf, const std::vector<ByteSpan>& intermediates,
                        const TrustAnchors& anchors, int64_t at_time, std::string* reason);

// A private key for signing.
class SigningKey {
 public:
  // Reads an unencrypted key from a PEM ("PRIVATE KEY", "RSA PRIVATE KEY",
  // "EC PRIVATE KEY") or DER file. Null with `error` set when it cannot.
  static std::unique_ptr<SigningKey> Load(const std::string& path, std::string* error);
  virtual ~SigningKey() = default;
  // How the key signs, and the OID that names that with `digest` in a
  // SignerInfo.
  virtual SignatureKind kind() const = 0;
  // Whether the key belongs to the certificate's public key.
  virtual bool Matches(const Certificate& cert) const = 0;
  // Signs `data` hashed with `digest`.
  virtual bool Sign(DigestAlgorithm digest, ByteSpan data, Bytes* signature,
                    std::string* error) const = 0;
};

// The whole content of a file (certificates and keys are small). False with
// `error` naming the file and the cause when it cannot be read.
bool ReadSmallFile(const std::string& path, std::string* content, std::string* error);

// The certificates of a file: PEM with any number of them, or one in DER.
// False with `error` set when the file cannot be read or holds none.
bool ReadCertificateFile(const std::string& path, std::vector<Bytes>* certificates,
                         std::string* error);

}  // namespace kestrin::sig

#endif  // KESTRIN_SIGNATURE_CRYPTO_H_
