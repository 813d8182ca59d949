#include "bundle/cabinet_file.h"

#include <errno.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bundle/crt_file_io.h"
#include "bundle/output_tree.h"
#include "bundle/report_sink.h"
#include "host/file_system.h"
#include "host/path_resolve.h"
#include "host/safe_path.h"

namespace kestrin {

CCabinetFile* CurrentCabinetFile = nullptr;

namespace {

void Trace(const char* text) { Report(text, kCabinetTraceLevel, false); }

// A member name for a message: bytes below 0x20 and 0x7f as \xHH.
std::string Printable(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Sets CurrentCabinetFile for the lifetime of a decoder copy.
class CurrentFileScope {
 public:
  explicit CurrentFileScope(CCabinetFile* file) { CurrentCabinetFile = file; }
  ~CurrentFileScope() { CurrentCabinetFile = nullptr; }
};

// The cabinet's folder (ending with a separator) and file name as the
// decoder takes them (DecoderFolder: a long folder through a descriptor).
class DecoderPath {
 public:
  explicit DecoderPath(const std::string& file_path) {
    name_ = FileNameOf(file_path);
    directory_ =
        DecoderFolder(file_path.substr(0, file_path.size() - name_.size()), name_.size(), &dir_fd_);
  }
  ~DecoderPath() { ReleaseDecoderFolder(dir_fd_); }
  DecoderPath(const DecoderPath&) = delete;
  DecoderPath& operator=(const DecoderPath&) = delete;
  const std::string& name() const { return name_; }
  const std::string& directory() const { return directory_; }

 private:
  std::string name_;
  std::string directory_;
  int dir_fd_ = -1;
};

}  // namespace

bool SiblingCabinetPath(const std::string& directory, const std::string& name, std::string* path,
                        std::string* why, bool* missing) {
  if (missing != nullptr) *missing = false;
  std::string relative;
  std::string reason;
  if (name.empty()) {
    *why = "no cabinet is named";
    return false;
  }
  if (name.find_first_of("/\\") != std::string::npos) {
    *why = "the name holds a folder separator";
    return false;
  }
  if (!SafeRelativePath(name, &relative, &reason)) {
    *why = "the name is not a file name of the cabinet's folder (" + reason + ")";
    return false;
  }
  FileSystem& fs = SystemFileSystem();
  const std::string resolved = fs.Resolve(directory + name);
  const FileStatus status = fs.Stat(resolved);
  if (!status.exists) {
    *why = "no such file";
    if (missing != nullptr) *missing = true;
    return false;
  }
  if (!status.is_regular) {
    *why = status.is_directory ? "it is a folder"
                               : "it is not a regular file (a FIFO, device or socket)";
    return false;
  }
  *path = resolved;
  return true;
}

// ---------------------------------------------------------------------------
// CCabContentStringList

void CCabContentStringList::AddTailLower(std::string_view name) {
  names_.push_back(AsciiLower(name));
  ++counts_[names_.back()];
}

bool CCabContentStringList::FindLower(std::string_view name) const {
  return counts_.count(AsciiLower(name)) != 0;
}

void CCabContentStringList::RemoveAll() {
  names_.clear();
  counts_.clear();
}

// ---------------------------------------------------------------------------
// CCabinetFile

// What one extraction writes into and is writing now.
class CCabinetFile::OutputState {
 public:
  explicit OutputState(const std::string& target) : tree(target) {}
  OutputTree tree;
  std::string current_path;    // file being written, for messages
  std::string current_member;  // its name in the cabinet
};

CCabinetFile::CCabinetFile() = default;

CCabinetFile::~CCabinetFile() { Close(); }

bool CCabinetFile::Open(const std::string& file_name, unsigned open_flags) {
  (void)open_flags;  // read access; POSIX has no sharing modes to ask for
  Close();
  last_error_.clear();
  last_error_code_ = 0;
  failures_.clear();
  kept_failures_.clear();
  file_path_ = ResolvePath(file_name);
  const cab::INT_PTR hf = CrtOpen(file_path_.c_str(), kCrtBinary | kCrtRdOnly, 0);
  if (hf == -1) {
    const int err = errno;
    const char* why = CrtNotRegularText(err);
    SetError(cab::FDIERROR_CABINET_OPEN,
             std::string("cannot open the file: ") + (why != nullptr ? why : std::strerror(err)));
    Trace("CFile::Open() FAILED. :-(");
    return false;
  }
  file_fd_ = FdFromHandle(hf);
  Trace("CFile::Open() successfull. Now Calling CreateFDIContext()...");
  fdi_ = cab::FDICreate(CrtAlloc, CrtFree, CrtOpen, CrtRead, CrtWrite, CrtClose, CrtSeek,
                        cab::cpu80386, &erf_);
  fdi_created_ = true;
  if (erf_.fError) {
    ReportF(kCabinetTraceLevel, false, "ERROR in CreateFDIContext: Operation=%d, Type=%d",
            erf_.erfOper, erf_.erfType);
    SetError(erf_.erfOper, std::string("cannot create the cabinet decoder: ") +
                               cab::FDIErrorText(erf_.erfOper));
    return false;
  }
  return true;
}

void CCabinetFile::Close() {
  if (fdi_created_) {
    fdi_created_ = false;
    if (fdi_ != nullptr) cab::FDIDestroy(fdi_);
    fdi_ = nullptr;
  }
  if (file_fd_ >= 0) {
    CrtClose(HandleFromFd(file_fd_));
    file_fd_ = -1;
  }
}

void CCabinetFile::SetError(int code, std::string text) {
  const auto [first, last] = kept_failures_.equal_range(text);
  for (auto it = first; it != last; ++it) {
    if (it->second == code) return;  // the same cause, met again
  }
  Failure failure{code, std::move(text)};
  if (on_failure_) on_failure_(failure);
  if (failures_.size() < 1000) {
    kept_failures_.emplace(failure.text, code);
    failures_.push_back(failure);
  }
  // The first cause is the interesting one; later ones are consequences.
  if (!last_error_.empty()) return;
  last_error_code_ = code;
  last_error_ = std::move(failure.text);
}

bool CCabinetFile::RunCopy(cab::PFNFDINOTIFY notify) {
  if (fdi_ == nullptr) {
    SetError(cab::FDIERROR_CABINET_OPEN, "the cabinet is not open");
    return false;
  }
  const DecoderPath where(file_path_);
  // The record keeps the last error for good; each copy starts clean so
  // that the callbacks see what this copy met.
  erf_ = cab::ERF{};
  moved_on_ = false;
  continuation_ = 0;
  const bool ok =
      accept_every_file_
          ? cab::FDICopyPastDamage(fdi_, where.name().c_str(), where.directory().c_str(), notify,
                                   CabGoOn, nullptr)
          : cab::FDICopy(fdi_, where.name().c_str(), where.directory().c_str(), 0, notify, nullptr,
                         nullptr);
  if (!ok) ReportCopyFailure();
  return ok;
}

void CCabinetFile::ReportCopyFailure() {
  std::string text = std::string(cab::FDIErrorText(erf_.erfOper));
  if (erf_.erfOper == cab::FDIERROR_TARGET_FILE && output_ != nullptr &&
      !output_->current_path.empty()) {
    text = "cannot write " + output_->current_path + ": " + std::strerror(CrtLastWriteErrno());
  } else if (erf_.erfOper == cab::FDIERROR_UNKNOWN_CABINET_VERSION) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " %d.%d", (erf_.erfType >> 8) & 0xFF, erf_.erfType & 0xFF);
    text += buf;
  }
  if (output_ != nullptr && !output_->current_member.empty()) {
    std::string prefix = "\"";
    prefix += Printable(output_->current_member);
    prefix += "\": ";
    text.insert(0, prefix);
  }
  // A copy the callbacks stopped already says why.
  if (erf_.erfOper != cab::FDIERROR_USER_ABORT || last_error_.empty()) SetError(erf_.erfOper, text);
}

bool CCabinetFile::DetermineContents() {
  bool ok;
  {
    CurrentFileScope scope(this);
    ok = RunCopy(CabListNotify);
  }
  contents_determined_ = ok;
  return ok;
}

bool CCabinetFile::BeginExtraction() {
  files_extracted_ = 0;
  refused_names_ = 0;
  last_error_.clear();
  last_error_code_ = 0;
  failures_.clear();
  kept_failures_.clear();
  if (target_directory_.empty()) {
    SetError(kCabErrorOutput, "no target folder given");
    return false;
  }
  return true;
}

int CCabinetFile::ExtractDeterminedContents() {
  if (!BeginExtraction()) return -2;
  OutputState state(target_directory_);
  output_ = &state;
  bool ok;
  {
    CurrentFileScope scope(this);
    ok = RunCopy(CabCopyNotify);
  }
  output_ = nullptr;
  if (!ok || refused_names_ > 0 || !last_error_.empty()) return -2;
  return files_extracted_;
}

int CCabinetFile::ExtractAll(const std::string& target_directory) {
  target_directory_ = target_directory;
  ReportF(kCabinetTraceLevel, false, "ExtractAll() called. Set TargetDirectory to %s",
          target_directory_.c_str());
  CurrentFileScope scope(this);
  if (!contents_determined_) {
    DetermineContents();
    Trace("Determined contents of CAB file");
    if (!contents_determined_) {
      Trace("Content determination failed");
      return -1;
    }
  }
  const int result = ExtractDeterminedContents();
  ReportF(kCabinetTraceLevel, false, "Returned from ExtractDeterminedContents(): %d files extracted",
          result);
  return result;
}

int CCabinetFile::ExtractFile(const std::string& file_name, const std::string& target_directory) {
  target_directory_ = target_directory;
  contents_determined_ = false;
  contents_.RemoveAll();
  contents_.AddTailLower(file_name);
  return ExtractDeterminedContents();
}

namespace {

struct Listing {
  std::vector<cab::FDILISTFILE> files;
  std::vector<std::string> names;
};

cab::INT_PTR CollectEntries(const cab::FDILISTENTRY* entry) {
  auto* listing = static_cast<Listing*>(entry->pv);
  if (entry->kind == cab::fdilistFILE) {
    listing->files.push_back(*entry->file);
    listing->names.push_back(entry->file->pszName != nullptr ? entry->file->pszName : "");
  }
  return 0;
}

bool SpansToNext(uint16_t folder) {
  return folder == cab::ifoldCONTINUED_TO_NEXT || folder == cab::ifoldCONTINUED_PREV_AND_NEXT;
}

}  // namespace

void CCabinetFile::ListEntries() {
  listed_.clear();
  feed_ = false;
  Listing listing;
  const DecoderPath where(file_path_);
  const cab::ERF saved = erf_;
  const bool listed = cab::FDIListCabinet(fdi_, where.name().c_str(), where.directory().c_str(),
                                          CollectEntries, &listing);
  erf_ = saved;  // a listing failure shows again in the copy
  for (size_t i = 0; i < listing.files.size(); ++i) {
    const cab::FDILISTFILE& file = listing.files[i];
    listed_.push_back({file.coffEntry, file.iFolder, file.folderInRange});
    // The decoder passes such entries over without a word; a user asked for
    // every file and must hear that some could not be had.
    if (!file.folderInRange && file.iFolder < cab::ifoldCONTINUED_FROM_PREV) {
      std::string text = "\"";
      text += Printable(listing.names[i]);
      text += "\" lies in folder " + std::to_string(file.iFolder) +
              ", which the cabinet does not have; not extracted";
      SetError(cab::FDIERROR_CORRUPT_CABINET, text);
    }
  }
  feed_ = listed;
  if (!feed_) listed_.clear();
}

// Whether the entry at `index` needs no notification in a copy run again:
// written already, given up, in a folder whose data failed before it, or in
// no folder at all. An entry that spans into the next cabinet is always
// offered, so that the decoder counts it when it is declined.
bool CCabinetFile::Skippable(size_t index) const {
  const ListedEntry& entry = listed_[index];
  if (SpansToNext(entry.folder)) return false;
  if (!entry.in_range && entry.folder < cab::ifoldCONTINUED_FROM_PREV) return true;
  const int ordinal = static_cast<int>(index) + 1;
  return Marked(ordinal) || InDeadFolder(entry.folder, ordinal);
}

void CCabinetFile::Mark(int ordinal, uint8_t mark) {
  if (ordinal < 0) return;
  if (static_cast<size_t>(ordinal) >= ordinal_marks_.size()) ordinal_marks_.resize(ordinal + 1, 0);
  ordinal_marks_[ordinal] |= mark;
}

void CCabinetFile::FeedNextEntry(cab::PFDINOTIFICATION record) {
  if (moved_on_) return;  // the entries left belong to the next cabinet's copy
  while (next_entry_ < listed_.size() && Skippable(next_entry_)) ++next_entry_;
  if (next_entry_ >= listed_.size()) {
    record->iFolder = 0;
    return;
  }
  record->cb = static_cast<int32_t>(listed_[next_entry_].offset);
  record->iFolder = 1;
  ++next_entry_;
  ordinal_ = static_cast<int>(next_entry_);  // the entry's 1-based number
}

bool CCabinetFile::GiveUpFailedEntry() {
  const int failed = ordinal_;
  if (failed == 0 || Marked(failed)) return false;
  Mark(failed, kOrdinalSkipped);
  if (!output_failed_) {
    if (current_folder_ >= dead_folders_.size()) dead_folders_.resize(current_folder_ + 1, 0);
    if (dead_folders_[current_folder_] == 0) dead_folders_[current_folder_] = failed;
  }
  return true;
}

// Going on within the copy does what the end of a failed copy and the start
// of the next one in ExtractEveryFile do, without reading the cabinet's
// header again. A cabinet fed without a listing is copied again from its
// first entry instead.
bool CCabinetFile::CabGoOn(void*) {
  CCabinetFile* self = CurrentCabinetFile;
  if (self == nullptr || self->output_ == nullptr || !self->feed_) return false;
  if (self->ordinal_ == 0 || self->Marked(self->ordinal_)) return false;
  self->ReportCopyFailure();
  self->output_->current_path.clear();
  self->output_->current_member.clear();
  self->GiveUpFailedEntry();
  self->ordinal_ = 0;
  self->output_failed_ = false;
  self->erf_ = cab::ERF{};
  self->moved_on_ = false;
  self->continuation_ = 0;
  return true;
}

int CCabinetFile::ExtractEveryFile(const std::string& target_directory, bool test_only,
                                   bool first_of_set) {
  target_directory_ = target_directory;
  if (!BeginExtraction()) return -2;
  if (fdi_ != nullptr) ListEntries();
  next_entry_ = 0;
  accept_every_file_ = true;
  test_only_ = test_only;
  first_of_set_ = first_of_set;
  ordinal_marks_.clear();
  dead_folders_.clear();
  OutputState state(target_directory_);
  output_ = &state;
  bool ok = false;
  for (int attempt = 0; attempt < 70000; ++attempt) {
    ordinal_ = 0;
    output_failed_ = false;
    {
      CurrentFileScope scope(this);
      ok = RunCopy(CabCopyNotify);
    }
    state.current_path.clear();
    state.current_member.clear();
    // Go again past the entry that failed, if one did.
    if (ok || !GiveUpFailedEntry()) break;
  }
  output_ = nullptr;
  accept_every_file_ = false;
  feed_ = false;
  listed_.clear();
  test_only_ = false;
  first_of_set_ = true;
  if (!ok || !last_error_.empty()) return -2;
  return files_extracted_;
}

cab::INT_PTR CCabinetFile::CabListNotify(cab::FDINOTIFICATIONTYPE kind,
                                         cab::PFDINOTIFICATION record) {
  if (kind == cab::fdintCOPY_FILE && CurrentCabinetFile != nullptr && record->psz1 != nullptr) {
    CurrentCabinetFile->contents_.AddTailLower(record->psz1);
  }
  return 0;
}

cab::INT_PTR CCabinetFile::OpenOutput(cab::PFDINOTIFICATION record) {
  const char* name = record->psz1 != nullptr ? record->psz1 : "";
  std::vector<std::string> components;
  std::string why;
  if (!SplitMemberName(name, &components, &why)) {
    ++refused_names_;
    std::string text = "refused to extract \"";
    text += Printable(name);
    text += "\" into " + target_directory_ + ": " + why + "; nothing was written for it";
    SetError(kCabErrorUnsafeName, text);
    if (accept_every_file_) Mark(ordinal_, kOrdinalSkipped);
    return 0;
  }
  output_->current_member = name;
  if (test_only_) return kDiscardHandle;
  std::string path;
  std::string error;
  const cab::INT_PTR hf = output_->tree.CreateOutputFile(components, &path, &error);
  if (hf == -1) {
    SetError(kCabErrorOutput, error);
    output_failed_ = true;
    return -1;
  }
  output_->current_path = path;
  return hf;
}

// The answer to a close notification is always 1: the file counts as
// extracted and the copy goes on. A close that fails (the last of the data
// may not have reached the disk) is kept as a failure of the extraction,
// which then ends with -2 once every other file is out.
cab::INT_PTR CCabinetFile::CloseOutput(cab::PFDINOTIFICATION record) {
  const cab::INT_PTR hf = record->hf;
  if (hf != kDiscardHandle) StampOutputFile(FdFromHandle(hf), record->date, record->time, record->attribs);
  if (CrtClose(hf) != 0) {
    const std::string error = "cannot write " + output_->current_path + ": " + std::strerror(errno);
    SetError(kCabErrorOutput, error);
  }
  output_->current_path.clear();
  output_->current_member.clear();
  ++files_extracted_;
  return 1;
}

// A file the decoder offers for copying: listed (or, in tool mode, not
// given up already) files are opened, the others skipped.
cab::INT_PTR CCabinetFile::OfferedFile(cab::PFDINOTIFICATION record) {
  if (accept_every_file_) {
    int ordinal;
    if (!feed_) {
      ordinal = ++ordinal_;
    } else if (moved_on_) {
      // Entries of the next cabinet that continue the folder.
      ordinal = static_cast<int>(listed_.size()) + ++continuation_;
      ordinal_ = ordinal;
    } else {
      ordinal = ordinal_;  // the entry fed last
    }
    current_folder_ = record->iFolder;
    if (Marked(ordinal) || InDeadFolder(record->iFolder, ordinal)) return 0;
  } else if (!contents_.FindLower(record->psz1 != nullptr ? record->psz1 : "")) {
    return 0;
  }
  return OpenOutput(record);
}

// The decoder needs the next cabinet of the set (or, with `fdie` set, asks
// again for one it could not open).
cab::INT_PTR CCabinetFile::NextCabinet(cab::PFDINOTIFICATION record) {
  moved_on_ = true;
  const std::string next = record->psz1 != nullptr ? record->psz1 : "";
  const std::string dir = record->psz3 != nullptr ? record->psz3 : "";
  if (record->fdie != cab::FDIERROR_NONE) {
    // The decoder asks again for as long as we do not give up.
    SetError(record->fdie, "cannot continue into the next cabinet " + next + " in " + dir + ": " +
                               cab::FDIErrorText(record->fdie));
    return -1;
  }
  if (next.empty()) {
    // A block of the folder could not be read here (damaged, or past the
    // folder's count of blocks), and the cabinet names no next one to read
    // it from: report what the read met.
    const int code =
        erf_.erfOper != cab::FDIERROR_NONE ? erf_.erfOper : cab::FDIERROR_CORRUPT_CABINET;
    std::string text;
    if (!output_->current_member.empty()) text = "\"" + Printable(output_->current_member) + "\": ";
    text += cab::FDIErrorText(code);
    text += " (a data block cannot be read, and no next cabinet is named to read it from)";
    SetError(code, text);
    return -1;
  }
  // The name comes from the cabinet: it may only name a cabinet beside this
  // one. Anything else counts as a next cabinet that cannot be opened,
  // without opening it; a missing one is the decoder's to report.
  std::string path;
  std::string why;
  bool missing = false;
  if (!SiblingCabinetPath(dir, next, &path, &why, &missing) && !missing) {
    const size_t slash = file_path_.find_last_of(kPathSeparators);
    SetError(cab::FDIERROR_CABINET_OPEN, "cannot continue into the next cabinet \"" +
                                             Printable(next) + "\" in " +
                                             file_path_.substr(0, slash + 1) + ": " + why);
    return -1;
  }
  return 0;
}

cab::INT_PTR CCabinetFile::CabCopyNotify(cab::FDINOTIFICATIONTYPE kind,
                                         cab::PFDINOTIFICATION record) {
  CCabinetFile* self = CurrentCabinetFile;
  if (self == nullptr || self->output_ == nullptr) return -1;
  if (!IsPathSeparator(self->target_directory_.back())) self->target_directory_ += kPathSeparator;
  switch (kind) {
    case cab::fdintCOPY_FILE:
      return self->OfferedFile(record);
    case cab::fdintCLOSE_FILE_INFO:
      if (self->accept_every_file_) self->Mark(self->ordinal_, kOrdinalDone);
      return self->CloseOutput(record);
    case cab::fdintPARTIAL_FILE:
      if (self->accept_every_file_ && self->first_of_set_) {
        std::string text = "\"";
        text += Printable(record->psz1 != nullptr ? record->psz1 : "");
        text += "\" begins in the previous cabinet ";
        text += record->psz2 != nullptr ? record->psz2 : "";
        text += ", which was not found; not extracted";
        self->SetError(kCabErrorMissingPart, text);
      }
      return 0;
    case cab::fdintENUMERATE:
      if (self->accept_every_file_ && self->feed_) self->FeedNextEntry(record);
      return 0;
    case cab::fdintNEXT_CABINET:
      return self->NextCabinet(record);
    default:
      return 0;
  }
}

}  // namespace kestrin
