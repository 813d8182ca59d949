#include "host/text_format.h"

#include <cstdarg>
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

}  // namespace kestrin
