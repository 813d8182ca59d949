// The Windows back end of the signature cryptography: digests, signatures
// and keys through CNG (bcrypt), certificate chains through the CryptoAPI's
// chain engine (crypt32). Keys are handed to CNG as its key blobs, built
// from the DER structures with our own reader.
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>

#include "signature/crypto.h"

namespace kestrin::sig {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

std::string StatusText(const char* what, NTSTATUS status) {
  char text[96];
  std::snprintf(text, sizeof text, "%s (status 0x%08lX)", what, static_cast<unsigned long>(status));
  return text;
}

LPCWSTR HashAlgorithm(DigestAlgorithm digest) {
  switch (digest) {
    case DigestAlgorithm::kSha1: return BCRYPT_SHA1_ALGORITHM;
    case DigestAlgorithm::kSha256: return BCRYPT_SHA256_ALGORITHM;
    case DigestAlgorithm::kSha384: return BCRYPT_SHA384_ALGORITHM;
    case DigestAlgorithm::kSha512: return BCRYPT_SHA512_ALGORITHM;
    default: return nullptr;
  }
}

class Provider {
 public:
  explicit Provider(LPCWSTR algorithm) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
  }
  ~Provider() {
    if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class KeyHandle {
 public:
  ~KeyHandle() {
    if (handle_) BCryptDestroyKey(handle_);
  }
  BCRYPT_KEY_HANDLE* out() { return &handle_; }
  BCRYPT_KEY_HANDLE get() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

class CngHasher : public Hasher {
 public:
  explicit CngHasher(LPCWSTR algorithm) : provider_(algorithm) {
    if (provider_.get() == nullptr ||
        !Succeeded(BCryptCreateHash(provider_.get(), &hash_, nullptr, 0, nullptr, 0, 0))) {
      hash_ = nullptr;
    }
  }
  ~CngHasher() override {
    if (hash_) BCryptDestroyHash(hash_);
  }
  bool ok() const { return hash_ != nullptr; }
  void Update(const void* data, size_t size) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
      const ULONG n = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
      BCryptHashData(hash_, const_cast<PUCHAR>(bytes), n, 0);
      bytes += n;
      size -= n;
    }
  }
  Bytes Finish() override {
    DWORD length = 0;
    ULONG got = 0;
    BCryptGetProperty(hash_, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length,
                      &got, 0);
    Bytes out(length);
    BCryptFinishHash(hash_, out.data(), length, 0);
    return out;
  }

 private:
  Provider provider_;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// ---------------------------------------------------------------------------
// Keys as DER structures

struct Curve {
  std::string_view oid;
  LPCWSTR algorithm;
  ULONG public_magic;
  ULONG private_magic;
  size_t size;  // bytes of a coordinate
};
const Curve kCurves[] = {
    {"1.2.840.10045.3.1.7", BCRYPT_ECDSA_P256_ALGORITHM, BCRYPT_ECDSA_PUBLIC_P256_MAGIC,
     BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32},
    {"1.3.132.0.34", BCRYPT_ECDSA_P384_ALGORITHM, BCRYPT_ECDSA_PUBLIC_P384_MAGIC,
     BCRYPT_ECDSA_PRIVATE_P384_MAGIC, 48},
    {"1.3.132.0.35", BCRYPT_ECDSA_P521_ALGORITHM, BCRYPT_ECDSA_PUBLIC_P521_MAGIC,
     BCRYPT_ECDSA_PRIVATE_P521_MAGIC, 66},
};

const Curve* FindCurve(const std::string& oid) {
  for (const Curve& c : kCurves) {
    if (c.oid == oid) return &c;
  }
  return nullptr;
}

// An INTEGER's magnitude without leading zero bytes.
Bytes Magnitude(ByteSpan integer) {
  size_t skip = 0;
  while (skip + 1 < integer.size() && integer[skip] == 0) ++skip;
  return Bytes(integer.begin() + skip, integer.end());
}

// `value` right-aligned in `size` bytes; false when it does not fit.
bool Append(Bytes* out, const Bytes& value, size_t size) {
  if (value.size() > size) return false;
  out->insert(out->end(), size - value.size(), 0);
  out->insert(out->end(), value.begin(), value.end());
  return true;
}

struct KeyParts {
  SignatureKind kind = SignatureKind::kUnknown;
  Bytes n, e, d, p, q, dp, dq, qinv;  // RSA
  const Curve* curve = nullptr;       // EC
  Bytes x, y, secret;
};

bool ReadIntegers(DerReader* r, std::initializer_list<Bytes*> values) {
  for (Bytes* v : values) {
    DerItem item;
    if (!r->Expect(kTagInteger, &item)) return false;
    *v = Magnitude(item.contents);
  }
  return true;
}

// An uncompressed EC point 04 || X || Y.
bool ReadPoint(ByteSpan point, KeyParts* key) {
  const size_t size = key->curve->size;
  if (point.size() != 1 + 2 * size || point[0] != 0x04) return false;
  key->x.assign(point.begin() + 1, point.begin() + 1 + size);
  key->y.assign(point.begin() + 1 + size, point.end());
  return true;
}

// SubjectPublicKeyInfo: RSA or a named EC curve.
bool ParsePublicKey(ByteSpan spki, KeyParts* key) {
  DerReader outer(spki), info, algorithm;
  DerItem id, params, bits;
  if (!outer.Enter(kTagSequence, &info) || !info.Enter(kTagSequence, &algorithm) ||
      !algorithm.Expect(kTagOid, &id) || !info.Expect(kTagBitString, &bits) ||
      bits.contents.empty() || bits.contents[0] != 0) {
    return false;
  }
  const ByteSpan body = bits.contents.subspan(1);
  const std::string type = OidText(id.contents);
  if (type == oid::kRsaEncryption) {
    DerReader wrapper(body), rsa;
    key->kind = SignatureKind::kRsaPkcs1;
    return wrapper.Enter(kTagSequence, &rsa) && ReadIntegers(&rsa, {&key->n, &key->e});
  }
  if (type == oid::kEcPublicKey && algorithm.Expect(kTagOid, &params)) {
    key->kind = SignatureKind::kEcdsa;
    key->curve = FindCurve(OidText(params.contents));
    return key->curve != nullptr && ReadPoint(body, key);
  }
  return false;
}

// SEC1 ECPrivateKey; the curve may come from the PKCS#8 wrapper instead.
bool ParseEcPrivateKey(ByteSpan der, KeyParts* key) {
  DerReader outer(der), ec;
  DerItem version, secret, curve, point;
  if (!outer.Enter(kTagSequence, &ec) || !ec.Expect(kTagInteger, &version) ||
      !ec.Expect(kTagOctetString, &secret)) {
    return false;
  }
  if (ec.Optional(ContextTag(0), &curve)) {
    DerItem id;
    if (!ParseSingle(curve.contents, &id) || id.tag != kTagOid) return false;
    key->curve = FindCurve(OidText(id.contents));
  }
  if (key->curve == nullptr || !ec.Optional(ContextTag(1), &point)) return false;
  DerItem bits;
  if (!ParseSingle(point.contents, &bits) || bits.tag != kTagBitString || bits.contents.empty()) {
    return false;
  }
  key->kind = SignatureKind::kEcdsa;
  key->secret = Magnitude(secret.contents);
  return ReadPoint(bits.contents.subspan(1), key);
}

// PKCS#8 PrivateKeyInfo, PKCS#1 RSAPrivateKey or SEC1 ECPrivateKey.
bool ParsePrivateKey(ByteSpan der, KeyParts* key) {
  DerReader outer(der), seq;
  DerItem version, second;
  if (!outer.Enter(kTagSequence, &seq) || !seq.Expect(kTagInteger, &version)) return false;
  if (seq.PeekTag() == kTagOctetString) return ParseEcPrivateKey(der, key);
  if (seq.PeekTag() == kTagInteger) {
    key->kind = SignatureKind::kRsaPkcs1;
    return ReadIntegers(&seq, {&key->n, &key->e, &key->d, &key->p, &key->q, &key->dp, &key->dq,
                               &key->qinv});
  }
  DerReader algorithm;
  DerItem id, params, inner;
  if (!seq.Enter(kTagSequence, &algorithm) || !algorithm.Expect(kTagOid, &id) ||
      !seq.Expect(kTagOctetString, &inner)) {
    return false;
  }
  const std::string type = OidText(id.contents);
  if (type == oid::kEcPublicKey && algorithm.Expect(kTagOid, &params)) {
    key->curve = FindCurve(OidText(params.contents));
    return ParseEcPrivateKey(inner.contents, key);
  }
  return type == oid::kRsaEncryption && ParsePrivateKey(inner.contents, key) &&
         key->kind == SignatureKind::kRsaPkcs1;
}

// The CNG blob of a key: public only, or with its private parts.
bool KeyBlob(const KeyParts& key, bool with_private, Bytes* blob, LPCWSTR* type,
             LPCWSTR* algorithm) {
  blob->clear();
  if (key.kind == SignatureKind::kRsaPkcs1) {
    const size_t modulus = key.n.size(), prime = std::max(key.p.size(), key.q.size());
    BCRYPT_RSAKEY_BLOB header{};
    header.Magic = with_private ? BCRYPT_RSAFULLPRIVATE_MAGIC : BCRYPT_RSAPUBLIC_MAGIC;
    header.BitLength = static_cast<ULONG>(modulus * 8);
    header.cbPublicExp = static_cast<ULONG>(key.e.size());
    header.cbModulus = static_cast<ULONG>(modulus);
    header.cbPrime1 = header.cbPrime2 = with_private ? static_cast<ULONG>(prime) : 0;
    const auto* raw = reinterpret_cast<const uint8_t*>(&header);
    blob->assign(raw, raw + sizeof header);
    bool ok = Append(blob, key.e, key.e.size()) && Append(blob, key.n, modulus);
    if (with_private) {
      ok = ok && Append(blob, key.p, prime) && Append(blob, key.q, prime) &&
           Append(blob, key.dp, prime) && Append(blob, key.dq, prime) &&
           Append(blob, key.qinv, prime) && Append(blob, key.d, modulus);
    }
    *type = with_private ? BCRYPT_RSAFULLPRIVATE_BLOB : BCRYPT_RSAPUBLIC_BLOB;
    *algorithm = BCRYPT_RSA_ALGORITHM;
    return ok;
  }
  if (key.kind != SignatureKind::kEcdsa || key.curve == nullptr) return false;
  BCRYPT_ECCKEY_BLOB header{};
  header.dwMagic = with_private ? key.curve->private_magic : key.curve->public_magic;
  header.cbKey = static_cast<ULONG>(key.curve->size);
  const auto* raw = reinterpret_cast<const uint8_t*>(&header);
  blob->assign(raw, raw + sizeof header);
  blob->insert(blob->end(), key.x.begin(), key.x.end());
  blob->insert(blob->end(), key.y.begin(), key.y.end());
  *type = with_private ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB;
  *algorithm = key.curve->algorithm;
  return !with_private || Append(blob, key.secret, key.curve->size);
}

// ECDSA signatures are DER SEQUENCE { r, s } in PKCS#7 and r || s to CNG.
bool EcdsaDerToRaw(ByteSpan der, size_t size, Bytes* raw) {
  DerReader outer(der), seq;
  DerItem r, s;
  if (!outer.Enter(kTagSequence, &seq) || !seq.Expect(kTagInteger, &r) ||
      !seq.Expect(kTagInteger, &s) || !seq.AtEnd()) {
    return false;
  }
  raw->clear();
  return Append(raw, Magnitude(r.contents), size) && Append(raw, Magnitude(s.contents), size);
}

Bytes EcdsaRawToDer(ByteSpan raw) {
  auto integer = [](ByteSpan half) {
    Bytes value = Magnitude(half);
    if (value[0] & 0x80) value.insert(value.begin(), 0);
    return Tlv(kTagInteger, value);
  };
  const size_t half = raw.size() / 2;
  return Tlv(kTagSequence, Concat({integer(raw.first(half)), integer(raw.subspan(half))}));
}

// Imports the key into CNG; `provider` must outlive `key`.
bool ImportKey(const KeyParts& parts, bool with_private, std::unique_ptr<Provider>* provider,
               KeyHandle* key) {
  Bytes blob;
  LPCWSTR type = nullptr, algorithm = nullptr;
  if (!KeyBlob(parts, with_private, &blob, &type, &algorithm)) return false;
  *provider = std::make_unique<Provider>(algorithm);
  return (*provider)->get() != nullptr &&
         Succeeded(BCryptImportKeyPair((*provider)->get(), nullptr, type, key->out(), blob.data(),
                                       static_cast<ULONG>(blob.size()), 0));
}

class CngKey : public SigningKey {
 public:
  CngKey(KeyParts parts, std::unique_ptr<Provider> provider, std::unique_ptr<KeyHandle> key)
      : parts_(std::move(parts)), provider_(std::move(provider)), key_(std::move(key)) {}
  SignatureKind kind() const override { return parts_.kind; }
  bool Matches(const Certificate& cert) const override {
    KeyParts pub;
    if (!ParsePublicKey(cert.public_key_info, &pub) || pub.kind != parts_.kind) return false;
    return pub.kind == SignatureKind::kRsaPkcs1
               ? pub.n == parts_.n && pub.e == parts_.e
               : pub.curve == parts_.curve && pub.x == parts_.x && pub.y == parts_.y;
  }
  bool Sign(DigestAlgorithm digest, ByteSpan data, Bytes* signature,
            std::string* error) const override {
    const Bytes hash = Digest(digest, data);
    BCRYPT_PKCS1_PADDING_INFO padding{HashAlgorithm(digest)};
    const bool rsa = parts_.kind == SignatureKind::kRsaPkcs1;
    void* info = rsa ? &padding : nullptr;
    const ULONG flags = rsa ? BCRYPT_PAD_PKCS1 : 0;
    // The size is known: the modulus, or two coordinates.
    ULONG size = static_cast<ULONG>(rsa ? parts_.n.size() : 2 * parts_.curve->size);
    signature->resize(size);
    const NTSTATUS status =
        BCryptSignHash(key_->get(), info, const_cast<PUCHAR>(hash.data()),
                       static_cast<ULONG>(hash.size()), signature->data(), size, &size, flags);
    if (!Succeeded(status)) {
      *error = StatusText("cannot sign", status);
      return false;
    }
    signature->resize(size);
    if (!rsa) *signature = EcdsaRawToDer(*signature);
    return true;
  }

 private:
  KeyParts parts_;
  std::unique_ptr<Provider> provider_;
  std::unique_ptr<KeyHandle> key_;
};

// ---------------------------------------------------------------------------
// Chains

class Store {
 public:
  Store() : handle_(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr)) {}
  ~Store() {
    if (handle_) CertCloseStore(handle_, 0);
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  HCERTSTORE get() const { return handle_; }
  void Add(ByteSpan der) {
    CertAddEncodedCertificateToStore(handle_, X509_ASN_ENCODING, der.data(),
                                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, nullptr);
  }

 private:
  HCERTSTORE handle_;
};

std::string SubjectOf(PCCERT_CONTEXT context) {
  Certificate cert;
  if (!ParseCertificate(ByteSpan(context->pbCertEncoded, context->cbCertEncoded), &cert)) return {};
  return NameText(cert.subject);
}

// Chain errors of one element that matter: revocation is not checked, and
// where the chain ends is judged apart.
constexpr DWORD kIgnored = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                           CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                           CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_IS_NOT_TIME_NESTED;

ChainStatus ElementStatus(DWORD errors, PCCERT_CONTEXT cert, std::string* reason) {
  errors &= ~kIgnored;
  if (errors == 0) return ChainStatus::kTrusted;
  const char* what = "certificate chain error";
  ChainStatus status = ChainStatus::kUntrusted;
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) {
    what = "certificate has expired or is not yet valid";
    status = ChainStatus::kExpired;
  } else if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) {
    what = "certificate signature failure";
  } else if (errors & CERT_TRUST_IS_REVOKED) {
    what = "certificate revoked";
  } else if (errors & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) {
    what = "invalid CA certificate";
  } else if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) {
    what = "certificate not valid for this usage";
  }
  *reason = std::string(what) + " (" + SubjectOf(cert) + ")";
  return status;
}

}  // namespace

// CNG and the CryptoAPI are part of every Windows.
bool CryptoAvailable(std::string*) { return true; }

std::unique_ptr<Hasher> Hasher::Make(DigestAlgorithm digest) {
  LPCWSTR algorithm = HashAlgorithm(digest);
  if (algorithm == nullptr) return nullptr;
  auto hasher = std::make_unique<CngHasher>(algorithm);
  if (!hasher->ok()) return nullptr;
  return hasher;
}

bool VerifyWithCertificate(ByteSpan certificate, DigestAlgorithm digest, SignatureKind kind,
                           ByteSpan data, ByteSpan signature, std::string* error) {
  Certificate cert;
  KeyParts parts;
  if (!ParseCertificate(certificate, &cert) || !ParsePublicKey(cert.public_key_info, &parts)) {
    *error = "the certificate's public key cannot be read (only RSA and EC keys are)";
    return false;
  }
  if (parts.kind != kind) {
    *error = "the signature algorithm does not fit the certificate's key";
    return false;
  }
  std::unique_ptr<Provider> owner;
  KeyHandle key;
  if (!ImportKey(parts, false, &owner, &key)) {
    *error = "the certificate's public key cannot be used";
    return false;
  }
  const Bytes hash = Digest(digest, data);
  NTSTATUS status;
  if (kind == SignatureKind::kRsaPkcs1) {
    BCRYPT_PKCS1_PADDING_INFO padding{HashAlgorithm(digest)};
    status = BCryptVerifySignature(key.get(), &padding, const_cast<PUCHAR>(hash.data()),
                                   static_cast<ULONG>(hash.size()), const_cast<PUCHAR>(signature.data()),
                                   static_cast<ULONG>(signature.size()), BCRYPT_PAD_PKCS1);
  } else {
    Bytes raw;
    if (!EcdsaDerToRaw(signature, parts.curve->size, &raw)) {
      *error = "the ECDSA signature is malformed";
      return false;
    }
    status = BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(hash.data()),
                                   static_cast<ULONG>(hash.size()), raw.data(),
                                   static_cast<ULONG>(raw.size()), 0);
  }
  if (!Succeeded(status)) *error = "the signature does not match the certificate's key";
  return Succeeded(status);
}

ChainStatus VerifyChain(ByteSpan leaf, const std::vector<ByteSpan>& intermediates,
                        const TrustAnchors& anchors, int64_t at_time, std::string* reason) {
  Store extra;
  for (ByteSpan der : intermediates) extra.Add(der);
  for (const Bytes& der : anchors.certificates) extra.Add(der);
  PCCERT_CONTEXT leaf_context = CertCreateCertificateContext(
      X509_ASN_ENCODING, leaf.data(), static_cast<DWORD>(leaf.size()));
  if (leaf_context == nullptr) {
    *reason = "cannot read the signer's certificate";
    return ChainStatus::kUntrusted;
  }
  // Seconds since 1970 as a FILETIME: 100 ns steps since 1601.
  const uint64_t ticks = (static_cast<uint64_t>(at_time) + 11644473600ull) * 10000000ull;
  FILETIME when{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  const BOOL built = CertGetCertificateChain(nullptr, leaf_context, &when, extra.get(), &para, 0,
                                             nullptr, &chain);
  CertFreeCertificateContext(leaf_context);
  if (!built || chain == nullptr || chain->cChain == 0) {
    if (chain) CertFreeCertificateChain(chain);
    *reason = "cannot build the certificate chain";
    return ChainStatus::kUntrusted;
  }
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  ChainStatus status = ChainStatus::kUntrusted;
  *reason = "no chain to a trusted certificate";
  for (DWORD i = 0; i < simple->cElement; ++i) {
    const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
    const PCCERT_CONTEXT cert = element->pCertContext;
    status = ElementStatus(element->TrustStatus.dwErrorStatus, cert, reason);
    if (status != ChainStatus::kTrusted) break;
    const ByteSpan der(cert->pbCertEncoded, cert->cbCertEncoded);
    // With anchors given, the chain ends at the first of them; with the
    // system's, at a root the system trusts.
    const bool anchored =
        anchors.system
            ? i + 1 == simple->cElement &&
                  !(element->TrustStatus.dwErrorStatus & CERT_TRUST_IS_UNTRUSTED_ROOT) &&
                  !(simple->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN)
            : std::any_of(anchors.certificates.begin(), anchors.certificates.end(),
                          [&](const Bytes& a) { return std::ranges::equal(a, der); });
    if (anchored) break;
    status = ChainStatus::kUntrusted;
    if (i + 1 == simple->cElement) *reason = "no chain to a trusted certificate (" + SubjectOf(cert) + ")";
  }
  CertFreeCertificateChain(chain);
  if (status == ChainStatus::kTrusted) reason->clear();
  return status;
}

std::unique_ptr<SigningKey> SigningKey::Load(const std::string& path, std::string* error) {
  std::string text;
  if (!ReadSmallFile(path, &text, error)) return nullptr;
  if (HasPemLabel(text, "ENCRYPTED PRIVATE KEY") || text.find("Proc-Type: 4,ENCRYPTED") != std::string::npos) {
    *error = path + ": the key is encrypted; give a key without a pass phrase";
    return nullptr;
  }
  std::vector<Bytes> blocks;
  if (text.find("-----BEGIN ") != std::string::npos) {
    DecodePem(text, {"PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE KEY"}, &blocks);
  } else {
    blocks.emplace_back(text.begin(), text.end());
  }
  KeyParts parts;
  if (blocks.empty() || !ParsePrivateKey(blocks.front(), &parts)) {
    *error = path + ": no RSA or EC private key in it (PEM or DER)";
    return nullptr;
  }
  std::unique_ptr<Provider> owner;
  auto key = std::make_unique<KeyHandle>();
  if (!ImportKey(parts, true, &owner, key.get())) {
    *error = path + ": the system cannot use this key";
    return nullptr;
  }
  return std::make_unique<CngKey>(std::move(parts), std::move(owner), std::move(key));
}

}  // namespace kestrin::sig
