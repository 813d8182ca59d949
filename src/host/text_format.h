// printf-style formatting into a std::string, for the report texts.
#ifndef KESTRIN_HOST_TEXT_FORMAT_H_
#define KESTRIN_HOST_TEXT_FORMAT_H_

#include <cstdarg>
#include <string>

namespace kestrin {

// Formats like snprintf, without a length limit.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StringPrintfV(const char* format, va_list args);

}  // namespace kestrin

#endif  // KESTRIN_HOST_TEXT_FORMAT_H_
