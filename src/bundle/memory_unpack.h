// Unpacking a cabinet into memory: every member's name and content, with no
// file written. For what must read a bundle without leaving a trace (a
// planned run, the description of an archived bundle).
#ifndef KESTRIN_BUNDLE_MEMORY_UNPACK_H_
#define KESTRIN_BUNDLE_MEMORY_UNPACK_H_

#include <string>
#include <utility>
#include <vector>

namespace kestrin {

// A member as the cabinet names it ("\" between folders) and its bytes.
using MemberFile = std::pair<std::string, std::string>;

// Decodes every member of the cabinet at `path` (a single cabinet; a set
// continued in further cabinets is refused). False with `error` set when it
// cannot be opened or decoded, or a member's name is absolute or climbs out
// with "..".
bool UnpackToMemory(const std::string& path, std::vector<MemberFile>* members,
                    std::string* error);

}  // namespace kestrin

#endif  // KESTRIN_BUNDLE_MEMORY_UNPACK_H_
