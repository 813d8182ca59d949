#include "signature/pkcs7.h"

#include <algorithm>

namespace kestrin::sig {

namespace {

constexpr struct {
  DigestAlgorithm digest;
  std::string_view oid;
  const char* name;
  size_t size;
} kDigests[] = {
    {DigestAlgorithm::kMd5, "1.2.840.113549.2.5", "md5", 16},
    {DigestAlgorithm::kSha1, "1.3.14.3.2.26", "sha1", 20},
    {DigestAlgorithm::kSha256, "2.16.840.1.101.3.4.2.1", "sha256", 32},
    {DigestAlgorithm::kSha384, "2.16.840.1.101.3.4.2.2", "sha384", 48},
    {DigestAlgorithm::kSha512, "2.16.840.1.101.3.4.2.3", "sha512", 64},
};

bool Fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

// AlgorithmIdentifier: the OID, parameters ignored.
bool ReadAlgorithm(DerReader* reader, std::string* dotted) {
  DerReader alg;
  DerItem id;
  if (!reader->Enter(kTagSequence, &alg) || !alg.Expect(kTagOid, &id)) return false;
  *dotted = OidText(id.contents);
  return !dotted->empty();
}

Bytes AlgorithmWithNull(std::string_view dotted) {
  const Bytes id = OidElement(dotted);
  const Bytes null = Tlv(kTagNull, {});
  return Tlv(kTagSequence, Concat({id, null}));
}

// A reader over the contents of the one SEQUENCE that fills `der`.
bool SingleSequence(ByteSpan der, DerReader* reader) {
  DerItem whole;
  if (!ParseSingle(der, &whole) || whole.tag != kTagSequence) return false;
  *reader = DerReader(whole.contents);
  return true;
}

// Calls visit(type, values reader) for each Attribute of a SET OF Attribute
// given by its contents.
template <typename Visit>
bool ForEachAttribute(ByteSpan contents, Visit visit) {
  DerReader attributes(contents);
  while (!attributes.AtEnd()) {
    DerReader attribute, values;
    DerItem type;
    if (!attributes.Enter(kTagSequence, &attribute) || !attribute.Expect(kTagOid, &type) ||
        !attribute.Enter(kTagSet, &values) || !attribute.AtEnd()) {
      return false;
    }
    if (!visit(OidText(type.contents), values)) return false;
  }
  return true;
}

}  // namespace

DigestAlgorithm DigestFromOid(std::string_view dotted) {
  for (const auto& d : kDigests) {
    if (d.oid == dotted) return d.digest;
  }
  return DigestAlgorithm::kUnknown;
}

std::string_view DigestOid(DigestAlgorithm digest) {
  for (const auto& d : kDigests) {
    if (d.digest == digest) return d.oid;
  }
  return {};
}

const char* DigestName(DigestAlgorithm digest) {
  for (const auto& d : kDigests) {
    if (d.digest == digest) return d.name;
  }
  return "unknown";
}

size_t DigestSize(DigestAlgorithm digest) {
  for (const auto& d : kDigests) {
    if (d.digest == digest) return d.size;
  }
  return 0;
}

SignatureKind SignatureKindFromOid(std::string_view dotted) {
  // rsaEncryption and md5/sha1/sha256/sha384/sha512 with RSA; ecPublicKey
  // and ecdsa-with-SHA1/SHA224/SHA256/SHA384/SHA512.
  static constexpr std::string_view kRsa[] = {
      "1.2.840.113549.1.1.1", "1.2.840.113549.1.1.4",  "1.2.840.113549.1.1.5",
      "1.2.840.113549.1.1.11", "1.2.840.113549.1.1.12", "1.2.840.113549.1.1.13"};
  static constexpr std::string_view kEc[] = {
      "1.2.840.10045.2.1",   "1.2.840.10045.4.1",   "1.2.840.10045.4.3.1",
      "1.2.840.10045.4.3.2", "1.2.840.10045.4.3.3", "1.2.840.10045.4.3.4"};
  if (std::find(std::begin(kRsa), std::end(kRsa), dotted) != std::end(kRsa)) {
    return SignatureKind::kRsaPkcs1;
  }
  if (std::find(std::begin(kEc), std::end(kEc), dotted) != std::end(kEc)) {
    return SignatureKind::kEcdsa;
  }
  return SignatureKind::kUnknown;
}

// ---------------------------------------------------------------------------
// Certificates

bool Certificate::AllowsPurpose(std::string_view purpose) const {
  if (!has_extended_key_usage) return true;
  for (const std::string& p : extended_key_usage) {
    if (p == purpose || p == "2.5.29.37.0") return true;  // or anyExtendedKeyUsage
  }
  return false;
}

namespace {

bool ReadExtensions(ByteSpan contents, Certificate* cert) {
  DerReader list;
  DerReader outer(contents);
  if (!outer.Enter(kTagSequence, &list) || !outer.AtEnd()) return false;
  while (!list.AtEnd()) {
    DerReader extension;
    DerItem id, critical, value;
    if (!list.Enter(kTagSequence, &extension) || !extension.Expect(kTagOid, &id)) return false;
    extension.Optional(kTagBoolean, &critical);
    if (!extension.Expect(kTagOctetString, &value) || !extension.AtEnd()) return false;
    const std::string type = OidText(id.contents);
    if (type == "2.5.29.37") {  // extended key usage
      DerReader purposes;
      DerReader inner(value.contents);
      if (!inner.Enter(kTagSequence, &purposes) || !inner.AtEnd()) return false;
      cert->has_extended_key_usage = true;
      while (!purposes.AtEnd()) {
        DerItem purpose;
        if (!purposes.Expect(kTagOid, &purpose)) return false;
        cert->extended_key_usage.push_back(OidText(purpose.contents));
      }
    } else if (type == "2.5.29.14") {  // subject key identifier
      DerItem key_id;
      if (!ParseSingle(value.contents, &key_id) || key_id.tag != kTagOctetString) return false;
      cert->subject_key_id = key_id.contents;
    }
  }
  return true;
}

}  // namespace

bool ParseCertificate(ByteSpan der, Certificate* cert) {
  *cert = Certificate{};
  DerItem whole;
  if (!ParseSingle(der, &whole) || whole.tag != kTagSequence) return false;
  cert->der = whole.whole;
  DerReader outer(whole.contents);
  DerReader tbs;
  if (!outer.Enter(kTagSequence, &tbs)) return false;
  DerItem item;
  tbs.Optional(ContextTag(0), &item);  // version
  DerItem serial, issuer, subject, key;
  std::string signature_alg;
  DerReader validity;
  DerItem not_before, not_after;
  if (!tbs.Expect(kTagInteger, &serial) || !ReadAlgorithm(&tbs, &signature_alg) ||
      !tbs.Expect(kTagSequence, &issuer) || !tbs.Enter(kTagSequence, &validity) ||
      !validity.Next(&not_before) || !validity.Next(&not_after) || !validity.AtEnd() ||
      !ParseTime(not_before, &cert->not_before) || !ParseTime(not_after, &cert->not_after) ||
      !tbs.Expect(kTagSequence, &subject) || !tbs.Expect(kTagSequence, &key)) {
    return false;
  }
  cert->serial = serial.contents;
  cert->issuer = issuer.whole;
  cert->subject = subject.whole;
  cert->public_key_info = key.whole;
  tbs.Optional(ContextPrimitiveTag(1), &item);  // issuer and subject unique ids
  tbs.Optional(ContextPrimitiveTag(2), &item);
  DerItem extensions;
  if (tbs.Optional(ContextTag(3), &extensions) && !ReadExtensions(extensions.contents, cert)) {
    return false;
  }
  return tbs.AtEnd() && !tbs.failed();
}

// ---------------------------------------------------------------------------
// SignerInfo

Bytes SignerInfo::SignedAttributesAsSet() const {
  Bytes set(signed_attributes.begin(), signed_attributes.end());
  if (!set.empty()) set[0] = kTagSet;
  return set;
}

bool ParseSignerInfo(ByteSpan der, SignerInfo* signer, std::string* error) {
  *signer = SignerInfo{};
  DerReader r;
  if (!SingleSequence(der, &r)) return Fail(error, "the signer information is not a DER sequence");
  DerItem version, sid;
  int version_number = 0;
  if (!r.Expect(kTagInteger, &version) || !SmallInteger(version, &version_number) || !r.Next(&sid)) {
    return Fail(error, "the signer information has no version or signer");
  }
  if (sid.tag == kTagSequence) {
    DerReader id(sid.contents);
    DerItem issuer, serial;
    if (!id.Expect(kTagSequence, &issuer) || !id.Expect(kTagInteger, &serial) || !id.AtEnd()) {
      return Fail(error, "the signer's issuer and serial number are malformed");
    }
    signer->issuer = issuer.whole;
    signer->serial = serial.contents;
  } else if (sid.tag == ContextPrimitiveTag(0)) {
    signer->subject_key_id = sid.contents;
  } else {
    return Fail(error, "the signer is named in an unknown way");
  }
  if (!ReadAlgorithm(&r, &signer->digest_oid)) {
    return Fail(error, "the signer's digest algorithm is malformed");
  }
  signer->digest = DigestFromOid(signer->digest_oid);
  DerItem attributes;
  if (r.Optional(ContextTag(0), &attributes)) {
    signer->signed_attributes = attributes.whole;
    bool bad_value = false;
    const bool ok = ForEachAttribute(attributes.contents, [&](const std::string& type,
                                                              DerReader& values) {
      DerItem value;
      if (type == oid::kContentType) {
        if (!values.Expect(kTagOid, &value) || !values.AtEnd()) return !(bad_value = true);
        signer->content_type = OidText(value.contents);
      } else if (type == oid::kMessageDigest) {
        if (signer->has_message_digest || !values.Expect(kTagOctetString, &value) ||
            !values.AtEnd()) {
          return !(bad_value = true);
        }
        signer->has_message_digest = true;
        signer->message_digest = value.contents;
      } else if (type == oid::kSigningTime) {
        if (!values.Next(&value) || !ParseTime(value, &signer->signing_time)) {
          return !(bad_value = true);
        }
        signer->has_signing_time = true;
      }
      return true;
    });
    if (!ok) {
      return Fail(error, bad_value ? "a signed attribute has a malformed value"
                                   : "the signed attributes are malformed");
    }
  }
  DerItem signature;
  if (!ReadAlgorithm(&r, &signer->signature_oid) || !r.Expect(kTagOctetString, &signature)) {
    return Fail(error, "the signer's signature is malformed");
  }
  signer->signature = signature.contents;
  DerItem unsigned_attributes;
  if (r.Optional(ContextTag(1), &unsigned_attributes)) {
    const bool ok = ForEachAttribute(unsigned_attributes.contents, [&](const std::string& type,
                                                                       DerReader& values) {
      while (!values.AtEnd()) {
        DerItem value;
        if (!values.Next(&value)) return false;
        if (type == oid::kCounterSignature) {
          signer->counter_signatures.push_back(value.whole);
        } else if (type == oid::kRfc3161Timestamp) {
          signer->timestamp_tokens.push_back(value.whole);
        } else if (type == oid::kNestedSignature) {
          ++signer->nested_signatures;
        }
      }
      return true;
    });
    if (!ok) return Fail(error, "the unsigned attributes are malformed");
  }
  if (!r.AtEnd()) return Fail(error, "the signer information has trailing data");
  return true;
}

// ---------------------------------------------------------------------------
// SignedData

const Certificate* SignedData::FindSignerCertificate(const SignerInfo& signer) const {
  for (const Certificate& cert : certificates) {
    if (!signer.subject_key_id.empty()) {
      if (std::ranges::equal(cert.subject_key_id, signer.subject_key_id)) return &cert;
    } else if (std::ranges::equal(cert.serial, signer.serial) &&
               std::ranges::equal(cert.issuer, signer.issuer)) {
      return &cert;
    }
  }
  return nullptr;
}

bool ParseSignedData(ByteSpan der, SignedData* data, std::string* error) {
  *data = SignedData{};
  DerReader top(der);
  DerItem first;
  if (!top.Next(&first) || first.tag != kTagSequence) {
    return Fail(error, "the signature is not a DER sequence");
  }
  // What follows the ContentInfo must be padding.
  for (size_t i = first.whole.size(); i < der.size(); ++i) {
    if (der[i] != 0) return Fail(error, "the signature is followed by data that is not padding");
  }
  DerReader content_info(first.contents);
  DerItem type;
  DerReader explicit_content, signed_data;
  if (!content_info.Expect(kTagOid, &type)) return Fail(error, "the signature has no content type");
  if (!OidIs(type, oid::kSignedData)) return Fail(error, "the signature is not PKCS#7 signed data");
  if (!content_info.Enter(ContextTag(0), &explicit_content) ||
      !explicit_content.Enter(kTagSequence, &signed_data) || !explicit_content.AtEnd() ||
      !content_info.AtEnd()) {
    return Fail(error, "the signed data is malformed");
  }
  DerItem version, digests;
  DerReader encapsulated;
  DerItem content_type;
  if (!signed_data.Expect(kTagInteger, &version) || !signed_data.Expect(kTagSet, &digests) ||
      !signed_data.Enter(kTagSequence, &encapsulated) ||
      !encapsulated.Expect(kTagOid, &content_type)) {
    return Fail(error, "the signed data's header is malformed");
  }
  data->content_type = OidText(content_type.contents);
  DerReader content;
  if (encapsulated.Enter(ContextTag(0), &content)) {
    if (!content.Next(&data->content) || !content.AtEnd()) {
      return Fail(error, "the signed content is malformed");
    }
  }
  if (!encapsulated.AtEnd()) return Fail(error, "the signed content is malformed");
  DerItem certificates, crls;
  if (signed_data.Optional(ContextTag(0), &certificates)) {
    DerReader list(certificates.contents);
    while (!list.AtEnd()) {
      DerItem item;
      if (!list.Next(&item)) return Fail(error, "the certificate list is malformed");
      if (item.tag != kTagSequence) continue;  // attribute certificates and the like
      Certificate cert;
      if (!ParseCertificate(item.whole, &cert)) {
        return Fail(error, "a certificate in the signature is malformed");
      }
      data->certificates.push_back(cert);
    }
  }
  signed_data.Optional(ContextTag(1), &crls);
  DerReader signers;
  if (!signed_data.Enter(kTagSet, &signers) || !signed_data.AtEnd()) {
    return Fail(error, "the signer list is malformed");
  }
  while (!signers.AtEnd()) {
    DerItem item;
    if (!signers.Next(&item)) return Fail(error, "the signer list is malformed");
    SignerInfo signer;
    if (!ParseSignerInfo(item.whole, &signer, error)) return false;
    data->signers.push_back(signer);
  }
  return true;
}

bool ParseAuthenticode(ByteSpan der, Authenticode* sig, std::string* error) {
  *sig = Authenticode{};
  if (!ParseSignedData(der, &sig->signed_data, error)) return false;
  const SignedData& data = sig->signed_data;
  if (data.content_type != oid::kSpcIndirectData || data.content.tag != kTagSequence) {
    return Fail(error, "the signed content is not Authenticode indirect data");
  }
  if (data.signers.size() != 1) {
    return Fail(error, data.signers.empty() ? "the signature has no signer"
                                            : "the signature has more than one signer");
  }
  sig->indirect_contents = data.content.contents;
  DerReader indirect(data.content.contents);
  DerReader attribute, digest_info;
  DerItem type, value, digest;
  if (!indirect.Enter(kTagSequence, &attribute) || !attribute.Expect(kTagOid, &type) ||
      !indirect.Enter(kTagSequence, &digest_info) ||
      !ReadAlgorithm(&digest_info, &sig->file_digest_oid) ||
      !digest_info.Expect(kTagOctetString, &digest) || !digest_info.AtEnd() || !indirect.AtEnd()) {
    return Fail(error, "the Authenticode indirect data is malformed");
  }
  attribute.Optional(attribute.PeekTag(), &value);
  if (!attribute.AtEnd()) return Fail(error, "the Authenticode indirect data is malformed");
  sig->data_type = OidText(type.contents);
  sig->file_digest_algorithm = DigestFromOid(sig->file_digest_oid);
  sig->file_digest = digest.contents;
  return true;
}

bool ParseTstInfo(ByteSpan der, TstInfo* info, std::string* error) {
  *info = TstInfo{};
  DerReader r;
  if (!SingleSequence(der, &r)) return Fail(error, "the time-stamp information is not a DER sequence");
  DerItem version, policy, hashed, serial, time;
  DerReader imprint;
  std::string digest_oid;
  if (!r.Expect(kTagInteger, &version) || !r.Expect(kTagOid, &policy) ||
      !r.Enter(kTagSequence, &imprint) || !ReadAlgorithm(&imprint, &digest_oid) ||
      !imprint.Expect(kTagOctetString, &hashed) || !imprint.AtEnd() ||
      !r.Expect(kTagInteger, &serial) || !r.Expect(kTagGeneralizedTime, &time) ||
      !ParseTime(time, &info->gen_time)) {
    return Fail(error, "the time-stamp information is malformed");
  }
  info->digest = DigestFromOid(digest_oid);
  info->hashed_message = hashed.contents;
  return true;
}

// ---------------------------------------------------------------------------
// Building

Bytes BuildCabinetIndirectData(DigestAlgorithm digest, ByteSpan file_digest) {
  // The link that cabinet signatures carry: a file name of "<<<Obsolete>>>"
  // as a BMPString.
  Bytes obsolete;
  for (char c : std::string_view("<<<Obsolete>>>")) {
    obsolete.push_back(0);
    obsolete.push_back(static_cast<uint8_t>(c));
  }
  const Bytes link = Tlv(ContextTag(2), Tlv(ContextPrimitiveTag(0), obsolete));
  const Bytes type = OidElement(oid::kSpcCabData);
  const Bytes attribute = Tlv(kTagSequence, Concat({type, link}));
  const Bytes algorithm = AlgorithmWithNull(DigestOid(digest));
  const Bytes value = Tlv(kTagOctetString, file_digest);
  const Bytes digest_info = Tlv(kTagSequence, Concat({algorithm, value}));
  return Tlv(kTagSequence, Concat({attribute, digest_info}));
}

Bytes BuildSignedAttributes(ByteSpan indirect_digest) {
  auto attribute = [](std::string_view type, const Bytes& value) {
    const Bytes id = OidElement(type);
    const Bytes values = Tlv(kTagSet, value);
    return Tlv(kTagSequence, Concat({id, values}));
  };
  std::vector<Bytes> attributes;
  attributes.push_back(attribute(oid::kContentType, OidElement(oid::kSpcIndirectData)));
  attributes.push_back(attribute(oid::kSpcStatementType,
                                 Tlv(kTagSequence, OidElement(oid::kSpcIndividualCodeSigning))));
  attributes.push_back(attribute(oid::kSpcSpOpusInfo, Tlv(kTagSequence, {})));
  attributes.push_back(attribute(oid::kMessageDigest, Tlv(kTagOctetString, indirect_digest)));
  return SetOf(std::move(attributes));
}

Bytes BuildSignedData(DigestAlgorithm digest, ByteSpan indirect_data,
                      const std::vector<Bytes>& certificates, const Certificate& signer,
                      ByteSpan signed_attributes, std::string_view signature_oid,
                      ByteSpan signature) {
  const Bytes version = Tlv(kTagInteger, Bytes{1});
  const Bytes digest_algorithm = AlgorithmWithNull(DigestOid(digest));
  const Bytes issuer_serial = Tlv(
      kTagSequence, Concat({signer.issuer, Tlv(kTagInteger, signer.serial)}));
  Bytes attributes(signed_attributes.begin(), signed_attributes.end());
  attributes[0] = ContextTag(0);
  // RSA names its algorithm with NULL parameters, ECDSA without any.
  const Bytes signature_algorithm =
      SignatureKindFromOid(signature_oid) == SignatureKind::kRsaPkcs1
          ? AlgorithmWithNull(signature_oid)
          : Tlv(kTagSequence, OidElement(signature_oid));
  const Bytes signer_info =
      Tlv(kTagSequence, Concat({version, issuer_serial, digest_algorithm, attributes,
                                signature_algorithm, Tlv(kTagOctetString, signature)}));
  Bytes certificate_list;
  for (const Bytes& c : certificates) certificate_list.insert(certificate_list.end(), c.begin(), c.end());
  const Bytes content_info = Tlv(
      kTagSequence, Concat({OidElement(oid::kSpcIndirectData), Tlv(ContextTag(0), indirect_data)}));
  const Bytes signed_data = Tlv(
      kTagSequence, Concat({version, Tlv(kTagSet, digest_algorithm), content_info,
                            Tlv(ContextTag(0), certificate_list), Tlv(kTagSet, signer_info)}));
  return Tlv(kTagSequence, Concat({OidElement(oid::kSignedData), Tlv(ContextTag(0), signed_data)}));
}

}  // namespace kestrin::sig
