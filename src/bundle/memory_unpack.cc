#include "bundle/memory_unpack.h"

#include "bundle/crt_file_io.h"
#include "cabinet/fdi.h"
#include "host/safe_path.h"

namespace kestrin {
namespace {

// Output handles of members lie above this base (member i at base + i), far
// from the runtime's handles and below kDiscardHandle.
constexpr cab::INT_PTR kMemberHandleBase = 0x70000000;

struct Unpacking {
  std::vector<MemberFile>* members;
  std::string error;
};
// The unpacking under way on this thread: the decoder's write callback has
// no argument of the caller's.
thread_local Unpacking* current = nullptr;

bool IsMemberHandle(cab::INT_PTR hf) {
  return current != nullptr && hf >= kMemberHandleBase &&
         hf < kMemberHandleBase + static_cast<cab::INT_PTR>(current->members->size());
}

uint32_t MemoryWrite(cab::INT_PTR hf, const void* buffer, uint32_t count) {
  if (!IsMemberHandle(hf)) return CrtWrite(hf, buffer, count);
  (*current->members)[hf - kMemberHandleBase].second.append(static_cast<const char*>(buffer), count);
  return count;
}

int MemoryClose(cab::INT_PTR hf) { return IsMemberHandle(hf) ? 0 : CrtClose(hf); }

cab::INT_PTR Notify(cab::FDINOTIFICATIONTYPE kind, cab::PFDINOTIFICATION record) {
  switch (kind) {
    case cab::fdintCOPY_FILE: {
      const std::string name = record->psz1 != nullptr ? record->psz1 : "";
      std::string relative, reason;
      if (!SafeRelativePath(name, &relative, &reason)) {
        current->error = "refused member name \"" + name + "\": " + reason;
        return -1;
      }
      current->members->emplace_back(name, std::string());
      current->members->back().second.reserve(record->cb > 0 ? record->cb : 0);
      return kMemberHandleBase + static_cast<cab::INT_PTR>(current->members->size() - 1);
    }
    case cab::fdintCLOSE_FILE_INFO:
      return 1;
    case cab::fdintPARTIAL_FILE:
    case cab::fdintNEXT_CABINET:
      current->error = "the cabinet continues in another cabinet";
      return -1;
    default:
      return 0;
  }
}

}  // namespace

bool UnpackToMemory(const std::string& path, std::vector<MemberFile>* members,
                    std::string* error) {
  members->clear();
  cab::ERF erf{};
  cab::HFDI fdi = cab::FDICreate(CrtAlloc, CrtFree, CrtOpen, CrtRead, MemoryWrite, MemoryClose,
                                 CrtSeek, cab::cpu80386, &erf);
  if (fdi == nullptr) {
    *error = "cannot create the cabinet decoder";
    return false;
  }
  Unpacking unpacking{members, {}};
  current = &unpacking;
  // The decoder joins directory and name itself: hand it the whole path.
  const bool ok = cab::FDICopy(fdi, path.c_str(), "", 0, Notify, nullptr, nullptr);
  current = nullptr;
  cab::FDIDestroy(fdi);
  if (ok && unpacking.error.empty()) return true;
  *error = path + ": " +
           (!unpacking.error.empty() ? unpacking.error : cab::FDIErrorText(erf.erfOper));
  members->clear();
  return false;
}

}  // namespace kestrin
