#include "host/safe_path.h"

#include <utility>

#include "host/path_resolve.h"

namespace kestrin {
namespace {

bool Refuse(std::string* reason, const char* text) {
  if (reason != nullptr) *reason = text;
  return false;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool SafeRelativePath(std::string_view name, std::string* relative, std::string* reason) {
  relative->clear();
  if (name.empty()) return Refuse(reason, "empty name");
  if (IsSeparator(name.front())) return Refuse(reason, "absolute name");
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == ':') return Refuse(reason, "drive letter or stream name");
    if (u < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
      return Refuse(reason, "character not allowed in a file name");
    }
  }
  std::string out;
  size_t pos = 0;
  while (pos <= name.size()) {
    size_t end = pos;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    std::string_view comp = name.substr(pos, end - pos);
    pos = end + 1;
    if (comp.empty() || comp == ".") continue;
    if (comp.find_first_not_of(". ") == std::string_view::npos) {
      return Refuse(reason, "parent folder reference");
    }
    while (comp.back() == '.' || comp.back() == ' ') comp.remove_suffix(1);
    if (!out.empty()) out += kPathSeparator;
    out.append(comp);
  }
  if (out.empty()) return Refuse(reason, "name names no file");
  *relative = std::move(out);
  return true;
}

}  // namespace kestrin
