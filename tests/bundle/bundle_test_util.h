// Helpers of the bundle tests: running programs, reading trees, payloads and
// a small cabinet writer/reader (gcab cannot write "..\" names, attributes,
// dates or several folders; folders of gcab cabinets can be combined here).
#ifndef KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_
#define KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace kestrin::testing {

namespace fs = std::filesystem;
using FileSet = std::map<std::string, std::string>;

struct RunResult {
  int exit_code = -1;  // -1: did not start; 128 + n: killed by signal n
  std::string out, err;
};

// Runs argv[0] (looked up in PATH) in the folder `cwd`.
inline RunResult RunProgram(std::vector<std::string> argv, const std::string& cwd = ".") {
  ScopedTempDir capture;
  argv.insert(argv.begin(),
              {"sh", "-c", "o=$1; cd \"$2\" && shift 2 && exec \"$@\" >\"$o/out\" 2>\"$o/err\"",
               "sh", capture.path().string(), cwd});
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  RunResult result;
  pid_t pid;
  int status = 0;
  if (posix_spawnp(&pid, "sh", nullptr, nullptr, args.data(), environ) == 0 &&
      waitpid(pid, &status, 0) == pid) {
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  result.out = ReadFileOrDie(capture.path() / "out");
  result.err = ReadFileOrDie(capture.path() / "err");
  return result;
}

inline RunResult Cab(std::vector<std::string> args, const std::string& cwd = ".") {
  args.insert(args.begin(), (BinaryDir() / "kestrin-cab").string());
  return RunProgram(args, cwd);
}

inline bool HaveProgram(const std::string& name) {
  return RunProgram({"sh", "-c", "command -v " + name}).exit_code == 0;
}

// stderr is lines of the form "FILE: what went wrong (code N)", at least one.
inline bool CleanErrors(const std::string& err) {
  size_t at = 0;
  for (size_t end; (end = err.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = err.substr(at, end - at);
    const size_t colon = line.find(": "), code = line.rfind(" (code ");
    if (colon == 0 || colon == std::string::npos || code == std::string::npos ||
        code <= colon + 2 || line.size() < code + 9 || line.back() != ')' ||
        line.find_first_not_of("0123456789", code + 7) != line.size() - 1) {
      return false;
    }
  }
  return at > 0 && at == err.size();
}

// Every file below `root` (relative path -> contents); symlinks as "<symlink>".
inline FileSet ReadTree(const fs::path& root) {
  FileSet files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string rel = it->path().lexically_relative(root).string();
    if (it->is_symlink())
      files[rel] = "<symlink>";
    else if (it->is_regular_file())
      files[rel] = ReadFileOrDie(it->path());
  }
  return files;
}

// Deterministic bytes: kind 0 text-like, 1 binary-like, 2 random-like.
inline std::string MakePayload(size_t size, int kind, uint32_t seed) {
  static const char* kWords[] = {"cabinet ", "folder ", "driver ", "bundle ", "Korvane ",
                                 "module\n", "the ",    "of ",     "0x1F ",   "install "};
  std::string out;
  uint32_t x = seed * 2654435761u + 12345;
  while (out.size() < size) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    if (kind == 0)
      out += kWords[x % 10];
    else if (kind == 1)
      out.push_back(static_cast<char>((x >> 8) % 7 == 0 ? x : (x % 16)));
    else
      out.push_back(static_cast<char>(x >> 11));
  }
  out.resize(size);
  return out;
}

// Packs `files` with gcab (MSZIP with `mszip`) into `cab`; returns its bytes.
inline std::string GcabPack(const fs::path& cab, const FileSet& files, bool mszip = true) {
  ScopedTempDir src;
  for (const auto& [name, data] : files) {
    fs::create_directories((src.path() / name).parent_path());
    WriteFileOrDie(src.path() / name, data);
  }
  std::vector<std::string> argv{"gcab", "-c"};
  if (mszip) argv.push_back("-z");
  argv.push_back(cab.string());
  for (const auto& entry : files) argv.push_back(entry.first);
  fs::create_directories(cab.parent_path());
  const RunResult r = RunProgram(argv, src.path().string());
  if (r.exit_code != 0) ADD_FAILURE() << "gcab: " << r.err;
  return ReadFileOrDie(cab);
}

constexpr uint16_t kDate = (46 << 9) | (3 << 5) | 14;    // 2026-03-14
constexpr uint16_t kTime = (13 << 11) | (37 << 5) | 21;  // 13:37:42

struct CabMember {
  std::string name;  // as stored, "\" separating folders
  std::string data;  // contents (stored cabinets) or empty
  uint16_t attribs = 0x20;
  int folder = 0;
  uint16_t date = kDate, time = kTime;
  uint32_t size = 0, offset = 0;  // filled in by the writer / reader
};
struct CabFolder {
  uint16_t type = 0;
  std::vector<std::string> blocks;  // whole CFDATA records
};
struct CabContents {
  std::vector<CabFolder> folders;
  std::vector<CabMember> members;
};

inline void Put(std::string* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}
inline uint32_t Get(const std::string& in, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(in.at(at + i));
  return v;
}

// A cabinet (no reserve, no set) of the folders and members as they stand.
inline std::string WriteCabinet(const CabContents& c) {
  std::string folders, files, data;
  for (const CabMember& m : c.members) {
    Put(&files, m.size, 4), Put(&files, m.offset, 4), Put(&files, m.folder, 2);
    Put(&files, m.date, 2), Put(&files, m.time, 2), Put(&files, m.attribs, 2);
    files += m.name + '\0';
  }
  const uint32_t data_at = static_cast<uint32_t>(36 + 8 * c.folders.size() + files.size());
  for (const CabFolder& f : c.folders) {
    Put(&folders, static_cast<uint32_t>(data_at + data.size()), 4);
    Put(&folders, static_cast<uint32_t>(f.blocks.size()), 2), Put(&folders, f.type, 2);
    for (const std::string& b : f.blocks) data += b;
  }
  std::string out = "MSCF";
  Put(&out, 0, 4), Put(&out, static_cast<uint32_t>(data_at + data.size()), 4), Put(&out, 0, 4);
  Put(&out, static_cast<uint32_t>(36 + folders.size()), 4), Put(&out, 0, 4), Put(&out, 0x0103, 2);
  Put(&out, static_cast<uint32_t>(c.folders.size()), 2),
      Put(&out, static_cast<uint32_t>(c.members.size()), 2);
  Put(&out, 0, 2), Put(&out, 0x1234, 2), Put(&out, 0, 2);
  return out + folders + files + data;
}

// A cabinet of stored folders; each member goes into the folder it names.
inline std::string BuildStoredCabinet(std::vector<CabMember> members) {
  CabContents c;
  std::vector<std::string> payloads;
  for (CabMember& m : members) {
    if (payloads.size() <= static_cast<size_t>(m.folder)) payloads.resize(m.folder + 1);
    m.size = static_cast<uint32_t>(m.data.size());
    m.offset = static_cast<uint32_t>(payloads[m.folder].size());
    payloads[m.folder] += m.data;
  }
  for (const std::string& p : payloads) {
    c.folders.emplace_back();
    for (size_t at = 0; at < p.size(); at += 32768) {
      const std::string piece = p.substr(at, 32768);
      std::string b;
      Put(&b, 0, 4), Put(&b, static_cast<uint32_t>(piece.size()), 2),
          Put(&b, static_cast<uint32_t>(piece.size()), 2);
      c.folders.back().blocks.push_back(b + piece);
    }
  }
  c.members = std::move(members);
  return WriteCabinet(c);
}

// Appends the folders and members of a simple cabinet (as gcab writes them).
inline void AppendCabinet(CabContents* into, const std::string& cab) {
  const size_t base = into->folders.size();
  for (uint32_t i = 0; i < Get(cab, 26, 2); ++i) {
    CabFolder folder;
    folder.type = static_cast<uint16_t>(Get(cab, 36 + 8 * i + 6, 2));
    for (uint32_t b = 0, at = Get(cab, 36 + 8 * i, 4); b < Get(cab, 36 + 8 * i + 4, 2); ++b) {
      folder.blocks.push_back(cab.substr(at, 8 + Get(cab, at + 4, 2)));
      at += 8 + Get(cab, at + 4, 2);
    }
    into->folders.push_back(folder);
  }
  for (uint32_t i = 0, at = Get(cab, 16, 4); i < Get(cab, 28, 2); ++i) {
    CabMember m;
    m.size = Get(cab, at, 4), m.offset = Get(cab, at + 4, 4);
    m.folder = static_cast<int>(base + Get(cab, at + 8, 2));
    m.date = static_cast<uint16_t>(Get(cab, at + 10, 2)),
    m.time = static_cast<uint16_t>(Get(cab, at + 12, 2));
    m.attribs = static_cast<uint16_t>(Get(cab, at + 14, 2));
    const size_t end = cab.find('\0', at + 16);
    m.name = cab.substr(at + 16, end - at - 16);
    at = static_cast<uint32_t>(end + 1);
    into->members.push_back(m);
  }
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_BUNDLE_BUNDLE_TEST_UTIL_H_
