#include "signature/crypto.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrin::sig {

Bytes Digest(DigestAlgorithm digest, ByteSpan data) {
  std::unique_ptr<Hasher> hasher = Hasher::Make(digest);
  if (!hasher) return {};
  hasher->Update(data.data(), data.size());
  return hasher->Finish();
}

bool ReadSmallFile(const std::string& path, std::string* content, std::string* error) {
  constexpr size_t kLimit = 16 << 20;  // no certificate or key file comes near this
  content->clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  char buffer[16384];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && content->size() <= kLimit) {
    content->append(buffer, n);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *error = "cannot read " + path;
    return false;
  }
  if (content->size() > kLimit) {
    *error = path + " is too large for a certificate or key file";
    return false;
  }
  return true;
}

bool ReadCertificateFile(const std::string& path, std::vector<Bytes>* certificates,
                         std::string* error) {
  std::string text;
  if (!ReadSmallFile(path, &text, error)) return false;
  std::vector<Bytes> found;
  if (text.find("-----BEGIN ") != std::string::npos) {
    if (!DecodePem(text, {"CERTIFICATE", "X509 CERTIFICATE", "TRUSTED CERTIFICATE"}, &found)) {
      *error = path + ": a PEM block is damaged";
      return false;
    }
  } else {
    found.emplace_back(text.begin(), text.end());
  }
  for (Bytes& der : found) {
    // A trusted certificate of OpenSSL's carries its trust settings after
    // the certificate: only the certificate is taken.
    DerReader reader(der);
    DerItem first;
    Certificate cert;
    if (!reader.Next(&first) || !ParseCertificate(first.whole, &cert)) {
      *error = path + ": not a certificate (PEM or DER)";
      return false;
    }
    certificates->emplace_back(first.whole.begin(), first.whole.end());
  }
  if (found.empty()) {
    *error = path + ": no certificate in it";
    return false;
  }
  return true;
}

}  // namespace kestrin::sig
