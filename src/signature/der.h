// A small reader and writer of DER, the encoding of certificates and PKCS#7
// signatures: enough to take an Authenticode signature apart, to build one,
// and to read certificates, keys, names and times.
//
// The reader works on a span of bytes and never copies; every item it hands
// out points into that span. It accepts definite lengths only (DER), which
// is what every Authenticode signer writes.
#ifndef KESTRIN_SIGNATURE_DER_H_
#define KESTRIN_SIGNATURE_DER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin::sig {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

// Tags (class, constructed bit and number in one byte; numbers above 30 are
// not used by anything read here and are refused).
inline constexpr uint8_t kTagBoolean = 0x01;
inline constexpr uint8_t kTagInteger = 0x02;
inline constexpr uint8_t kTagBitString = 0x03;
inline constexpr uint8_t kTagOctetString = 0x04;
inline constexpr uint8_t kTagNull = 0x05;
inline constexpr uint8_t kTagOid = 0x06;
inline constexpr uint8_t kTagUtf8String = 0x0C;
inline constexpr uint8_t kTagPrintableString = 0x13;
inline constexpr uint8_t kTagT61String = 0x14;
inline constexpr uint8_t kTagIa5String = 0x16;
inline constexpr uint8_t kTagUtcTime = 0x17;
inline constexpr uint8_t kTagGeneralizedTime = 0x18;
inline constexpr uint8_t kTagUniversalString = 0x1C;
inline constexpr uint8_t kTagBmpString = 0x1E;
inline constexpr uint8_t kTagSequence = 0x30;
inline constexpr uint8_t kTagSet = 0x31;
// Context-specific [n], constructed and primitive.
constexpr uint8_t ContextTag(int n) { return static_cast<uint8_t>(0xA0 | n); }
constexpr uint8_t ContextPrimitiveTag(int n) { return static_cast<uint8_t>(0x80 | n); }

// One element: its tag, the whole encoding (tag, length and contents) and
// the contents alone.
struct DerItem {
  uint8_t tag = 0;
  ByteSpan whole;
  ByteSpan contents;
};

// Reads the elements of one level, in order. After the first malformed
// element every call fails and failed() is true.
class DerReader {
 public:
  DerReader() = default;
  explicit DerReader(ByteSpan data) : rest_(data) {}

  bool AtEnd() const { return rest_.empty(); }
  bool failed() const { return failed_; }
  // The tag of the next element, 0 at the end.
  uint8_t PeekTag() const { return rest_.empty() ? 0 : rest_[0]; }

  // The next element, whatever its tag.
  bool Next(DerItem* item);
  // The next element, which must carry `tag`.
  bool Expect(uint8_t tag, DerItem* item);
  // The next element if it carries `tag`; false (without failing) when the
  // next element has another tag or there is none.
  bool Optional(uint8_t tag, DerItem* item);
  // A reader over the contents of the next element, which must carry `tag`.
  bool Enter(uint8_t tag, DerReader* inner);

 private:
  bool Fail() {
    failed_ = true;
    rest_ = {};
    return false;
  }
  ByteSpan rest_;
  bool failed_ = false;
};

// Reads exactly one element that fills all of `data`.
bool ParseSingle(ByteSpan data, DerItem* item);

// Object identifiers, as dotted text ("1.2.840.113549.1.7.2"). Empty for a
// malformed encoding.
std::string OidText(ByteSpan contents);
bool OidIs(const DerItem& item, std::string_view dotted);

// A non-negative INTEGER's value, for the small numbers of version fields;
// false for a negative or too large one.
bool SmallInteger(const DerItem& item, int* value);

// UTCTime or GeneralizedTime as seconds since 1970-01-01 00:00:00 UTC (Z
// times only, as DER demands; fractions of a second are dropped).
bool ParseTime(const DerItem& item, int64_t* seconds);
// "2026-03-01 14:05:09 UTC".
std::string FormatTime(int64_t seconds);

// A Name (a sequence of relative distinguished names) as text in the order
// it is encoded: "CN=Test Signer, O=Fennick, C=DE". Attribute types we have
// no short name for are shown dotted; characters outside printable ASCII as
// \xHH.
std::string NameText(ByteSpan name);
// The value of the first common name (CN) in a Name, empty when there is none.
std::string CommonName(ByteSpan name);

// Lowercase hexadecimal.
std::string HexText(ByteSpan bytes);

// ---------------------------------------------------------------------------
// Writing

// Appends tag, length and contents.
void AppendTlv(Bytes* out, uint8_t tag, ByteSpan contents);
Bytes Tlv(uint8_t tag, ByteSpan contents);
// Concatenation of encoded elements.
Bytes Concat(std::initializer_list<ByteSpan> parts);
// An OID from its dotted text (the texts used here are all well formed).
Bytes OidElement(std::string_view dotted);
// A SET OF: the elements sorted by their encodings, as DER requires.
Bytes SetOf(std::vector<Bytes> elements);

// ---------------------------------------------------------------------------
// PEM

// The DER contents of every PEM block in `text` whose label is one of
// `labels` ("CERTIFICATE", ...), in order. Text outside the blocks is
// ignored; a block that is not valid base64 fails the whole call.
bool DecodePem(std::string_view text, std::initializer_list<std::string_view> labels,
               std::vector<Bytes>* blocks);
// True when `text` holds a PEM block with that label at all.
bool HasPemLabel(std::string_view text, std::string_view label);

}  // namespace kestrin::sig

#endif  // KESTRIN_SIGNATURE_DER_H_
