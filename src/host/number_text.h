// Numbers in texts, read the way the C library and the Windows calls read
// them. One reader for every caller that needs atoi's, atol's or scanf's
// "%d" reading, and one for names that end in a number written with "%d".
#ifndef KESTRIN_HOST_NUMBER_TEXT_H_
#define KESTRIN_HOST_NUMBER_TEXT_H_

#include <cstddef>
#include <optional>
#include <string_view>

namespace kestrin {

// A decimal number as atoi, atol (32-bit long) and "%d" read it: white space
// skipped, an optional sign, then digits up to the first other character.
// Values beyond the int range stop at its ends. From `*pos` when given, which
// then moves past the number. Without digits the value is 0 and, where a
// caller must tell that apart (scanf), `*digits` is false.
int ReadDecimal(std::string_view text, size_t* pos = nullptr, bool* digits = nullptr);

// The number n of `name` = `stem` (letters ignoring case) followed by n as
// "%d" writes it: no sign, no leading zero, at least one digit, at most
// INT_MAX. Nothing for any other name.
std::optional<int> NumberAfterStem(std::string_view name, std::string_view stem);

}  // namespace kestrin

#endif  // KESTRIN_HOST_NUMBER_TEXT_H_
