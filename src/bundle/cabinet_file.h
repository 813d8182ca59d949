// CCabinetFile: the program's handle on one bundle cabinet.
//
// It opens the cabinet, makes a decoder context for it, lists the names of
// the files inside and extracts all of them or one named file into a target
// folder, giving each file the date, time and read-only attribute stored in
// the cabinet. Member names that would lead outside the target folder are
// refused (reported, nothing written for them, the extraction fails).
//
// The decoder's notification callbacks find the object through the one
// process-wide CurrentCabinetFile pointer: one extraction at a time.
#ifndef KESTRIN_BUNDLE_CABINET_FILE_H_
#define KESTRIN_BUNDLE_CABINET_FILE_H_

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cabinet/fdi.h"

namespace kestrin {

// The list of cabinet member names that drives an extraction. Every name is
// kept in lower case, so lookups ignore case; order and duplicates are kept.
class CCabContentStringList {
 public:
  // Adds the name in lower case.
  void AddTailLower(std::string_view name);
  // Whether the lower-case form of `name` is in the list.
  bool FindLower(std::string_view name) const;
  void RemoveAll();
  bool IsEmpty() const { return names_.empty(); }
  size_t GetCount() const { return names_.size(); }
  const std::list<std::string>& Names() const { return names_; }

 private:
  std::list<std::string> names_;
  std::unordered_map<std::string, int> counts_;  // lookup index over names_
};

// Codes of LastErrorCode() beside the decoder's FDIERROR values: causes the
// notification callbacks found themselves.
inline constexpr int kCabErrorUnsafeName = 100;  // a member name leads outside the target
inline constexpr int kCabErrorOutput = 101;      // an output file could not be made or written
inline constexpr int kCabErrorMissingPart = 102;  // a member begins in a cabinet not at hand

// Open flags of CFile that the bundle operations pass: read access with
// deny-write sharing.
inline constexpr unsigned kCabOpenReadShareDenyWrite = 0x20;

class CCabinetFile {
 public:
  CCabinetFile();
  ~CCabinetFile();
  CCabinetFile(const CCabinetFile&) = delete;
  CCabinetFile& operator=(const CCabinetFile&) = delete;

  // Opens the cabinet file and creates the decoder context. False when the
  // file cannot be opened or the context cannot be created (see Erf()).
  bool Open(const std::string& file_name, unsigned open_flags = kCabOpenReadShareDenyWrite);
  // Releases the decoder context and closes the file.
  void Close();

  // Lists the cabinet's member names (lower case) into the content list.
  bool DetermineContents();
  // Extracts the members of the content list; returns the number of files
  // written or -2 when the copy failed or a member name was refused.
  int ExtractDeterminedContents();
  // Lists the cabinet unless it was listed already, then extracts every
  // member into `target_directory`. Returns the count, -1 when listing
  // failed, -2 when extracting failed.
  int ExtractAll(const std::string& target_directory);
  // Extracts the member called `file_name` (letter case ignored) into
  // `target_directory`. Returns the count (0: no such member) or -2.
  int ExtractFile(const std::string& file_name, const std::string& target_directory);

  // Tool mode: every member offered by the decoder is accepted, whether
  // listed or not (files that continue from earlier cabinets of a set
  // included), and with `test_only` nothing is written. `first_of_set` false
  // means the files continued from a previous cabinet were extracted already
  // by the copy of that cabinet; true makes such a file a failure (its
  // beginning is missing). Unlike ExtractAll it does not stop at the first
  // damaged file: the copy goes on past it (and past the rest of its folder
  // when the data are damaged), within the copy while it is still in this
  // cabinet, else in a copy run again; so every file that can be extracted
  // is. Entries in folders the cabinet does not have are failures too.
  // Returns the number of files written, or -2 when anything failed.
  int ExtractEveryFile(const std::string& target_directory, bool test_only, bool first_of_set);

  const cab::ERF& Erf() const { return erf_; }
  bool ContentsDetermined() const { return contents_determined_; }
  int FilesExtracted() const { return files_extracted_; }
  const std::string& TargetDirectory() const { return target_directory_; }
  const std::string& FilePath() const { return file_path_; }
  const CCabContentStringList& Contents() const { return contents_; }
  // What went wrong first in the last operation, in words, naming the
  // member or output file concerned (the cabinet is FilePath()); empty when
  // nothing did.
  const std::string& LastError() const { return last_error_; }
  // The error code for LastError(): the decoder's FDIERROR code or one of
  // the kCabError codes above.
  int LastErrorCode() const { return last_error_code_; }
  // Every failure of the last operation, in order (at most 1000 kept; one
  // with the same code and text as a kept one is not repeated).
  struct Failure {
    int code;
    std::string text;
  };
  const std::vector<Failure>& Failures() const { return failures_; }
  // Called with each failure as the operation meets it, those past the 1000
  // kept too, for a caller that reports as it goes.
  void OnFailure(std::function<void(const Failure&)> report) { on_failure_ = std::move(report); }
  // Number of members refused by the last extraction.
  int RefusedNames() const { return refused_names_; }

  // The decoder's notification callbacks.
  static cab::INT_PTR CabListNotify(cab::FDINOTIFICATIONTYPE kind, cab::PFDINOTIFICATION record);
  static cab::INT_PTR CabCopyNotify(cab::FDINOTIFICATIONTYPE kind, cab::PFDINOTIFICATION record);

 private:
  class OutputState;
  bool RunCopy(cab::PFNFDINOTIFY notify);
  // Records why the last copy failed.
  void ReportCopyFailure();
  // After a failed copy of the tool mode: gives up the entry it failed at,
  // and the rest of its folder unless the output was at fault. False when
  // it failed at no entry or at one done or given up already: a copy run
  // again could get no further.
  bool GiveUpFailedEntry();
  static bool CabGoOn(void* pv);
  void ListEntries();
  bool Skippable(size_t index) const;
  void FeedNextEntry(cab::PFDINOTIFICATION record);
  void SetError(int code, std::string text);
  // Clears the counters and errors of the last extraction; false (with the
  // error set) when no target folder is given.
  bool BeginExtraction();
  cab::INT_PTR OfferedFile(cab::PFDINOTIFICATION record);
  cab::INT_PTR NextCabinet(cab::PFDINOTIFICATION record);
  cab::INT_PTR OpenOutput(cab::PFDINOTIFICATION record);
  cab::INT_PTR CloseOutput(cab::PFDINOTIFICATION record);

  int file_fd_ = -1;  // the cabinet as opened by Open; keeps it busy
  std::string file_path_;
  cab::HFDI fdi_ = nullptr;
  bool fdi_created_ = false;
  cab::ERF erf_{};
  CCabContentStringList contents_;
  bool contents_determined_ = false;
  int files_extracted_ = 0;
  std::string target_directory_;

  // Extraction state.
  OutputState* output_ = nullptr;
  bool accept_every_file_ = false;
  bool test_only_ = false;
  bool first_of_set_ = true;
  // Tool mode bookkeeping: entries numbered in the order the decoder offers
  // them within one copy.
  int ordinal_ = 0;
  uint16_t current_folder_ = 0;
  bool output_failed_ = false;
  // By ordinal: written, given up, or neither. By folder: the first ordinal
  // skipped for its damaged data, 0 for none. Flat, so that a cabinet of
  // 65535 damaged files costs a few hundred KiB rather than tree nodes.
  enum : uint8_t { kOrdinalDone = 1, kOrdinalSkipped = 2 };
  std::vector<uint8_t> ordinal_marks_;
  std::vector<int> dead_folders_;
  bool Marked(int ordinal) const {
    return ordinal >= 0 && static_cast<size_t>(ordinal) < ordinal_marks_.size() && ordinal_marks_[ordinal] != 0;
  }
  void Mark(int ordinal, uint8_t mark);
  // Whether `ordinal` comes at or after the first skipped entry of `folder`.
  bool InDeadFolder(uint16_t folder, int ordinal) const {
    return folder < dead_folders_.size() && dead_folders_[folder] != 0 && ordinal >= dead_folders_[folder];
  }
  // Tool mode feeds the decoder one listed entry at a time (through its
  // enumeration notification), so that a copy run again after a damaged
  // file starts at the next entry instead of at the first.
  struct ListedEntry {
    uint32_t offset;  // of the entry in the cabinet
    uint16_t folder;  // as stored
    bool in_range;    // names a folder of the cabinet, or spans
  };
  std::vector<ListedEntry> listed_;
  bool feed_ = false;      // listed_ holds the whole file list
  size_t next_entry_ = 0;  // index in listed_ to feed next
  bool moved_on_ = false;  // this copy went on into the next cabinet
  int continuation_ = 0;   // entries offered from the next cabinet in this copy
  int refused_names_ = 0;
  int last_error_code_ = 0;
  std::string last_error_;
  std::vector<Failure> failures_;
  std::unordered_multimap<std::string, int> kept_failures_;  // text -> code of each in failures_
  std::function<void(const Failure&)> on_failure_;
};

// The path of the cabinet `name` that a cabinet in `directory` (ending with
// "/") names as the next or previous one of its set. The name must be a
// plain file name of that folder: no folder separator ("/" or "\"), no
// drive letter or other ":", no ".." and nothing else Windows could not
// have named a file with; and it must resolve, letter case ignored, to a
// regular file there. Otherwise false, with the reason in `why` (and, when
// there is simply no such file, `*missing` set).
bool SiblingCabinetPath(const std::string& directory, const std::string& name, std::string* path,
                        std::string* why, bool* missing = nullptr);

// The CCabinetFile whose decoder copy is running, or null.
extern CCabinetFile* CurrentCabinetFile;

}  // namespace kestrin

#endif  // KESTRIN_BUNDLE_CABINET_FILE_H_
