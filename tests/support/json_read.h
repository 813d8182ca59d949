// JSON documents read back by an independent parser (Python's json module),
// for tests of what kestrinctl writes.
#ifndef KESTRIN_TESTS_SUPPORT_JSON_READ_H_
#define KESTRIN_TESTS_SUPPORT_JSON_READ_H_

#include <map>
#include <string>

namespace kestrin::testing {

// The document flattened into paths and values: {"a":[{"b":1}]} gives
// "a.0.b" -> "1"; strings as they are, true/false/null as written in JSON,
// an empty array or object as "[]" or "{}". Text that does not parse fails
// the current test and gives an empty map.
std::map<std::string, std::string> ReadJson(const std::string& text);

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_JSON_READ_H_
