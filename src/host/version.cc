#include "host/version.h"

#include <cstdint>

#include "host/number_text.h"

namespace kestrin {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Consumes one run of digits at `pos`; false when there is none.
bool Digits(std::string_view text, size_t* pos) {
  const size_t start = *pos;
  while (*pos < text.size() && IsDigit(text[*pos])) ++*pos;
  return *pos > start;
}

// Hands out the fields of a text one by one, skipping empty ones; an empty
// field means there are no more.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : text_(text) {}
  std::string_view Next() {
    while (pos_ < text_.size() && text_[pos_] == '.') ++pos_;
    const size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '.') ++pos_;
    return text_.substr(start, pos_ - start);
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

int IsValidVersion(std::string_view version) {
  if (version == "*") return 1;
  size_t pos = 0;
  for (int field = 1;; ++field) {
    if (field > 1 && pos < version.size() && version[pos] == '*') {
      return pos + 1 == version.size() ? 1 : -1;  // the wildcard ends the text
    }
    if (!Digits(version, &pos)) return -1;
    if (pos == version.size()) return 1;
    if (field == 3 || version[pos] != '.') return -1;  // the third field is the last
    ++pos;  // the "." before the next field
  }
}

int CompareVersion(std::string_view installed, std::string_view required) {
  if (required.empty()) return 0;
  if (IsValidVersion(required) == -1) return -1;
  FieldReader installed_fields(installed);
  FieldReader required_fields(required);
  std::string_view a = installed_fields.Next();
  std::string_view b = required_fields.Next();
  if (a.empty()) return 0;
  for (;;) {
    if (b.empty()) return 0;
    const int32_t va = ReadDecimal(a);
    const int32_t vb = ReadDecimal(b);
    if (va < vb) return -1;
    if (va > vb) return 0;
    a = installed_fields.Next();
    b = required_fields.Next();
    if (a.empty()) return 0;
  }
}

}  // namespace kestrin
