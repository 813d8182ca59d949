// INI files on POSIX: Kestrin's own engine over files that are replaced
// atomically under a sidecar lock (host/atomic_file.h), found ignoring case.
#include "host/document_ini_files.h"
#include "host/path_resolve.h"

namespace kestrin {
namespace {

class AtomicTextFiles : public TextFileStore {
 public:
  FileResult Read(const std::string& path, std::string& content) override {
    return ReadWholeFile(ResolvePath(path), content);
  }
  FileResult Update(
      const std::string& path,
      const std::function<EditAction(std::string& content, bool exists)>& edit) override {
    return UpdateFileLocked(ResolvePath(path), edit);
  }
};

}  // namespace

IniFiles& SystemIniFiles() {
  static AtomicTextFiles store;
  static DocumentIniFiles files(store);
  return files;
}

}  // namespace kestrin
