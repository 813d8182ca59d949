// printf-style formatting into a std::string, for the report texts, and
// the UTF-8 check of texts that may as well be in a Windows code page.
#ifndef KESTRIN_HOST_TEXT_FORMAT_H_
#define KESTRIN_HOST_TEXT_FORMAT_H_

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrin {

// Formats like snprintf, without a length limit.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StringPrintfV(const char* format, va_list args);

// The length of the well-formed UTF-8 sequence that starts at text[at] (no
// overlong forms, no surrogates, nothing above U+10FFFF), 0 when there is
// none there. `at` must be below text.size().
size_t Utf8SequenceLength(std::string_view text, size_t at);

}  // namespace kestrin

#endif  // KESTRIN_HOST_TEXT_FORMAT_H_
