// IniFiles on Kestrin's own INI engine (host/ini_document.h): each read
// parses the file's bytes, each change is one locked read-modify-write that
// replaces the whole file and changes only the lines it must. Where the
// bytes come from is a TextFileStore: the disk (the POSIX back end, with
// atomic, locked replacement) or memory (the fake host of the tests).
#ifndef KESTRIN_HOST_DOCUMENT_INI_FILES_H_
#define KESTRIN_HOST_DOCUMENT_INI_FILES_H_

#include <functional>
#include <string>

#include "host/atomic_file.h"
#include "host/host.h"
#include "host/ini_document.h"

namespace kestrin {

// Whole files of text: read, and read-modify-write under a lock.
class TextFileStore {
 public:
  virtual ~TextFileStore() = default;
  // Reads the whole file (kMissing for one that does not exist).
  virtual FileResult Read(const std::string& path, std::string& content) = 0;
  // As UpdateFileLocked (host/atomic_file.h) does.
  virtual FileResult Update(
      const std::string& path,
      const std::function<EditAction(std::string& content, bool exists)>& edit) = 0;
};

class DocumentIniFiles : public IniFiles {
 public:
  explicit DocumentIniFiles(TextFileStore& store) : store_(store) {}

  std::optional<std::string> GetString(const std::string& path, std::string_view section,
                                       std::string_view key, IniResult* result) override;
  std::optional<int> GetInt(const std::string& path, std::string_view section, std::string_view key,
                            IniResult* result) override;
  std::vector<IniLine> GetSection(const std::string& path, std::string_view section,
                                  IniResult* result) override;
  IniEntryList GetSectionValues(const std::string& path, std::string_view section,
                                IniResult* result) override;
  std::vector<std::string> GetKeyNames(const std::string& path, std::string_view section,
                                       IniResult* result) override;
  std::vector<std::string> GetSectionNames(const std::string& path, IniResult* result) override;
  bool HasSection(const std::string& path, std::string_view section, IniResult* result) override;
  bool SetValues(const std::string& path, std::string_view section, const IniEntryList& entries,
                 IniResult* result) override;
  bool DeleteKey(const std::string& path, std::string_view section, std::string_view key,
                 IniResult* result) override;
  bool DeleteKeys(const std::string& path, std::string_view section,
                  const std::vector<std::string>& keys, IniResult* result) override;
  bool DeleteSection(const std::string& path, std::string_view section, IniResult* result) override;

 private:
  // The parsed file; a missing or unreadable one reads as empty.
  IniDocument Load(const std::string& path, IniResult* result);
  bool Edit(const std::string& path, IniResult* result,
            const std::function<bool(IniDocument&)>& edit);

  TextFileStore& store_;
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_DOCUMENT_INI_FILES_H_
