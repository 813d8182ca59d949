#include "host/journal.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <utility>

#include "host/atomic_file.h"
#include "host/file_system.h"
#include "host/path_resolve.h"
#include "host/telvor.h"

namespace kestrin {
namespace {

constexpr char kHeader[] = "KESTRIN JOURNAL 1";
constexpr char kSuffix[] = ".journal";
constexpr char kKeptFolder[] = "kept";

std::string Join(const std::string& dir, const std::string& name) {
  return StripTrailingSeparators(dir) + kPathSeparator + name;
}

std::string Escape(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (const char c : field) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::string> SplitLine(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      const char n = line[++i];
      fields.back() += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string Line(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    line += Escape(fields[i]);
  }
  return line + '\n';
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Under(const std::string& path, const std::string& prefix) {
  return !prefix.empty() && path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
         IsPathSeparator(path[prefix.size()]);
}

// The raw value of the first line of `key` among a section's lines, quotes kept.
std::optional<std::string> RawValue(const std::vector<IniLine>& lines, std::string_view key) {
  const std::string lower = Lower(std::string(key));
  for (const IniLine& line : lines) {
    if (line.value && Lower(line.key) == lower) return line.value;
  }
  return std::nullopt;
}

// The same in `section` of the file at `path`.
std::optional<std::string> RawValue(IniFiles& ini, const std::string& path, std::string_view section,
                                    std::string_view key) {
  IniResult result;
  return RawValue(ini.GetSection(path, section, &result), key);
}

std::string OldValue(const std::optional<std::string>& value) { return value ? "=" + *value : "-"; }

}  // namespace

std::string JournalDir(const std::string& oem_cab_dir) { return Join(oem_cab_dir, "journal"); }

std::string JournalTimeNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm utc = *std::gmtime(&now);  // one thread: the static result is ours
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

// ---------------------------------------------------------------------------
// Reading.

RunJournal ReadRunJournal(const std::string& path) {
  RunJournal run;
  run.path = path;
  const auto [dir, name] = SplitLastComponent(path);
  run.id = name.size() > sizeof kSuffix - 1 ? name.substr(0, name.size() - (sizeof kSuffix - 1)) : name;
  std::string text;
  const FileResult read = ReadWholeFile(path, text);
  if (!read.ok()) {
    run.error = read.message;
    return run;
  }
  if (text.rfind(kHeader, 0) != 0) {
    run.error = path + " is not a journal of Kestrin";
    return run;
  }
  run.readable = true;
  std::string bundle;
  size_t current = 0;
  size_t at = text.find('\n');
  while (at != std::string::npos && at + 1 < text.size()) {
    const size_t end = text.find('\n', at + 1);
    // A last line without its line end was cut off by a crash: its change
    // was never made.
    if (end == std::string::npos) break;
    const std::vector<std::string> fields = SplitLine(text.substr(at + 1, end - at - 1));
    at = end;
    const std::string& op = fields[0];
    const std::string arg = fields.size() > 1 ? fields[1] : std::string();
    if (op == "started") {
      run.started = arg;
    } else if (op == "finished") {
      run.finished = arg;
    } else if (op == "rolled-back") {
      run.rolled_back = arg;
    } else if (op == "scheduled") {
      run.scheduled.assign(fields.begin() + 1, fields.end());
    } else if (op == "uninstalled") {
      run.uninstalled.push_back(arg);
    } else if (op == "bundle") {
      // A bundle's archive copy comes before its installation: one bundle.
      bundle = arg;
      current = std::find(run.bundles.begin(), run.bundles.end(), arg) - run.bundles.begin();
      if (current == run.bundles.size()) {
        run.bundles.push_back(arg);
        run.oem_ids.push_back(0);
      }
    } else if (op == "oem") {
      if (current < run.oem_ids.size()) run.oem_ids[current] = std::atoi(arg.c_str());
    } else if (op == "void") {
      if (!run.entries.empty()) run.entries.pop_back();
    } else if (!op.empty()) {
      run.entries.push_back({op, {fields.begin() + 1, fields.end()}, bundle});
    }
  }
  return run;
}

std::vector<RunJournal> ReadRunJournals(const std::string& dir) {
  std::vector<RunJournal> runs;
  std::vector<std::string> names;
  FsError error;
  if (!SystemFileSystem().ListFolder(dir, &names, &error)) return runs;
  for (const std::string& name : names) {
    if (name.size() > sizeof kSuffix - 1 && name.ends_with(kSuffix)) {
      runs.push_back(ReadRunJournal(Join(dir, name)));
    }
  }
  return runs;  // ListFolder gives byte order: the names begin with the start time
}

std::vector<std::string> ChangedItems(const JournalEntry& e) {
  const auto& f = e.fields;
  if (f.empty()) return {};
  if (e.op == "mkdir" || e.op == "new" || e.op == "replace" || e.op == "delete" || e.op == "rmdir" ||
      e.op == "attr" || e.op == "snapshot") {
    return {"file " + f[0]};
  }
  if (e.op == "ini" && f.size() >= 3) return {"ini " + f[0] + "|" + Lower(f[1]) + "|" + Lower(f[2])};
  if (e.op == "ini-section" && f.size() >= 2) {
    std::vector<std::string> items;
    for (size_t i = 2; i < f.size(); ++i) {
      items.push_back("ini " + f[0] + "|" + Lower(f[1]) + "|" + Lower(f[i].substr(0, f[i].find('='))));
    }
    return items;
  }
  if (e.op == "reg") return {"reg " + Lower(f[0])};
  return {};
}

bool AppendJournalEntry(const std::string& path, const std::vector<std::string>& entry) {
  JournalFile file;
  return file.Open(path, nullptr) && file.Append(Line(entry)) && file.Sync();
}

// ---------------------------------------------------------------------------
// Undoing.

namespace {

class Undoer {
 public:
  Undoer(Host& host, const std::string& kept_dir, UndoMode mode, const std::vector<std::string>& keep,
         std::vector<std::string>* failures)
      : host_(host), kept_dir_(kept_dir), mode_(mode), keep_(keep.begin(), keep.end()),
        failures_(failures) {}

  // Undoes entries [first, last] (all "ini" of one file and section, or all
  // "reg"), newest first, in one update of each kind: the oldest entry of an
  // item holds its value before them all.
  void UndoGroup(const std::vector<JournalEntry>& entries, size_t first, size_t last) {
    const bool ini = entries[last].op == "ini";
    const size_t value = ini ? 3 : 1;
    std::vector<std::pair<std::string, std::string>> olds;  // item name, old field
    for (size_t i = last + 1; i-- > first;) {
      const JournalEntry& e = entries[i];
      if (e.fields.size() <= value || Kept(e)) continue;
      const std::string name = ini ? e.fields[2] : e.fields[0];
      auto same = [&](const auto& o) { return Lower(o.first) == Lower(name); };
      const auto it = std::find_if(olds.begin(), olds.end(), same);
      if (it == olds.end()) olds.emplace_back(name, e.fields[value]);
      else it->second = e.fields[value];
    }
    IniEntryList sets;
    std::vector<std::string> deletes;
    for (const auto& [name, old] : olds) {
      if (old == "-") deletes.push_back(name);
      else sets.emplace_back(name, old.substr(1));
    }
    const std::vector<std::string>& f = entries[last].fields;
    if (ini) {
      IniResult result;
      if (!sets.empty() && !host_.ini.SetValues(f[0], f[1], sets, &result)) Fail(result.message);
      if (!deletes.empty() && !host_.ini.DeleteKeys(f[0], f[1], deletes, &result)) Fail(result.message);
      return;
    }
    std::string why;
    std::vector<tRegistryWrite> writes(sets.size());
    for (size_t i = 0; i < sets.size(); ++i) {
      writes[i].key_path = sets[i].first;
      writes[i].text = sets[i].second;
    }
    if (!writes.empty() && !host_.registry.SetDefaultValues(writes, &why)) Fail(why);
    if (!deletes.empty() && !host_.registry.DeleteDefaultValues(deletes, &why)) Fail(why);
  }

  // Whether a later change owns an item of `e` now.
  bool Kept(const JournalEntry& e) const {
    for (const std::string& item : ChangedItems(e)) {
      if (keep_.count(item) != 0) return true;
    }
    return false;
  }

  void Undo(const JournalEntry& e) {
    if (Kept(e)) return;
    const auto& f = e.fields;
    if (f.empty()) return;
    FileSystem& fs = host_.files;
    FsError error;
    if (e.op == "mkdir") {
      if (!fs.Stat(f[0], FollowLinks::kNo).exists) return;
      if (mode_ == UndoMode::kWhole) {
        if (DeleteFiles(fs, f[0], &error, NameMode::kLiteral) == 0) Fail(error.text);
      } else {
        fs.RemoveFolder(f[0], &error);  // stays when a later run put something in it
      }
    } else if (e.op == "new") {
      RemoveTemporaries(f[0]);
      if (fs.Stat(f[0], FollowLinks::kNo).exists && !fs.RemoveFile(f[0], &error)) Fail(error.text);
    } else if ((e.op == "replace" || e.op == "delete") && f.size() >= 2) {
      if (e.op == "replace") RemoveTemporaries(f[0]);
      PutBack(Join(kept_dir_, f[1]), f[0]);
    } else if (e.op == "rmdir") {
      if (!fs.Stat(f[0]).exists && !fs.MakeFolder(f[0], &error)) Fail(error.text);
    } else if (e.op == "attr" && f.size() >= 2) {
      if (fs.Stat(f[0]).exists && !fs.SetReadOnlyFlag(f[0], f[1] == "ro", &error)) Fail(error.text);
    } else if (e.op == "ini" && f.size() >= 4) {
      IniResult result;
      const bool ok = f[3] == "-" ? host_.ini.DeleteKey(f[0], f[1], f[2], &result)
                                  : host_.ini.SetValues(f[0], f[1], {{f[2], f[3].substr(1)}}, &result);
      if (!ok) Fail(result.message);
    } else if (e.op == "ini-new-section" && f.size() >= 2) {
      IniResult result;
      if (host_.ini.GetSection(f[0], f[1], &result).empty() &&
          !host_.ini.DeleteSection(f[0], f[1], &result)) {
        Fail(result.message);
      }
    } else if (e.op == "ini-section" && f.size() >= 2) {
      IniEntryList entries;
      for (size_t i = 2; i < f.size(); ++i) {
        const size_t eq = f[i].find('=');
        entries.emplace_back(f[i].substr(0, eq), eq == std::string::npos ? "" : f[i].substr(eq + 1));
      }
      IniResult result;
      if (!host_.ini.SetValues(f[0], f[1], entries, &result)) Fail(result.message);
    } else if (e.op == "reg" && f.size() >= 2) {
      std::string why;
      if (f[1] == "-") {
        if (!host_.registry.DeleteDefaultValues({f[0]}, &why)) Fail(why);
      } else {
        std::vector<tRegistryWrite> writes(1);
        writes[0].key_path = f[0];
        writes[0].text = f[1].substr(1);
        if (!host_.registry.SetDefaultValues(writes, &why)) Fail(why);
      }
    } else if (e.op == "snapshot" && f.size() >= 2) {
      if (f[1] != "-") {
        PutBack(Join(kept_dir_, f[1]), f[0]);
      } else if (fs.Stat(f[0]).exists && !fs.RemoveFile(f[0], &error)) {
        Fail(error.text);
      }
    } else if (e.op == "register" || e.op == "unregister") {
      std::string why;
      if (fs.Stat(f[0]).exists && host_.libraries.RegisterServer(f[0], e.op != "register", &why) != 1) {
        Fail((e.op == "register" ? "cannot unregister " : "cannot register again ") + f[0] + ": " + why);
      }
    }
    // "program": what a program did cannot be undone; history says so.
  }

 private:
  // A run ended before its copies were finished left their temporary files
  // beside the targets: an interrupted run's undo removes them. Each folder
  // is listed once.
  void RemoveTemporaries(const std::string& target) {
    if (mode_ != UndoMode::kWhole) return;
    const auto [dir, name] = SplitLastComponent(target);
    auto listed = hidden_.find(dir);
    if (listed == hidden_.end()) {
      std::vector<std::string> names;
      host_.files.ListFolder(dir, &names, nullptr);
      std::erase_if(names, [](const std::string& n) { return n.empty() || n[0] != '.'; });
      listed = hidden_.emplace(dir, std::move(names)).first;
    }
    const std::string prefix = TemporaryCopyPrefix(name);
    for (const std::string& hidden : listed->second) {
      FsError error;
      if (hidden.starts_with(prefix)) host_.files.RemoveFile(Join(dir, hidden), &error);
    }
  }
  void PutBack(const std::string& kept, const std::string& path) {
    FsError error;
    if (!host_.files.CopyRegularFile(kept, path, &error) || !host_.files.FinishCopies(&error)) {
      Fail(error.text.empty() ? "cannot put back " + path : error.text);
    }
  }
  void Fail(const std::string& text) {
    if (failures_ != nullptr) failures_->push_back(text);
  }

  Host& host_;
  std::string kept_dir_;
  UndoMode mode_;
  std::set<std::string> keep_;
  std::vector<std::string>* failures_;
  std::map<std::string, std::vector<std::string>> hidden_;  // by folder: its names that begin with "."
};

}  // namespace

void UndoEntries(Host& host, const std::vector<JournalEntry>& entries, const std::string& kept_dir,
                 UndoMode mode, const std::vector<std::string>& keep,
                 std::vector<std::string>* failures) {
  Undoer undoer(host, kept_dir, mode, keep, failures);
  auto grouped = [](const JournalEntry& a, const JournalEntry& b) {
    if (a.op != b.op || a.fields.empty() || b.fields.empty()) return false;
    if (a.op == "reg") return true;
    return a.op == "ini" && a.fields.size() > 1 && b.fields.size() > 1 && a.fields[0] == b.fields[0] &&
           Lower(a.fields[1]) == Lower(b.fields[1]);
  };
  for (size_t last = entries.size(); last-- > 0;) {
    const JournalEntry& e = entries[last];
    if (e.op != "ini" && e.op != "reg") {
      undoer.Undo(e);
      continue;
    }
    size_t first = last;
    while (first > 0 && grouped(entries[first - 1], e)) --first;
    undoer.UndoGroup(entries, first, last);
    last = first;
  }
}

// ---------------------------------------------------------------------------
// Recording.

class JournalHost::Recorder {
 public:
  explicit Recorder(Host& inner) : inner_(inner) {
    const char* limit = std::getenv(kExitAfterChangesVariable);
    if (limit != nullptr && *limit != '\0') exit_after_ = std::strtol(limit, nullptr, 10);
    const char* power_loss = std::getenv(kPowerLossVariable);
    power_loss_ = power_loss != nullptr && *power_loss != '\0';
  }

  bool Begin(const std::string& dir, const std::vector<std::string>& scheduled,
             const std::vector<std::string>& ignored, std::string* error) {
    FileSystem& fs = inner_.files;
    kept_dir_ = Join(dir, kKeptFolder);
    for (const std::string& folder : {dir, kept_dir_}) {
      FsError fs_error;
      if (!fs.Stat(folder).exists && CreateDirectoryTree(fs, folder, &fs_error) == 0 &&
          !fs.Stat(folder).is_directory) {
        *error = fs_error.text;
        return false;
      }
    }
    std::string stamp = JournalTimeNow();
    for (char& c : stamp) c = c == ' ' ? '-' : c == ':' ? '.' : c;
    id_ = stamp;
    for (int n = 2; fs.Stat(Join(dir, id_ + kSuffix)).exists; ++n) id_ = stamp + "_" + std::to_string(n);
    path_ = Join(dir, id_ + kSuffix);
    if (!file_.Open(path_, error)) return false;
    ignored_ = ignored;
    kept_count_ = 0;
    made_.clear();
    std::vector<std::string> planned{"scheduled"};
    planned.insert(planned.end(), scheduled.begin(), scheduled.end());
    written_ = flushed_ = sizeof kHeader;
    // The folder too: a power loss must not lose the new journal's name.
    if (!file_.Append(std::string(kHeader) + "\n") || !Write({"started", JournalTimeNow()}) ||
        !Write(planned) || !Flush() || !SyncFolder(dir)) {
      *error = "cannot write " + path_;
      file_.Close();
      return false;
    }
    snapshot_taken_ = false;
    // A file replaced in the run whose rename is lost to a power loss is
    // put back by the undo all the same: its folder is flushed once, before
    // the run is marked finished, rather than after every rename.
    DeferFolderFlushes();
    return true;
  }

  ~Recorder() {
    if (file_.is_open()) FlushDeferredFolders();
  }

  void Finish() {
    if (!file_.is_open()) return;
    // Not a failure of the run, as the flush right after a rename never was.
    FlushDeferredFolders();
    Write({"finished", JournalTimeNow()});
    Flush();
    file_.Close();
  }

  bool active() const { return file_.is_open(); }
  const std::string& path() const { return path_; }
  bool Watched(const std::string& path) const {
    if (!file_.is_open()) return false;
    for (const std::string& prefix : ignored_) {
      if (Under(path, prefix)) return false;
    }
    return true;
  }

  bool Write(const std::vector<std::string>& fields) {
    dirty_ = true;
    const std::string line = Line(fields);
    written_ += line.size();
    return file_.Append(line);
  }
  // The entries so far, and the kept files, on disk.
  bool Flush() {
    bool ok = true;
    if (dirty_) ok = file_.Sync();
    if (kept_dirty_) ok = SyncFolder(kept_dir_) && ok;
    dirty_ = kept_dirty_ = !ok;
    if (ok) flushed_ = written_;
    return ok;
  }
  // Notes a change before it is made: false when the note cannot be
  // written (then the change must not be made).
  bool Note(const std::vector<std::string>& fields, bool flush) {
    return Write(fields) && (!flush || Flush());
  }
  // After the change: counts it, and marks the note void when it failed.
  template <typename T>
  T Done(T result) {
    if (!result) Write({"void"});
    if (exit_after_ > 0 && ++changes_ >= exit_after_) {
      std::string text;
      if (power_loss_ && ReadWholeFile(path_, text).ok()) {
        text.resize(std::min(text.size(), flushed_));
        WriteFileAtomically(path_, text);
      }
      std::_Exit(137);
    }
    return result;
  }
  // Keeps the content of the file at `path`; the name in the kept folder, or "".
  std::string Keep(const std::string& path, std::string* error) {
    const std::string name = id_ + "-" + std::to_string(++kept_count_);
    if (!KeepFileContent(path, Join(kept_dir_, name), error)) return {};
    kept_dirty_ = true;
    return name;
  }

  // Whether `path` lies directly in a folder the run made.
  bool InMadeFolder(const std::string& path) const {
    return made_.count(SplitLastComponent(StripTrailingSeparators(path)).first) != 0;
  }
  // Notes that the run made the folder `path`.
  bool NoteMade(const std::string& path) {
    made_.insert(StripTrailingSeparators(path));
    return true;
  }

  bool snapshot_taken_ = false;

 private:
  std::set<std::string> made_;
  Host& inner_;
  JournalFile file_;
  std::string path_, id_, kept_dir_;
  std::vector<std::string> ignored_;
  unsigned kept_count_ = 0;
  bool dirty_ = false, kept_dirty_ = false;
  long exit_after_ = 0, changes_ = 0;
  bool power_loss_ = false;
  size_t written_ = 0, flushed_ = 0;  // bytes of the journal
};

namespace {

using Recorder = JournalHost::Recorder;

void SetFsError(FsError* error, const std::string& path, const std::string& text) {
  if (error != nullptr) *error = {path, text};
}

class JournalFileSystem : public FileSystem {
 public:
  JournalFileSystem(FileSystem& inner, Recorder& r) : inner_(inner), r_(r) {}

  std::string Resolve(std::string_view path) override { return inner_.Resolve(path); }
  FileStatus Stat(const std::string& path, FollowLinks follow) override {
    return inner_.Stat(path, follow);
  }
  bool ListFolder(const std::string& dir, std::vector<std::string>* names, FsError* error) override {
    return inner_.ListFolder(dir, names, error);
  }
  bool AppendText(const std::string& path, std::string_view text) override {
    return inner_.AppendText(path, text);
  }

  bool MakeFolder(const std::string& path, FsError* error) override {
    if (!r_.Watched(path) || inner_.Stat(path, FollowLinks::kNo).exists) {
      return inner_.MakeFolder(path, error);
    }
    // The first folder made in a folder that was there before goes to disk
    // before it is made: were its entry lost, it would survive a rollback.
    // The folders below it go with it.
    const bool first = !r_.InMadeFolder(path);
    if (!r_.Note({"mkdir", path}, first)) return JournalFailed(path, error);
    return r_.Done(inner_.MakeFolder(path, error)) && r_.NoteMade(path);
  }
  bool RemoveFolder(const std::string& path, FsError* error) override {
    if (!r_.Watched(path)) return inner_.RemoveFolder(path, error);
    if (!r_.Note({"rmdir", path}, true)) return JournalFailed(path, error);
    return r_.Done(inner_.RemoveFolder(path, error));
  }
  bool RemoveFile(const std::string& path, FsError* error) override {
    if (!r_.Watched(path) || !inner_.Stat(path, FollowLinks::kNo).exists) {
      return inner_.RemoveFile(path, error);
    }
    std::string why;
    const std::string kept = r_.Keep(path, &why);
    if (kept.empty()) return Refuse(path, why, error);
    if (!r_.Note({"delete", path, kept}, true)) return JournalFailed(path, error);
    return r_.Done(inner_.RemoveFile(path, error));
  }
  bool CopyRegularFile(const std::string& source, const std::string& target,
                       FsError* error) override {
    if (!r_.Watched(target)) return inner_.CopyRegularFile(source, target, error);
    const FileStatus old = inner_.Stat(target);
    if (!old.exists) {
      // Flushed with the next flush: FinishCopies flushes before the new
      // file appears where the copy waits for it. A file in a folder the
      // run made goes with the folder: its entry need not wait for disk.
      if (!r_.Note({"new", target}, false)) return JournalFailed(target, error);
      copies_wait_ = copies_wait_ || (CopiesWaitForFinish() && !r_.InMadeFolder(target));
      copies_pending_ = true;
      return r_.Done(inner_.CopyRegularFile(source, target, error));
    }
    if (!old.is_regular) return inner_.CopyRegularFile(source, target, error);  // refused below
    std::string why;
    const std::string kept = r_.Keep(target, &why);
    if (kept.empty()) return Refuse(target, why, error);
    if (!r_.Note({"replace", target, kept}, !CopiesWaitForFinish())) {
      return JournalFailed(target, error);
    }
    copies_wait_ = copies_wait_ || CopiesWaitForFinish();
    copies_pending_ = true;
    return r_.Done(inner_.CopyRegularFile(source, target, error));
  }
  void SetScratchFolder(const std::string& dir) override { inner_.SetScratchFolder(dir); }
  // The copies left pending are put in place here: their entries (and the
  // kept old files) go to disk first, so that no file of the copy appears
  // or changes before its entry is durable. Nothing waiting, nothing to flush.
  bool FinishCopies(FsError* error) override {
    if (copies_wait_ && r_.active() && !r_.Flush()) {
      SetFsError(error, r_.path(), "cannot write the journal " + r_.path());
      return false;
    }
    copies_wait_ = false;
    const bool ok = inner_.FinishCopies(error);
    // The files put in place here are a change of their own, the point
    // where a test may end the run to see that none outlasts its entry.
    if (std::exchange(copies_pending_, false) && r_.active()) r_.Done(true);
    return ok;
  }
  bool SetReadOnlyFlag(const std::string& path, bool read_only, FsError* error) override {
    if (!r_.Watched(path)) return inner_.SetReadOnlyFlag(path, read_only, error);
    const FileStatus old = inner_.Stat(path);
    if (!r_.Note({"attr", path, old.read_only ? "ro" : "rw"}, true)) return JournalFailed(path, error);
    return r_.Done(inner_.SetReadOnlyFlag(path, read_only, error));
  }

 private:
  bool JournalFailed(const std::string& path, FsError* error) {
    return Refuse(path, "cannot write the journal " + r_.path(), error);
  }
  bool Refuse(const std::string& path, const std::string& why, FsError* error) {
    SetFsError(error, path, "not changed " + path + ": " + why);
    return false;
  }

  FileSystem& inner_;
  Recorder& r_;
  bool copies_wait_ = false;     // a copy's entry waits for FinishCopies
  bool copies_pending_ = false;  // a copy was made since the last FinishCopies
};

class JournalIniFiles : public IniFiles {
 public:
  JournalIniFiles(IniFiles& inner, FileSystem& files, Recorder& r)
      : inner_(inner), files_(files), r_(r) {}

  std::optional<std::string> GetString(const std::string& path, std::string_view section,
                                       std::string_view key, IniResult* result) override {
    return inner_.GetString(path, section, key, result);
  }
  std::optional<int> GetInt(const std::string& path, std::string_view section, std::string_view key,
                            IniResult* result) override {
    return inner_.GetInt(path, section, key, result);
  }
  std::vector<IniLine> GetSection(const std::string& path, std::string_view section,
                                  IniResult* result) override {
    return inner_.GetSection(path, section, result);
  }
  IniEntryList GetSectionValues(const std::string& path, std::string_view section,
                                IniResult* result) override {
    return inner_.GetSectionValues(path, section, result);
  }
  std::vector<std::string> GetKeyNames(const std::string& path, std::string_view section,
                                       IniResult* result) override {
    return inner_.GetKeyNames(path, section, result);
  }
  std::vector<std::string> GetSectionNames(const std::string& path, IniResult* result) override {
    return inner_.GetSectionNames(path, result);
  }
  bool HasSection(const std::string& path, std::string_view section, IniResult* result) override {
    return inner_.HasSection(path, section, result);
  }

  bool SetValues(const std::string& path, std::string_view section, const IniEntryList& entries,
                 IniResult* result) override {
    if (!r_.Watched(path)) return inner_.SetValues(path, section, entries, result);
    const std::string file = files_.Resolve(path);
    bool noted = true;
    size_t notes = 1;
    IniResult ignored;
    std::vector<IniLine> lines;  // the section's old lines, read once for all keys
    if (!files_.Stat(file).exists) {
      noted = r_.Note({"new", file}, false);
    } else if (!inner_.HasSection(file, section, &ignored)) {
      noted = r_.Note({"ini-new-section", file, std::string(section)}, false);
    } else {
      notes = 0;
      lines = inner_.GetSection(file, section, &ignored);
    }
    std::set<std::string> seen;
    for (const IniEntry& entry : entries) {
      if (!seen.insert(Lower(entry.first)).second) continue;
      noted = noted && r_.Note({"ini", file, std::string(section), entry.first,
                                OldValue(RawValue(lines, entry.first))},
                               false);
      ++notes;
    }
    if (!noted || !r_.Flush()) return JournalFailed(path, result);
    return Counted(inner_.SetValues(path, section, entries, result), notes);
  }
  bool DeleteKey(const std::string& path, std::string_view section, std::string_view key,
                 IniResult* result) override {
    if (!r_.Watched(path)) return inner_.DeleteKey(path, section, key, result);
    const std::string file = files_.Resolve(path);
    const std::optional<std::string> old = RawValue(inner_, file, section, key);
    if (!old) return inner_.DeleteKey(path, section, key, result);
    if (!r_.Note({"ini", file, std::string(section), std::string(key), OldValue(old)}, true)) {
      return JournalFailed(path, result);
    }
    return Counted(inner_.DeleteKey(path, section, key, result), 1);
  }
  bool DeleteKeys(const std::string& path, std::string_view section, const std::vector<std::string>& keys,
                  IniResult* result) override {
    if (!r_.Watched(path)) return inner_.DeleteKeys(path, section, keys, result);
    const std::string file = files_.Resolve(path);
    size_t notes = 0;
    IniResult ignored;
    const std::vector<IniLine> lines = inner_.GetSection(file, section, &ignored);
    for (const std::string& key : keys) {
      const std::optional<std::string> old = RawValue(lines, key);
      if (!old) continue;
      if (!r_.Note({"ini", file, std::string(section), key, OldValue(old)}, false)) return JournalFailed(path, result);
      ++notes;
    }
    if (!r_.Flush()) return JournalFailed(path, result);
    return Counted(inner_.DeleteKeys(path, section, keys, result), notes);
  }
  bool DeleteSection(const std::string& path, std::string_view section, IniResult* result) override {
    if (!r_.Watched(path)) return inner_.DeleteSection(path, section, result);
    const std::string file = files_.Resolve(path);
    IniResult ignored;
    if (!inner_.HasSection(file, section, &ignored)) return inner_.DeleteSection(path, section, result);
    std::vector<std::string> fields{"ini-section", file, std::string(section)};
    for (const IniLine& line : inner_.GetSection(file, section, &ignored)) {
      fields.push_back(line.key + (line.value ? "=" + *line.value : ""));
    }
    if (!r_.Note(fields, true)) return JournalFailed(path, result);
    return Counted(inner_.DeleteSection(path, section, result), 1);
  }

 private:
  // A failed call changed nothing: every note it made is void.
  bool Counted(bool ok, size_t notes) {
    if (!ok) {
      for (size_t i = 0; i < notes; ++i) r_.Write({"void"});
    }
    return r_.Done(true) && ok;
  }
  bool JournalFailed(const std::string& path, IniResult* result) {
    if (result != nullptr) {
      result->status = IniStatus::kWriteFailed;
      result->message = "not changed " + path + ": cannot write the journal " + r_.path();
    }
    return false;
  }

  IniFiles& inner_;
  FileSystem& files_;
  Recorder& r_;
};

class JournalRegistry : public Registry {
 public:
  JournalRegistry(Registry& inner, Recorder& r) : inner_(inner), r_(r) {}
  RegistryRead ReadValue(std::string_view key_path, std::string_view value_name) override {
    return inner_.ReadValue(key_path, value_name);
  }
  std::optional<std::vector<tRegistrySubKey>> ReadSubKeys(std::string_view key_path) override {
    return inner_.ReadSubKeys(key_path);
  }
  bool SetDefaultValues(std::vector<tRegistryWrite>& writes, std::string* error) override {
    if (!r_.active()) return inner_.SetDefaultValues(writes, error);
    bool noted = true;
    for (const tRegistryWrite& write : writes) noted = noted && NoteOldValue(write.key_path, true);
    return NotedThen(noted, error, [&] { return inner_.SetDefaultValues(writes, error); });
  }
  bool DeleteDefaultValues(const std::vector<std::string>& key_paths, std::string* error) override {
    if (!r_.active()) return inner_.DeleteDefaultValues(key_paths, error);
    bool noted = true;
    for (const std::string& key_path : key_paths) noted = noted && NoteOldValue(key_path, false);
    return NotedThen(noted, error, [&] { return inner_.DeleteDefaultValues(key_paths, error); });
  }

 private:
  // Notes the value `key_path` holds now, or (when `absent_too`) that it
  // holds none, so that an undo puts it back or deletes it.
  bool NoteOldValue(const std::string& key_path, bool absent_too) {
    const RegistryRead old = inner_.ReadValue(key_path, "");
    if (old.status == RegistryReadStatus::kOk) return r_.Note({"reg", key_path, "=" + old.text}, false);
    return !absent_too || r_.Note({"reg", key_path, "-"}, false);
  }

  // Makes the change once its notes are on disk. A refused change keeps its
  // notes: putting back a value it did not change changes nothing.
  template <typename Change>
  bool NotedThen(bool noted, std::string* error, Change change) {
    if (!noted || !r_.Flush()) {
      if (error != nullptr) *error = "cannot write the journal " + r_.path();
      return false;
    }
    const bool ok = change();
    r_.Done(true);
    return ok;
  }

  Registry& inner_;
  Recorder& r_;
};

class JournalProcesses : public Processes {
 public:
  JournalProcesses(Processes& inner, Recorder& r) : inner_(inner), r_(r) {}
  ProcessResult Run(std::string_view command_line, const ProcessOptions& options) override {
    if (r_.active()) r_.Note({"program", std::string(command_line)}, true);
    ProcessResult result = inner_.Run(command_line, options);
    if (r_.active()) r_.Done(true);
    return result;
  }

 private:
  Processes& inner_;
  Recorder& r_;
};

class JournalLibraries : public Libraries {
 public:
  JournalLibraries(Libraries& inner, Recorder& r) : inner_(inner), r_(r) {}
  int RegisterServer(const std::string& path, bool register_server, std::string* error) override {
    if (!r_.active()) return inner_.RegisterServer(path, register_server, error);
    r_.Note({register_server ? "register" : "unregister", path}, true);
    return r_.Done(inner_.RegisterServer(path, register_server, error));
  }
  std::string DotNetLoaderVersion() override { return inner_.DotNetLoaderVersion(); }

 private:
  Libraries& inner_;
  Recorder& r_;
};

// The connection server writes its file itself: the file is kept whole
// before the first connection of a run is made.
class JournalTelvor : public ITelvorServerClass {
 public:
  JournalTelvor(ITelvorServerClass& inner, FileSystem& files, Recorder& r,
                std::function<std::string()> connection_file)
      : inner_(inner), files_(files), r_(r), connection_file_(std::move(connection_file)) {}
  HRESULT CreateInstance(TelvorObject* object) override {
    if (r_.active() && !r_.snapshot_taken_) {
      const std::string path = connection_file_();
      if (!path.empty() && r_.Watched(path)) {
        std::string kept = "-";
        if (files_.Stat(path).exists) {
          std::string why;
          kept = r_.Keep(path, &why);
          if (kept.empty()) return E_FAIL;
        }
        if (!r_.Note({"snapshot", path, kept}, true)) return E_FAIL;
        r_.Done(true);
      }
      r_.snapshot_taken_ = true;
    }
    return inner_.CreateInstance(object);
  }
  HRESULT Run(const TelvorObject& object) override { return inner_.Run(object); }

 private:
  ITelvorServerClass& inner_;
  FileSystem& files_;
  Recorder& r_;
  std::function<std::string()> connection_file_;
};

}  // namespace

JournalHost::JournalHost(Host& inner, std::function<std::string()> connection_file)
    : inner_(inner),
      recorder_(std::make_unique<Recorder>(inner)),
      files_(std::make_unique<JournalFileSystem>(inner.files, *recorder_)),
      ini_(std::make_unique<JournalIniFiles>(inner.ini, inner.files, *recorder_)),
      registry_(std::make_unique<JournalRegistry>(inner.registry, *recorder_)),
      processes_(std::make_unique<JournalProcesses>(inner.processes, *recorder_)),
      libraries_(std::make_unique<JournalLibraries>(inner.libraries, *recorder_)),
      telvor_(std::make_unique<JournalTelvor>(inner.telvor, inner.files, *recorder_,
                                              std::move(connection_file))),
      host_{*files_, *ini_, *registry_, *processes_, *libraries_, inner.machine, inner.bundles, *telvor_} {}

JournalHost::~JournalHost() = default;

bool JournalHost::Begin(const std::string& dir, const std::vector<std::string>& scheduled,
                        const std::vector<std::string>& ignored, std::string* error) {
  return recorder_->Begin(dir, scheduled, ignored, error);
}

void JournalHost::NoteBundle(const std::string& bundle) {
  if (recorder_->active()) recorder_->Note({"bundle", bundle}, false);
}

void JournalHost::NoteOemId(int oem_id) {
  if (recorder_->active()) recorder_->Note({"oem", std::to_string(oem_id)}, false);
}

void JournalHost::Finish() { recorder_->Finish(); }
bool JournalHost::active() const { return recorder_->active(); }
const std::string& JournalHost::path() const { return recorder_->path(); }

}  // namespace kestrin
