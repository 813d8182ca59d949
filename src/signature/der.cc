#include "signature/der.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kestrin::sig {

bool DerReader::Next(DerItem* item) {
  if (failed_ || rest_.size() < 2) return Fail();
  const uint8_t tag = rest_[0];
  if ((tag & 0x1F) == 0x1F) return Fail();  // high tag numbers: nothing here uses them
  size_t length = rest_[1];
  size_t header = 2;
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    // 0x80 is the indefinite length of BER; more than 4 length bytes
    // cannot describe anything that fits in a cabinet.
    if (count == 0 || count > 4 || rest_.size() < 2 + count) return Fail();
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | rest_[2 + i];
    header += count;
  }
  if (length > rest_.size() - header) return Fail();
  item->tag = tag;
  item->whole = rest_.subspan(0, header + length);
  item->contents = rest_.subspan(header, length);
  rest_ = rest_.subspan(header + length);
  return true;
}

bool DerReader::Expect(uint8_t tag, DerItem* item) {
  if (PeekTag() != tag) return Fail();
  return Next(item);
}

bool DerReader::Optional(uint8_t tag, DerItem* item) {
  if (failed_ || rest_.empty() || rest_[0] != tag) return false;
  return Next(item);
}

bool DerReader::Enter(uint8_t tag, DerReader* inner) {
  DerItem item;
  if (!Expect(tag, &item)) return false;
  *inner = DerReader(item.contents);
  return true;
}

bool ParseSingle(ByteSpan data, DerItem* item) {
  DerReader reader(data);
  return reader.Next(item) && reader.AtEnd();
}

std::string OidText(ByteSpan contents) {
  if (contents.empty() || (contents.back() & 0x80)) return {};
  std::string text;
  uint64_t value = 0;
  bool first = true;
  for (size_t i = 0; i < contents.size(); ++i) {
    if (value == 0 && contents[i] == 0x80) return {};  // leading zero group
    if (value > (UINT64_MAX >> 7)) return {};
    value = (value << 7) | (contents[i] & 0x7F);
    if (contents[i] & 0x80) continue;
    char part[48];
    if (first) {
      const uint64_t arc = value < 40 ? 0 : value < 80 ? 1 : 2;
      std::snprintf(part, sizeof part, "%llu.%llu", static_cast<unsigned long long>(arc),
                    static_cast<unsigned long long>(value - arc * 40));
      first = false;
    } else {
      std::snprintf(part, sizeof part, ".%llu", static_cast<unsigned long long>(value));
    }
    text += part;
    value = 0;
  }
  return text;
}

bool OidIs(const DerItem& item, std::string_view dotted) {
  return item.tag == kTagOid && OidText(item.contents) == dotted;
}

bool SmallInteger(const DerItem& item, int* value) {
  if (item.tag != kTagInteger || item.contents.empty() || item.contents.size() > 3 ||
      (item.contents[0] & 0x80)) {
    return false;
  }
  int v = 0;
  for (uint8_t b : item.contents) v = (v << 8) | b;
  *value = v;
  return true;
}

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Digits(ByteSpan text, size_t at, size_t count, int* value) {
  if (at + count > text.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

}  // namespace

bool ParseTime(const DerItem& item, int64_t* seconds) {
  const ByteSpan t = item.contents;
  int year = 0;
  size_t at = 0;
  if (item.tag == kTagUtcTime) {
    if (!Digits(t, 0, 2, &year)) return false;
    year += year < 50 ? 2000 : 1900;
    at = 2;
  } else if (item.tag == kTagGeneralizedTime) {
    if (!Digits(t, 0, 4, &year)) return false;
    at = 4;
  } else {
    return false;
  }
  int month, day, hour, minute, second = 0;
  if (!Digits(t, at, 2, &month) || !Digits(t, at + 2, 2, &day) || !Digits(t, at + 4, 2, &hour) ||
      !Digits(t, at + 6, 2, &minute)) {
    return false;
  }
  at += 8;
  if (at < t.size() && t[at] != 'Z') {
    if (!Digits(t, at, 2, &second)) return false;
    at += 2;
  }
  if (item.tag == kTagGeneralizedTime && at < t.size() && t[at] == '.') {
    ++at;
    const size_t digits = at;
    while (at < t.size() && t[at] >= '0' && t[at] <= '9') ++at;
    if (at == digits) return false;
  }
  if (at + 1 != t.size() || t[at] != 'Z') return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  *seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
             hour * 3600 + minute * 60 + second;
  return true;
}

std::string FormatTime(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from days (the inverse of DaysFromCivil).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02d:%02d:%02d UTC", static_cast<long long>(y),
                m, d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

namespace {

const char* AttributeShortName(const std::string& oid) {
  static const struct {
    const char* oid;
    const char* name;
  } kNames[] = {
      {"2.5.4.3", "CN"},       {"2.5.4.6", "C"},          {"2.5.4.7", "L"},
      {"2.5.4.8", "ST"},       {"2.5.4.10", "O"},         {"2.5.4.11", "OU"},
      {"2.5.4.5", "serialNumber"}, {"2.5.4.9", "street"}, {"2.5.4.17", "postalCode"},
      {"1.2.840.113549.1.9.1", "emailAddress"}, {"0.9.2342.19200300.100.1.25", "DC"},
  };
  for (const auto& n : kNames) {
    if (oid == n.oid) return n.name;
  }
  return nullptr;
}

// One byte: printable ASCII as it is, anything else as \xHH.
void AppendByte(std::string* out, uint8_t b) {
  if (b >= 0x20 && b < 0x7F) {
    out->push_back(static_cast<char>(b));
  } else {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", b);
    *out += hex;
  }
}

// One character as UTF-8, control characters escaped.
void AppendPrintable(std::string* out, uint32_t c) {
  if (c < 0x80) {
    AppendByte(out, static_cast<uint8_t>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x110000) {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    *out += "?";
  }
}

// A directory string as UTF-8 (control characters escaped; malformed
// UTF-8 shown byte by byte).
std::string StringValue(const DerItem& value) {
  std::string out;
  const ByteSpan s = value.contents;
  switch (value.tag) {
    case kTagBmpString:
      for (size_t i = 0; i + 1 < s.size(); i += 2) AppendPrintable(&out, (s[i] << 8) | s[i + 1]);
      return out;
    case kTagUniversalString:
      for (size_t i = 0; i + 3 < s.size(); i += 4) {
        AppendPrintable(&out, (uint32_t{s[i]} << 24) | (s[i + 1] << 16) | (s[i + 2] << 8) | s[i + 3]);
      }
      return out;
    case kTagUtf8String:
      for (size_t i = 0; i < s.size();) {
        const uint8_t b = s[i];
        const size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3
                                      : (b & 0xF8) == 0xF0 ? 4 : 0;
        bool good = n != 0 && i + n <= s.size();
        for (size_t k = 1; good && k < n; ++k) good = (s[i + k] & 0xC0) == 0x80;
        if (!good || n == 1) {
          AppendByte(&out, b);
          ++i;
          continue;
        }
        out.append(reinterpret_cast<const char*>(s.data() + i), n);
        i += n;
      }
      return out;
    default:  // PrintableString, IA5String, T61String and the like: bytes
      for (uint8_t b : s) AppendByte(&out, b);
      return out;
  }
}

// Calls visit(type oid, value) for each attribute of the Name, in order.
template <typename Visit>
bool ForEachAttribute(ByteSpan name, Visit visit) {
  DerItem whole;
  if (!ParseSingle(name, &whole) || whole.tag != kTagSequence) return false;
  DerReader rdns(whole.contents);
  while (!rdns.AtEnd()) {
    DerReader rdn;
    if (!rdns.Enter(kTagSet, &rdn)) return false;
    while (!rdn.AtEnd()) {
      DerReader attribute;
      DerItem type, value;
      if (!rdn.Enter(kTagSequence, &attribute) || !attribute.Expect(kTagOid, &type) ||
          !attribute.Next(&value)) {
        return false;
      }
      if (!visit(OidText(type.contents), value)) return true;
    }
  }
  return true;
}

}  // namespace

std::string NameText(ByteSpan name) {
  std::string text;
  const bool ok = ForEachAttribute(name, [&](const std::string& oid, const DerItem& value) {
    if (!text.empty()) text += ", ";
    const char* short_name = AttributeShortName(oid);
    text += short_name ? short_name : oid;
    text += '=';
    text += StringValue(value);
    return true;
  });
  return ok ? text : std::string("(unreadable name)");
}

std::string CommonName(ByteSpan name) {
  std::string cn;
  ForEachAttribute(name, [&](const std::string& oid, const DerItem& value) {
    if (oid != "2.5.4.3") return true;
    cn = StringValue(value);
    return false;
  });
  return cn;
}

std::string HexText(ByteSpan bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

// ---------------------------------------------------------------------------
// Writing

void AppendTlv(Bytes* out, uint8_t tag, ByteSpan contents) {
  out->push_back(tag);
  const size_t n = contents.size();
  if (n < 0x80) {
    out->push_back(static_cast<uint8_t>(n));
  } else {
    int count = 0;
    for (size_t v = n; v != 0; v >>= 8) ++count;
    out->push_back(static_cast<uint8_t>(0x80 | count));
    for (int i = count - 1; i >= 0; --i) out->push_back(static_cast<uint8_t>(n >> (8 * i)));
  }
  out->insert(out->end(), contents.begin(), contents.end());
}

Bytes Tlv(uint8_t tag, ByteSpan contents) {
  Bytes out;
  AppendTlv(&out, tag, contents);
  return out;
}

Bytes Concat(std::initializer_list<ByteSpan> parts) {
  Bytes out;
  for (ByteSpan p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes OidElement(std::string_view dotted) {
  std::vector<uint64_t> arcs;
  uint64_t value = 0;
  for (char c : dotted) {
    if (c == '.') {
      arcs.push_back(value);
      value = 0;
    } else {
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
  }
  arcs.push_back(value);
  Bytes contents;
  auto put = [&contents](uint64_t v) {
    uint8_t groups[10];
    int n = 0;
    do {
      groups[n++] = static_cast<uint8_t>(v & 0x7F);
      v >>= 7;
    } while (v != 0);
    while (n-- > 0) contents.push_back(static_cast<uint8_t>(groups[n] | (n ? 0x80 : 0)));
  };
  put(arcs[0] * 40 + (arcs.size() > 1 ? arcs[1] : 0));
  for (size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
  return Tlv(kTagOid, contents);
}

Bytes SetOf(std::vector<Bytes> elements) {
  std::sort(elements.begin(), elements.end(), [](const Bytes& a, const Bytes& b) {
    const size_t n = std::min(a.size(), b.size());
    const int order = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
    return order != 0 ? order < 0 : a.size() < b.size();
  });
  Bytes contents;
  for (const Bytes& e : elements) contents.insert(contents.end(), e.begin(), e.end());
  return Tlv(kTagSet, contents);
}

// ---------------------------------------------------------------------------
// PEM

namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool DecodeBase64(std::string_view text, Bytes* out) {
  uint32_t bits = 0;
  int count = 0;
  int padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int v = Base64Value(c);
    if (v < 0 || padding != 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if (++count == 4) {
      out->push_back(static_cast<uint8_t>(bits >> 16));
      out->push_back(static_cast<uint8_t>(bits >> 8));
      out->push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2) return false;
  if (count == 2) out->push_back(static_cast<uint8_t>(bits >> 4));
  if (count == 3) {
    out->push_back(static_cast<uint8_t>(bits >> 10));
    out->push_back(static_cast<uint8_t>(bits >> 2));
  }
  return true;
}

}  // namespace

bool DecodePem(std::string_view text, std::initializer_list<std::string_view> labels,
               std::vector<Bytes>* blocks) {
  size_t at = 0;
  for (;;) {
    const size_t begin = text.find("-----BEGIN ", at);
    if (begin == std::string_view::npos) return true;
    const size_t label_at = begin + 11;
    const size_t label_end = text.find("-----", label_at);
    if (label_end == std::string_view::npos) return true;
    const std::string_view label = text.substr(label_at, label_end - label_at);
    const size_t body = label_end + 5;
    std::string end_marker = "-----END ";
    end_marker.append(label).append("-----");
    const size_t end = text.find(end_marker, body);
    if (end == std::string_view::npos) return false;
    at = end + end_marker.size();
    if (std::find(labels.begin(), labels.end(), label) == labels.end()) continue;
    std::string_view encoded = text.substr(body, end - body);
    // Encrypted PEM carries headers ("Proc-Type: ...") before a blank line.
    if (encoded.find(':') != std::string_view::npos) return false;
    Bytes der;
    if (!DecodeBase64(encoded, &der) || der.empty()) return false;
    blocks->push_back(std::move(der));
  }
}

bool HasPemLabel(std::string_view text, std::string_view label) {
  std::string marker = "-----BEGIN ";
  marker.append(label).append("-----");
  return text.find(marker) != std::string_view::npos;
}

}  // namespace kestrin::sig
