// The platform's part of the journal of a run (host/journal.h): a text file
// that is only appended to and can be made durable, and the keeping of a
// file's old content beside it.
#ifndef KESTRIN_HOST_JOURNAL_FILE_H_
#define KESTRIN_HOST_JOURNAL_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrin {

class JournalFile {
 public:
  JournalFile() = default;
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;
  ~JournalFile() { Close(); }

  // Opens `path` for appending, creating it. False (error set) when it cannot.
  bool Open(const std::string& path, std::string* error);
  bool is_open() const { return handle_ != -1; }
  // Appends `text` (a write of its own, so a killed process loses nothing
  // that Append returned from). Not yet durable: see Sync.
  bool Append(std::string_view text);
  // Puts everything appended so far on disk.
  bool Sync();
  void Close();

 private:
  intptr_t handle_ = -1;
};

// Keeps the content of the existing file `source` as the new file `copy`:
// a second link to the same file where the file system allows it (a later
// rename over `source` or its deletion leaves that content alone), a copy
// otherwise. False (error set) when neither works.
bool KeepFileContent(const std::string& source, const std::string& copy, std::string* error);

// Whether the system FileSystem leaves every copy, a new file's as well as
// the replacement of an existing one, pending until FinishCopies (so a
// journal flushed there is early enough).
bool CopiesWaitForFinish();

}  // namespace kestrin

#endif  // KESTRIN_HOST_JOURNAL_FILE_H_
