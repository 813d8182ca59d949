#include "host/number_text.h"

#include <climits>
#include <cstdint>

#include "host/path_resolve.h"

namespace kestrin {

int ReadDecimal(std::string_view text, size_t* pos, bool* digits) {
  size_t i = pos != nullptr ? *pos : 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t first = i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT_MAX} + 1) value = int64_t{INT_MAX} + 1;
  }
  if (digits != nullptr) *digits = i > first;
  if (pos != nullptr && i > first) *pos = i;
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

std::optional<int> NumberAfterStem(std::string_view name, std::string_view stem) {
  if (name.size() <= stem.size() || name.size() > stem.size() + 10) return std::nullopt;
  if (!EqualsIgnoreCase(name.substr(0, stem.size()), stem)) return std::nullopt;
  const std::string_view written = name.substr(stem.size());
  if (written[0] == '0') return std::nullopt;
  int64_t number = 0;
  for (const char c : written) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number > INT_MAX) return std::nullopt;
  return static_cast<int>(number);
}

}  // namespace kestrin
