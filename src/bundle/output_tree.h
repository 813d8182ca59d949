// Safe placement of extracted cabinet members below a target folder.
//
// A member name comes from the cabinet, so it is untrusted: it may be
// absolute, start with a drive letter, or climb out with "..". Such names are
// refused before anything is written. Names use "\" (and "/") as folder
// separators; they are bytes, taken as they are.
//
// Below the target folder every folder is entered with O_NOFOLLOW, so a
// symbolic link that already sits in the target (or is planted there while
// we work) never leads a write out of it. Lookups follow the Windows rule:
// an entry of exactly the given name wins, else one that differs only in
// ASCII letter case (the first in byte order), else the name is created with
// the spelling given.
#ifndef KESTRIN_BUNDLE_OUTPUT_TREE_H_
#define KESTRIN_BUNDLE_OUTPUT_TREE_H_

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cabinet/fdi.h"

namespace kestrin {

// Splits a member name into its folder and file components ("\" and "/"
// separate; empty and "." components are dropped). Returns false and says
// why for an absolute name, a drive letter, a ".." component or a name
// without any component.
bool SplitMemberName(std::string_view name, std::vector<std::string>* components,
                     std::string* why);

// Opens output files for member names below one target folder, creating the
// folder and subfolders on demand. Keeps descriptors of the folders it has
// entered until it is destroyed.
class OutputTree {
 public:
  explicit OutputTree(std::string target_directory);
  ~OutputTree();
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;

  // Opens (creating or truncating) the file the components name, through
  // CrtOpenAt with the output flags 0x8122 and permission 0x80. Returns the
  // handle, or -1 with a sentence naming the path and the reason in *error.
  // *display_path receives the path as written.
  cab::INT_PTR CreateOutputFile(const std::vector<std::string>& components,
                                std::string* display_path, std::string* error);

 private:
  struct Folder;
  Folder* Root(std::string* error);
  Folder* Child(Folder* parent, const std::string& name, std::string* error);
  static const std::string& Lookup(Folder* folder, const std::string& name);
  bool EnsureOpen(Folder* folder);
  void CloseSubfolders(Folder* folder);

  std::string target_;
  std::unique_ptr<Folder> root_;
  int open_folders_ = 0;  // subfolder descriptors held
};

// Applies a cabinet entry's MS-DOS date and time (local time) as the
// modification time of the open file and, for the read-only attribute
// (0x01), clears its write permission bits. Failures are ignored: the file
// itself was written. Other attributes have no meaning here.
void StampOutputFile(int fd, uint16_t dos_date, uint16_t dos_time, uint16_t attribs);


}  // namespace kestrin

#endif  // KESTRIN_BUNDLE_OUTPUT_TREE_H_
