// The OpenSSL back end of the signature cryptography. libcrypto is loaded
// the first time a signature is made or checked (the programs mostly work
// with cabinets and never need it) and called through a table of its
// functions, typed from OpenSSL's own declarations.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "host/shared_library.h"
#include "signature/crypto.h"

namespace kestrin::sig {
namespace {

// Every libcrypto function called here. A macro, to name each once for both
// its pointer's type and the symbol looked up.
#define KESTRIN_LIBCRYPTO_FUNCTIONS(F)                                                    \
  F(OPENSSL_version_major) F(CRYPTO_free) F(ERR_get_error) F(ERR_clear_error)             \
  F(ERR_error_string_n) F(EVP_sha1) F(EVP_sha256) F(EVP_sha384) F(EVP_sha512)             \
  F(EVP_MD_CTX_new) F(EVP_MD_CTX_free) F(EVP_DigestInit_ex) F(EVP_DigestUpdate)           \
  F(EVP_DigestFinal_ex) F(EVP_DigestSignInit) F(EVP_DigestSign) F(EVP_DigestVerifyInit)   \
  F(EVP_DigestVerify) F(EVP_PKEY_get_base_id) F(EVP_PKEY_free) F(d2i_X509) F(i2d_X509)    \
  F(X509_free) F(X509_get0_pubkey) F(X509_check_private_key) F(X509_STORE_new)            \
  F(X509_STORE_free) F(X509_STORE_set_default_paths) F(X509_STORE_add_cert)               \
  F(X509_STORE_CTX_new) F(X509_STORE_CTX_free) F(X509_STORE_CTX_init)                     \
  F(X509_STORE_CTX_get0_param) F(X509_STORE_CTX_get_error)                                \
  F(X509_STORE_CTX_get_current_cert) F(X509_VERIFY_PARAM_set_time)                        \
  F(X509_VERIFY_PARAM_set_flags) F(X509_verify_cert) F(X509_verify_cert_error_string)     \
  F(OPENSSL_sk_new_null) F(OPENSSL_sk_push) F(OPENSSL_sk_pop) F(OPENSSL_sk_free)          \
  F(BIO_new_mem_buf) F(BIO_free_all) F(PEM_read_bio_PrivateKey) F(d2i_AutoPrivateKey)

struct LibCrypto {
#define KESTRIN_LIBCRYPTO_POINTER(name) decltype(&::name) name = nullptr;
  KESTRIN_LIBCRYPTO_FUNCTIONS(KESTRIN_LIBCRYPTO_POINTER)
#undef KESTRIN_LIBCRYPTO_POINTER
  std::unique_ptr<SharedLibrary> library;
};

// The loaded library, or null with `error` saying why it cannot be used.
LibCrypto* Load(std::string* error) {
  auto api = std::make_unique<LibCrypto>();
  api->library = SharedLibrary::Open(KESTRIN_LIBCRYPTO_SONAME, error);
  if (!api->library) return nullptr;
#define KESTRIN_LIBCRYPTO_FIND(name)                                                    \
  api->name = reinterpret_cast<decltype(api->name)>(api->library->Find(#name, error)); \
  if (api->name == nullptr) return nullptr;
  KESTRIN_LIBCRYPTO_FUNCTIONS(KESTRIN_LIBCRYPTO_FIND)
#undef KESTRIN_LIBCRYPTO_FIND
  // Within a major version OpenSSL keeps its interface; across one it does not.
  if (const unsigned major = api->OPENSSL_version_major(); major != OPENSSL_VERSION_MAJOR) {
    *error = std::string(KESTRIN_LIBCRYPTO_SONAME) + " is OpenSSL " + std::to_string(major) +
             ", not " + std::to_string(OPENSSL_VERSION_MAJOR) + " as Kestrin was built for";
    return nullptr;
  }
  // Kept to the end of the program: OpenSSL frees its state in its own exit
  // handler.
  return api.release();
}

struct LoadResult {
  const LibCrypto* api;
  std::string error;
};

// libcrypto, loaded on the first call (once, also when that fails); null
// with `error` set when it cannot be loaded.
const LibCrypto* Crypto(std::string* error) {
  static const LoadResult loaded = [] {
    LoadResult result;
    result.api = Load(&result.error);
    if (result.api == nullptr) {
      result.error = "signatures need OpenSSL's libcrypto: " + result.error;
    }
    return result;
  }();
  if (loaded.api == nullptr && error != nullptr) *error = loaded.error;
  return loaded.api;
}

// libcrypto when it is already loaded: everything below that takes or
// makes an OpenSSL object runs only after an entry point loaded it.
const LibCrypto& Api() { return *Crypto(nullptr); }

template <typename T, auto Free>
struct Deleter {
  void operator()(T* p) const { (Api().*Free)(p); }
};
template <typename T, auto Free>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using OwnedX509 = Owned<X509, &LibCrypto::X509_free>;
using OwnedKey = Owned<EVP_PKEY, &LibCrypto::EVP_PKEY_free>;
using OwnedMdCtx = Owned<EVP_MD_CTX, &LibCrypto::EVP_MD_CTX_free>;
using OwnedStore = Owned<X509_STORE, &LibCrypto::X509_STORE_free>;
using OwnedStoreCtx = Owned<X509_STORE_CTX, &LibCrypto::X509_STORE_CTX_free>;
using OwnedBio = Owned<BIO, &LibCrypto::BIO_free_all>;

// A stack of certificates owned with them.
struct X509StackDeleter {
  void operator()(STACK_OF(X509) * stack) const {
    const LibCrypto& api = Api();
    OPENSSL_STACK* base = reinterpret_cast<OPENSSL_STACK*>(stack);
    while (void* cert = api.OPENSSL_sk_pop(base)) api.X509_free(static_cast<X509*>(cert));
    api.OPENSSL_sk_free(base);
  }
};
using OwnedX509Stack = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;

const EVP_MD* Md(DigestAlgorithm digest) {
  const LibCrypto& api = Api();
  switch (digest) {
    case DigestAlgorithm::kSha1: return api.EVP_sha1();
    case DigestAlgorithm::kSha256: return api.EVP_sha256();
    case DigestAlgorithm::kSha384: return api.EVP_sha384();
    case DigestAlgorithm::kSha512: return api.EVP_sha512();
    default: return nullptr;
  }
}

// The text of OpenSSL's last error, and the queue emptied.
std::string OpenSslError(const char* fallback) {
  const LibCrypto& api = Api();
  const unsigned long code = api.ERR_get_error();
  api.ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  api.ERR_error_string_n(code, text, sizeof text);
  return text;
}

OwnedX509 ReadX509(ByteSpan der) {
  const unsigned char* p = der.data();
  OwnedX509 cert(Api().d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  return cert;
}

class OpenSslHasher : public Hasher {
 public:
  explicit OpenSslHasher(const EVP_MD* md) : ctx_(Api().EVP_MD_CTX_new()) {
    if (ctx_ && Api().EVP_DigestInit_ex(ctx_.get(), md, nullptr) != 1) ctx_.reset();
  }
  bool ok() const { return ctx_ != nullptr; }
  void Update(const void* data, size_t size) override {
    Api().EVP_DigestUpdate(ctx_.get(), data, size);
  }
  Bytes Finish() override {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned size = 0;
    Api().EVP_DigestFinal_ex(ctx_.get(), out.data(), &size);
    out.resize(size);
    return out;
  }

 private:
  OwnedMdCtx ctx_;
};

bool KindMatchesKey(SignatureKind kind, const EVP_PKEY* key) {
  const int id = Api().EVP_PKEY_get_base_id(key);
  return (kind == SignatureKind::kRsaPkcs1 && id == EVP_PKEY_RSA) ||
         (kind == SignatureKind::kEcdsa && id == EVP_PKEY_EC);
}

// The subject of the certificate a chain failure concerns.
std::string SubjectOf(X509* cert) {
  if (cert == nullptr) return {};
  unsigned char* der = nullptr;
  const int size = Api().i2d_X509(cert, &der);
  if (size <= 0) return {};
  Certificate parsed;
  std::string name;
  if (ParseCertificate(ByteSpan(der, static_cast<size_t>(size)), &parsed)) {
    name = NameText(parsed.subject);
  }
  Api().CRYPTO_free(der, OPENSSL_FILE, OPENSSL_LINE);
  return name;
}

class OpenSslKey : public SigningKey {
 public:
  explicit OpenSslKey(OwnedKey key) : key_(std::move(key)) {}
  SignatureKind kind() const override {
    const int id = Api().EVP_PKEY_get_base_id(key_.get());
    return id == EVP_PKEY_RSA  ? SignatureKind::kRsaPkcs1
           : id == EVP_PKEY_EC ? SignatureKind::kEcdsa
                               : SignatureKind::kUnknown;
  }
  bool Matches(const Certificate& cert) const override {
    OwnedX509 x509 = ReadX509(cert.der);
    const bool match = x509 && Api().X509_check_private_key(x509.get(), key_.get()) == 1;
    Api().ERR_clear_error();
    return match;
  }
  bool Sign(DigestAlgorithm digest, ByteSpan data, Bytes* signature,
            std::string* error) const override {
    const LibCrypto& api = Api();
    OwnedMdCtx ctx(api.EVP_MD_CTX_new());
    size_t size = 0;
    if (!ctx ||
        api.EVP_DigestSignInit(ctx.get(), nullptr, Md(digest), nullptr, key_.get()) != 1 ||
        api.EVP_DigestSign(ctx.get(), nullptr, &size, data.data(), data.size()) != 1) {
      *error = OpenSslError("cannot sign");
      return false;
    }
    signature->resize(size);
    if (api.EVP_DigestSign(ctx.get(), signature->data(), &size, data.data(), data.size()) != 1) {
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

bool CryptoAvailable(std::string* error) { return Crypto(error) != nullptr; }

std::unique_ptr<Hasher> Hasher::Make(DigestAlgorithm digest) {
  if (Crypto(nullptr) == nullptr) return nullptr;
  const EVP_MD* md = Md(digest);
  if (md == nullptr) return nullptr;
  auto hasher = std::make_unique<OpenSslHasher>(md);
  if (!hasher->ok()) return nullptr;
  return hasher;
}

bool VerifyWithCertificate(ByteSpan certificate, DigestAlgorithm digest, SignatureKind kind,
                           ByteSpan data, ByteSpan signature, std::string* error) {
  const LibCrypto* api = Crypto(error);
  if (api == nullptr) return false;
  OwnedX509 cert = ReadX509(certificate);
  EVP_PKEY* key = cert ? api->X509_get0_pubkey(cert.get()) : nullptr;
  if (key == nullptr) {
    *error = "the certificate's public key cannot be read: " + OpenSslError("unknown key");
    return false;
  }
  if (!KindMatchesKey(kind, key)) {
    *error = "the signature algorithm does not fit the certificate's key";
    return false;
  }
  OwnedMdCtx ctx(api->EVP_MD_CTX_new());
  const bool good =
      ctx && Md(digest) != nullptr &&
      api->EVP_DigestVerifyInit(ctx.get(), nullptr, Md(digest), nullptr, key) == 1 &&
      api->EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(),
                            data.size()) == 1;
  api->ERR_clear_error();
  if (!good) *error = "the signature does not match the certificate's key";
  return good;
}

ChainStatus VerifyChain(ByteSpan leaf, const std::vector<ByteSpan>& intermediates,
                        const TrustAnchors& anchors, int64_t at_time, std::string* reason) {
  const LibCrypto* api = Crypto(reason);
  if (api == nullptr) return ChainStatus::kUntrusted;
  OwnedX509 leaf_cert = ReadX509(leaf);
  OwnedStore store(api->X509_STORE_new());
  OwnedX509Stack untrusted(reinterpret_cast<STACK_OF(X509)*>(api->OPENSSL_sk_new_null()));
  if (!leaf_cert || !store || !untrusted) {
    *reason = OpenSslError("cannot read the signer's certificate");
    return ChainStatus::kUntrusted;
  }
  if (anchors.system) {
    api->X509_STORE_set_default_paths(store.get());
  } else {
    for (const Bytes& der : anchors.certificates) {
      OwnedX509 anchor = ReadX509(der);
      if (anchor) api->X509_STORE_add_cert(store.get(), anchor.get());
    }
  }
  for (ByteSpan der : intermediates) {
    OwnedX509 cert = ReadX509(der);
    if (cert &&
        api->OPENSSL_sk_push(reinterpret_cast<OPENSSL_STACK*>(untrusted.get()), cert.get()) > 0) {
      cert.release();
    }
  }
  OwnedStoreCtx ctx(api->X509_STORE_CTX_new());
  if (!ctx ||
      api->X509_STORE_CTX_init(ctx.get(), store.get(), leaf_cert.get(), untrusted.get()) != 1) {
    *reason = OpenSslError("cannot set up the chain check");
    return ChainStatus::kUntrusted;
  }
  X509_VERIFY_PARAM* param = api->X509_STORE_CTX_get0_param(ctx.get());
  api->X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(at_time));
  // A certificate given as trusted ends the chain even when it is not a root.
  if (!anchors.system) api->X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
  const int verified = api->X509_verify_cert(ctx.get());
  api->ERR_clear_error();
  if (verified == 1) return ChainStatus::kTrusted;
  const int code = api->X509_STORE_CTX_get_error(ctx.get());
  *reason = api->X509_verify_cert_error_string(code);
  const std::string subject = SubjectOf(api->X509_STORE_CTX_get_current_cert(ctx.get()));
  if (!subject.empty()) *reason += " (" + subject + ")";
  return code == X509_V_ERR_CERT_HAS_EXPIRED || code == X509_V_ERR_CERT_NOT_YET_VALID
             ? ChainStatus::kExpired
             : ChainStatus::kUntrusted;
}

std::unique_ptr<SigningKey> SigningKey::Load(const std::string& path, std::string* error) {
  const LibCrypto* api = Crypto(error);
  if (api == nullptr) return nullptr;
  std::string text;
  if (!ReadSmallFile(path, &text, error)) return nullptr;
  if (HasPemLabel(text, "ENCRYPTED PRIVATE KEY") || text.find("Proc-Type: 4,ENCRYPTED") != std::string::npos) {
    *error = path + ": the key is encrypted; give a key without a pass phrase";
    return nullptr;
  }
  OwnedBio bio(api->BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  OwnedKey key(bio ? api->PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr)
                   : nullptr);
  if (!key) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    key.reset(api->d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(text.size())));
  }
  api->ERR_clear_error();
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
