#ifndef KESTRIN_CTL_JSON_WRITER_H_
#define KESTRIN_CTL_JSON_WRITER_H_

// A small writer of JSON text for kestrinctl's --json output: objects,
// arrays, strings, numbers and booleans, with commas and escapes placed by
// the writer. Strings are bytes from the Korvane (often a Windows code page,
// not UTF-8): bytes that are not valid UTF-8 are written as \u00XX, the
// Latin-1 character of that byte, so the output is always valid JSON.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin::ctl {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the object being written.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view value);
  JsonWriter& Number(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // The text so far, one line.
  const std::string& text() const { return text_; }

 private:
  void BeforeValue();
  std::string text_;
  // Per open object or array: whether it has a member or element yet.
  std::vector<bool> has_items_;
  bool after_key_ = false;
};

// `value` as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view value);

}  // namespace kestrin::ctl

#endif  // KESTRIN_CTL_JSON_WRITER_H_
