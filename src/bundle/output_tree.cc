#include "bundle/output_tree.h"


namespace kestrin {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool SplitMemberName(std::string_view name, std::vector<std::string>* components,
                     std::string* why) {
  components->clear();
  if (name.empty()) {
    *why = "the name is empty";
    return false;
  }
  if (name[0] == '\\' || name[0] == '/') {
    *why = "the name is absolute";
    return false;
  }
  if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':') {
    *why = "the name starts with a drive letter";
    return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view part = name.substr(start, end - start);
    if (part == "..") {
      *why = "the name climbs out of its folder with \"..\"";
      components->clear();
      return false;
    }
    if (!part.empty() && part != ".") components->emplace_back(part);
    start = end + 1;
  }
  if (components->empty()) {
    *why = "the name holds no file name";
    return false;
  }
  return true;
}

}  // namespace kestrin
