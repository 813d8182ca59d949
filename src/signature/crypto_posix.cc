// The OpenSSL back end of the signature cryptography.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "signature/crypto.h"

namespace kestrin::sig {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using OwnedX509 = Owned<X509, X509_free>;
using OwnedKey = Owned<EVP_PKEY, EVP_PKEY_free>;
using OwnedMdCtx = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using OwnedStore = Owned<X509_STORE, X509_STORE_free>;
using OwnedStoreCtx = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using OwnedBio = Owned<BIO, BIO_free_all>;

void FreeX509Stack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
using OwnedX509Stack = Owned<STACK_OF(X509), FreeX509Stack>;

const EVP_MD* Md(DigestAlgorithm digest) {
  switch (digest) {
    case DigestAlgorithm::kSha1: return EVP_sha1();
    case DigestAlgorithm::kSha256: return EVP_sha256();
    case DigestAlgorithm::kSha384: return EVP_sha384();
    case DigestAlgorithm::kSha512: return EVP_sha512();
    default: return nullptr;
  }
}

// The text of OpenSSL's last error, and the queue emptied.
std::string OpenSslError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

OwnedX509 ReadX509(ByteSpan der) {
  const unsigned char* p = der.data();
  OwnedX509 cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  return cert;
}

class OpenSslHasher : public Hasher {
 public:
  explicit OpenSslHasher(const EVP_MD* md) : ctx_(EVP_MD_CTX_new()) {
    if (ctx_ && EVP_DigestInit_ex(ctx_.get(), md, nullptr) != 1) ctx_.reset();
  }
  bool ok() const { return ctx_ != nullptr; }
  void Update(const void* data, size_t size) override {
    EVP_DigestUpdate(ctx_.get(), data, size);
  }
  Bytes Finish() override {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned size = 0;
    EVP_DigestFinal_ex(ctx_.get(), out.data(), &size);
    out.resize(size);
    return out;
  }

 private:
  OwnedMdCtx ctx_;
};

bool KindMatchesKey(SignatureKind kind, const EVP_PKEY* key) {
  const int id = EVP_PKEY_get_base_id(key);
  return (kind == SignatureKind::kRsaPkcs1 && id == EVP_PKEY_RSA) ||
         (kind == SignatureKind::kEcdsa && id == EVP_PKEY_EC);
}

// The subject of the certificate a chain failure concerns.
std::string SubjectOf(X509* cert) {
  if (cert == nullptr) return {};
  unsigned char* der = nullptr;
  const int size = i2d_X509(cert, &der);
  if (size <= 0) return {};
  Certificate parsed;
  std::string name;
  if (ParseCertificate(ByteSpan(der, static_cast<size_t>(size)), &parsed)) {
    name = NameText(parsed.subject);
  }
  OPENSSL_free(der);
  return name;
}

class OpenSslKey : public SigningKey {
 public:
  explicit OpenSslKey(OwnedKey key) : key_(std::move(key)) {}
  SignatureKind kind() const override {
    const int id = EVP_PKEY_get_base_id(key_.get());
    return id == EVP_PKEY_RSA  ? SignatureKind::kRsaPkcs1
           : id == EVP_PKEY_EC ? SignatureKind::kEcdsa
                               : SignatureKind::kUnknown;
  }
  bool Matches(const Certificate& cert) const override {
    OwnedX509 x509 = ReadX509(cert.der);
    const bool match = x509 && X509_check_private_key(x509.get(), key_.get()) == 1;
    ERR_clear_error();
    return match;
  }
  bool Sign(DigestAlgorithm digest, ByteSpan data, Bytes* signature,
            std::string* error) const override {
    OwnedMdCtx ctx(EVP_MD_CTX_new());
    size_t size = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, Md(digest), nullptr, key_.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &size, data.data(), data.size()) != 1) {
      *error = OpenSslError("cannot sign");
      return false;
    }
    signature->resize(size);
    if (EVP_DigestSign(ctx.get(), signature->data(), &size, data.data(), data.size()) != 1) {
      *error = OpenSslError("cannot sign");
      return false;
    }
    signature->resize(size);
    return true;
  }

 private:
  OwnedKey key_;
};

// Never asks for a pass phrase: an encrypted key fails to load.
int NoPassphrase(char*, int, int, void*) { return -1; }

}  // namespace

std::unique_ptr<Hasher> Hasher::Make(DigestAlgorithm digest) {
  const EVP_MD* md = Md(digest);
  if (md == nullptr) return nullptr;
  auto hasher = std::make_unique<OpenSslHasher>(md);
  if (!hasher->ok()) return nullptr;
  return hasher;
}

bool VerifyWithCertificate(ByteSpan certificate, DigestAlgorithm digest, SignatureKind kind,
                           ByteSpan data, ByteSpan signature, std::string* error) {
  OwnedX509 cert = ReadX509(certificate);
  EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
  if (key == nullptr) {
    *error = "the certificate's public key cannot be read: " + OpenSslError("unknown key");
    return false;
  }
  if (!KindMatchesKey(kind, key)) {
    *error = "the signature algorithm does not fit the certificate's key";
    return false;
  }
  OwnedMdCtx ctx(EVP_MD_CTX_new());
  const bool good =
      ctx && Md(digest) != nullptr &&
      EVP_DigestVerifyInit(ctx.get(), nullptr, Md(digest), nullptr, key) == 1 &&
      EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
  ERR_clear_error();
  if (!good) *error = "the signature does not match the certificate's key";
  return good;
}

ChainStatus VerifyChain(ByteSpan leaf, const std::vector<ByteSpan>& intermediates,
                        const TrustAnchors& anchors, int64_t at_time, std::string* reason) {
  OwnedX509 leaf_cert = ReadX509(leaf);
  OwnedStore store(X509_STORE_new());
  OwnedX509Stack untrusted(sk_X509_new_null());
  if (!leaf_cert || !store || !untrusted) {
    *reason = OpenSslError("cannot read the signer's certificate");
    return ChainStatus::kUntrusted;
  }
  if (anchors.system) {
    X509_STORE_set_default_paths(store.get());
  } else {
    for (const Bytes& der : anchors.certificates) {
      OwnedX509 anchor = ReadX509(der);
      if (anchor) X509_STORE_add_cert(store.get(), anchor.get());
    }
  }
  for (ByteSpan der : intermediates) {
    OwnedX509 cert = ReadX509(der);
    if (cert && sk_X509_push(untrusted.get(), cert.get()) > 0) cert.release();
  }
  OwnedStoreCtx ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), leaf_cert.get(), untrusted.get()) != 1) {
    *reason = OpenSslError("cannot set up the chain check");
    return ChainStatus::kUntrusted;
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(at_time));
  // A certificate given as trusted ends the chain even when it is not a root.
  if (!anchors.system) X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
  const int verified = X509_verify_cert(ctx.get());
  ERR_clear_error();
  if (verified == 1) return ChainStatus::kTrusted;
  const int code = X509_STORE_CTX_get_error(ctx.get());
  *reason = X509_verify_cert_error_string(code);
  const std::string subject = SubjectOf(X509_STORE_CTX_get_current_cert(ctx.get()));
  if (!subject.empty()) *reason += " (" + subject + ")";
  return code == X509_V_ERR_CERT_HAS_EXPIRED || code == X509_V_ERR_CERT_NOT_YET_VALID
             ? ChainStatus::kExpired
             : ChainStatus::kUntrusted;
}

std::unique_ptr<SigningKey> SigningKey::Load(const std::string& path, std::string* error) {
  std::string text;
  if (!ReadSmallFile(path, &text, error)) return nullptr;
  if (HasPemLabel(text, "ENCRYPTED PRIVATE KEY") || text.find("Proc-Type: 4,ENCRYPTED") != std::string::npos) {
    *error = path + ": the key is encrypted; give a key without a pass phrase";
    return nullptr;
  }
  OwnedBio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  OwnedKey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr) : nullptr);
  if (!key) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    key.reset(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(text.size())));
  }
  ERR_clear_error();
  if (!key) {
    *error = path + ": no private key in it (PEM or DER)";
    return nullptr;
  }
  auto loaded = std::make_unique<OpenSslKey>(std::move(key));
  if (loaded->kind() == SignatureKind::kUnknown) {
    *error = path + ": only RSA and EC keys can sign";
    return nullptr;
  }
  return loaded;
}

}  // namespace kestrin::sig
