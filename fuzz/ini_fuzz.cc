// Fuzzes the INI engine and the registry store parser on the same bytes.
// INI: parse, serialize, re-parse (a second round must give the same bytes),
// then edit with SetValue and DeleteSection on names the document holds and on
// new ones, checking that every line the edit is not about stays byte for byte
// and that the value set reads back. Registry store: Parse either fails with a
// line number inside the text or its Serialize() parses back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "host/ini_document.h"
#include "host/registry_store.h"

using kestrin::IniDocument;
using kestrin::IniTrim;
using kestrin::RegistryStore;

namespace {

// The document's text without mark, as UTF-8.
std::string Text(const IniDocument& doc) {
  const std::string bytes = doc.Serialize();
  switch (doc.encoding()) {
    case IniDocument::Encoding::kBytes:
      return bytes;
    case IniDocument::Encoding::kUtf8Bom:
      return bytes.substr(3);
    case IniDocument::Encoding::kUtf16Le:
      return kestrin::Utf16ToUtf8(std::string_view(bytes).substr(2), false);
    case IniDocument::Encoding::kUtf16Be:
      return kestrin::Utf16ToUtf8(std::string_view(bytes).substr(2), true);
  }
  std::abort();
}

struct Line {
  std::string text;
  std::string eol;
};

std::vector<Line> Lines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    size_t eol = 0;
    if (end < text.size()) eol = text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    lines.push_back({std::string(text.substr(pos, end - pos)), std::string(text.substr(end, eol))});
    pos = end + eol;
  }
  return lines;
}

// Whether old line a survives as b: same bytes, except that a last line
// without a line end may gain one when lines are added after it.
bool Kept(const Line& a, const Line& b) {
  return a.text == b.text && (a.eol == b.eol || a.eol.empty());
}

// Lengths of the common head and tail of before and after (not overlapping).
void CommonEnds(const std::vector<Line>& before, const std::vector<Line>& after, size_t& head,
                size_t& tail) {
  const size_t shorter = before.size() < after.size() ? before.size() : after.size();
  head = 0;
  while (head < shorter && Kept(before[head], after[head])) ++head;
  tail = 0;
  while (tail < shorter - head &&
         Kept(before[before.size() - 1 - tail], after[after.size() - 1 - tail])) {
    ++tail;
  }
}

void CheckSetValue(const IniDocument& base, std::string_view section, std::string_view key,
                   std::string_view value) {
  IniDocument doc = base;
  const bool changed = doc.SetValue(section, key, value);
  const std::vector<Line> before = Lines(Text(base));
  const std::vector<Line> after = Lines(Text(doc));
  if (!changed && doc.Serialize() != base.Serialize()) std::abort();
  size_t head = 0;
  size_t tail = 0;
  CommonEnds(before, after, head, tail);
  // One line replaced, or a key line (and perhaps its header) added.
  if (after.size() < before.size()) std::abort();
  if (before.size() - head - tail > 1 || after.size() - head - tail > 2) std::abort();
  const auto read = IniDocument::Parse(doc.Serialize()).FindValue(section, key);
  if (!read || *read != IniTrim(value)) std::abort();
}

void CheckDeleteSection(const IniDocument& base, std::string_view section) {
  IniDocument doc = base;
  const bool changed = doc.DeleteSection(section);
  const std::vector<Line> before = Lines(Text(base));
  const std::vector<Line> after = Lines(Text(doc));
  if (!changed) {
    if (doc.Serialize() != base.Serialize()) std::abort();
    return;
  }
  size_t head = 0;
  size_t tail = 0;
  CommonEnds(before, after, head, tail);
  // One run of lines removed, nothing else touched.
  if (after.size() >= before.size() || head + tail != after.size()) std::abort();
}

void FuzzIni(std::string_view bytes) {
  const IniDocument first = IniDocument::Parse(bytes);
  const std::string once = first.Serialize();
  if (first.encoding() == IniDocument::Encoding::kBytes ||
      first.encoding() == IniDocument::Encoding::kUtf8Bom) {
    if (once != bytes) std::abort();
  }
  const IniDocument base = IniDocument::Parse(once);
  if (base.Serialize() != once) std::abort();

  // A value made of the input's letters and digits, so that it is one line.
  std::string value = " v";
  for (size_t i = 0; i < bytes.size() && value.size() < 12; i += 7) {
    const char c = bytes[i];
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) value += c;
  }
  std::vector<std::string> sections = {""};
  for (const std::string& name : base.SectionNames()) {
    if (sections.size() < 4) sections.push_back(name);
  }
  for (const std::string& section : sections) {
    const std::vector<std::string> keys = base.KeyNames(section);
    if (!keys.empty()) {
      CheckSetValue(base, section, keys.front(), value);
      CheckSetValue(base, section, keys.back(), "");
    }
    CheckSetValue(base, section, "NewKey", value);
    CheckDeleteSection(base, section);
  }
  CheckSetValue(base, "New Section", "Key", value);
  CheckDeleteSection(base, "No Such Section");
}

void FuzzRegistry(std::string_view bytes) {
  RegistryStore store;
  size_t error_line = 0;
  std::string error_what;
  if (!store.Parse(bytes, error_line, error_what)) {
    if (error_line == 0 || error_what.empty()) std::abort();
    // The line must exist: count the lines of the text in any encoding.
    size_t lines = 1;
    for (char c : bytes) lines += c == '\n';
    if (error_line > lines) std::abort();
    if (!store.KeyPaths().empty()) std::abort();
    return;
  }
  const std::string once = store.Serialize();
  RegistryStore again;
  if (!again.Parse(once, error_line, error_what)) std::abort();
  if (again.Serialize() != once) std::abort();
  if (again.KeyPaths() != store.KeyPaths()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  FuzzIni(bytes);
  FuzzRegistry(bytes);
  return 0;
}
