// Fuzzes the signature parser: the bytes as an Authenticode signature (the
// PKCS#7 taken apart, every certificate in it, the signer's time stamps and
// countersignatures, their time-stamp information), as one certificate and
// as PEM text. Every span handed out must lie inside the bytes; parsing the
// same bytes twice must give the same signer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "signature/pkcs7.h"

namespace {

using kestrin::sig::ByteSpan;

const uint8_t* g_begin;
const uint8_t* g_end;

void Inside(ByteSpan span) {
  if (!span.empty() && (span.data() < g_begin || span.data() + span.size() > g_end)) std::abort();
}

void Walk(const kestrin::sig::SignedData& data) {
  for (const kestrin::sig::Certificate& cert : data.certificates) {
    Inside(cert.der);
    Inside(cert.public_key_info);
    kestrin::sig::NameText(cert.subject);
    kestrin::sig::CommonName(cert.issuer);
    cert.AllowsPurpose(kestrin::sig::oid::kCodeSigning);
  }
  for (const kestrin::sig::SignerInfo& signer : data.signers) {
    Inside(signer.signed_attributes);
    Inside(signer.signature);
    data.FindSignerCertificate(signer);
    signer.SignedAttributesAsSet();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_begin = data;
  g_end = data + size;
  const ByteSpan bytes(data, size);
  std::string error;
  kestrin::sig::Authenticode sig;
  if (kestrin::sig::ParseAuthenticode(bytes, &sig, &error)) {
    Walk(sig.signed_data);
    Inside(sig.file_digest);
    Inside(sig.indirect_contents);
    const kestrin::sig::SignerInfo& signer = sig.signer();
    for (ByteSpan token : signer.timestamp_tokens) {
      kestrin::sig::SignedData stamp;
      if (kestrin::sig::ParseSignedData(token, &stamp, &error)) {
        Walk(stamp);
        kestrin::sig::TstInfo info;
        if (kestrin::sig::ParseTstInfo(stamp.content.contents, &info, &error)) {
          Inside(info.hashed_message);
          kestrin::sig::FormatTime(info.gen_time);
        }
      }
    }
    for (ByteSpan counter : signer.counter_signatures) {
      kestrin::sig::SignerInfo info;
      if (kestrin::sig::ParseSignerInfo(counter, &info, &error)) Inside(info.message_digest);
    }
    kestrin::sig::Authenticode again;
    if (!kestrin::sig::ParseAuthenticode(bytes, &again, &error) ||
        again.signer().signature.data() != signer.signature.data()) {
      std::abort();
    }
  }
  kestrin::sig::Certificate cert;
  if (kestrin::sig::ParseCertificate(bytes, &cert)) kestrin::sig::FormatTime(cert.not_after);
  std::vector<kestrin::sig::Bytes> blocks;
  kestrin::sig::DecodePem(std::string_view(reinterpret_cast<const char*>(data), size),
                          {"CERTIFICATE", "PRIVATE KEY"}, &blocks);
  return 0;
}
