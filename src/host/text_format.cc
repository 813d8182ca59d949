#include "host/text_format.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace kestrin {

std::string StringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = StringPrintfV(format, args);
  va_end(args);
  return text;
}

std::string StringPrintfV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = vsnprintf(small, sizeof small, format, args);
  std::string text;
  if (n < 0) {
    text = format;
  } else if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    vsnprintf(text.data(), text.size(), format, copy);
    text.resize(static_cast<size_t>(n));
  }
  va_end(copy);
  return text;
}

size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(at);
  size_t length;
  uint32_t code;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2, code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3, code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4, code = c & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(at + k) & 0x3F);
  }
  if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code < 0xE000))) ||
      (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
    return 0;
  }
  return length;
}

}  // namespace kestrin
