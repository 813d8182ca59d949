// kestrin-cab: lists, tests and extracts cabinet files with Kestrin's own
// cabinet code (the same CCabinetFile the installer uses).
//
//   kestrin-cab l FILE            one line per file
//   kestrin-cab t FILE            check every block, decode every file, write nothing
//   kestrin-cab x FILE [-d DIR]   extract (into the current folder by default)
//   kestrin-cab c OUT.cab [...]   pack files into a cabinet or a set (cab_create.cc)
//   kestrin-cab lint BUNDLE       check a driver bundle (cab_lint.cc)
//   kestrin-cab --version
//
// t and x work on the whole cabinet set FILE belongs to: back through the
// previous-cabinet names to the first cabinet, then forward to the last,
// every file once.
//
// Exit status: 0 success, 1 any failure, 2 usage error.

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bundle/cabinet_file.h"
#include "bundle/crt_file_io.h"
#include "cabinet/fdi.h"
#include "cabinet/match_finder.h"
#include "host/large_memory.h"
#include "host/path_resolve.h"
#include "kestrin_version.h"
#include "tools/cab_commands.h"

namespace kestrin {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Cabinets a set may hold before we assume the names run in a circle.
constexpr int kMaxCabinetsInSet = 10000;

const char kUsage[] =
    "Usage: kestrin-cab l FILE\n"
    "       kestrin-cab t FILE\n"
    "       kestrin-cab x FILE [-d DIR]\n"
    "       kestrin-cab c OUT.cab [-m METHOD] [-d SIZE] [-r RESERVE] [--sign CERT KEY]\n"
    "                     [FILE|DIR]...\n"
    "       kestrin-cab c --bundle DIR OUT.cab [-m METHOD] [-d SIZE] [-r RESERVE]\n"
    "                     [--sign CERT KEY]\n"
    "       kestrin-cab lint [--json] BUNDLE.cab|DIR\n"
    "       kestrin-cab verify FILE [--trust DIR|FILE]...\n"
    "       kestrin-cab sign CERT KEY IN.cab [OUT.cab]\n"
    "       kestrin-cab -h | --version\n"
    "\n"
    "Lists, tests, extracts, makes, verifies or signs Microsoft cabinet files.\n"
    "\n"
    "  l  list the files of FILE, one line each, fields separated by tabs:\n"
    "     size, date and time (YYYY-MM-DD HH:MM:SS), attributes (r read-only,\n"
    "     h hidden, s system, a archive, x executable, - where clear), folder\n"
    "     index, compression method (NONE, MSZIP, LZX:<window>,\n"
    "     QTM:<level>/<window>), name (bytes below 0x20 shown as \\xHH)\n"
    "     then one line beginning with \"#\": \"# not signed\", \"# signed by\n"
    "     SUBJECT\" or \"# signature damaged: REASON\" (not checked: see verify)\n"
    "  t  test: check every data block's checksum and decode every file\n"
    "     without writing anything\n"
    "  x  extract every file into DIR (default: the current folder); folders\n"
    "     named in the cabinet are created below DIR, a name that would lead\n"
    "     outside DIR is refused\n"
    "  c  pack each FILE, and each DIR with everything below it (names sorted),\n"
    "     into OUT.cab under the names given (\"/\" becomes \"\\\"; leading \"/\"\n"
    "     and \".\" parts dropped; a name with \"..\" or \":\" is refused), with\n"
    "     their times and read-only attributes. METHOD is mszip (the default),\n"
    "     none, lzx:15..21 (window 2^15..2^21) or quantum:1..7:10..21 (level,\n"
    "     window). -d SIZE makes a set of cabinets of at most SIZE bytes each\n"
    "     (K, M or G may follow; 64K at least), OUT.cab, OUT2.cab, ...; -r\n"
    "     RESERVE leaves RESERVE zero bytes in each header (room for a\n"
    "     signature). Nothing is written unless all files could be packed.\n"
    "     --bundle DIR: check the bundle folder DIR as lint does and, when it\n"
    "     has no error, pack its contents (hw.ini first). --sign CERT KEY:\n"
    "     sign the cabinet as sign does before it is put in place (not a set).\n"
    "  lint  check a driver bundle (a cabinet or its folder) against what the\n"
    "     installer reads: hw.ini's sections, keys, numbers and versions, the\n"
    "     files its sections and HELP.INI name, names the installer refuses.\n"
    "     One line a finding (file, [section], key: error or warning: text),\n"
    "     errors first, then a count; --json prints them as JSON. Exit status\n"
    "     1 when there is an error (warnings alone give 0).\n"
    "  verify  check FILE's Authenticode signature: the digest over the\n"
    "     cabinet, the PKCS#7 structure, the signer's certificate chain\n"
    "     against the system's certificate authorities or the certificates\n"
    "     given with --trust (files or folders of PEM or DER certificates;\n"
    "     they are then the only ones trusted), and a time stamp where there\n"
    "     is one; one line says the outcome\n"
    "  sign  sign IN.cab with the certificate file CERT (PEM or DER, the\n"
    "     signer's certificate first, then intermediates to include) and its\n"
    "     unencrypted private key KEY, writing OUT.cab (default: IN.cab\n"
    "     itself); an old signature is replaced\n"
    "\n"
    "t and x work on the whole cabinet set FILE belongs to: the previous and\n"
    "next cabinets named in the headers are looked for in FILE's folder.\n"
    "\n"
    "Exit status: 0 success, 1 a damaged cabinet, a refused name or an I/O\n"
    "error (c: an input that cannot be packed), 2 a usage error. verify: 0\n"
    "only for a valid, trusted signature, 1 the cabinet cannot be read, 3 not\n"
    "signed, 4 a damaged or unsupported signature, 5 the cabinet was changed\n"
    "after signing, 6 the signature does not match, 7 not trusted, 8 a\n"
    "certificate expired or not yet valid, 9 a certificate not for code\n"
    "signing, 10 a bad time stamp.\n";

int UsageError(const char* what) {
  std::fprintf(stderr, "kestrin-cab: %s\n%s", what, kUsage);
  return kExitUsage;
}

}  // namespace

int CabUsageError(const std::string& what) { return UsageError(what.c_str()); }

int CabHelp() {
  std::fputs(kUsage, stdout);
  return kExitOk;
}

namespace {

void PrintError(const std::string& file, const std::string& text, int code) {
  std::fprintf(stderr, "%s: %s (code %d)\n", file.c_str(), text.c_str(), code);
}

std::string Printable(const char* name) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    if (*p < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", *p);
      out += buf;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out;
}

// A decoder context over the runtime callbacks, for listing.
class Decoder {
 public:
  Decoder() {
    hfdi_ = cab::FDICreate(CrtAlloc, CrtFree, CrtOpen, CrtRead, CrtWrite, CrtClose, CrtSeek,
                           cab::cpu80386, &erf_);
  }
  ~Decoder() {
    if (hfdi_ != nullptr) cab::FDIDestroy(hfdi_);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  cab::HFDI get() const { return hfdi_; }
  const cab::ERF& erf() const { return erf_; }

 private:
  cab::ERF erf_{};
  cab::HFDI hfdi_ = nullptr;
};

void SplitPath(const std::string& path, std::string* dir, std::string* name) {
  const size_t slash = path.find_last_of(kPathSeparators);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  *dir = path.substr(0, path.size() - name->size());
}

std::string ErrorText(const cab::ERF& erf) {
  std::string text = cab::FDIErrorText(erf.erfOper);
  if (erf.erfOper == cab::FDIERROR_UNKNOWN_CABINET_VERSION) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %d.%d", (erf.erfType >> 8) & 0xFF, erf.erfType & 0xFF);
    text += buf;
  }
  return text;
}

// ---------------------------------------------------------------------------
// l

struct ListState {
  std::string out;
};

cab::INT_PTR ListEntry(const cab::FDILISTENTRY* entry) {
  if (entry->kind != cab::fdilistFILE) return 0;
  auto* state = static_cast<ListState*>(entry->pv);
  const cab::FDILISTFILE& f = *entry->file;
  char method[32];
  if (f.folderInRange) {
    cab::FDICompressionName(f.typeCompress, method, sizeof method);
  } else {
    std::snprintf(method, sizeof method, "-");
  }
  char attrs[6] = {
      static_cast<char>((f.attribs & 0x01) ? 'r' : '-'), static_cast<char>((f.attribs & 0x02) ? 'h' : '-'),
      static_cast<char>((f.attribs & 0x04) ? 's' : '-'), static_cast<char>((f.attribs & 0x20) ? 'a' : '-'),
      static_cast<char>((f.attribs & 0x40) ? 'x' : '-'), 0};
  char line[160];
  std::snprintf(line, sizeof line, "%u\t%04d-%02d-%02d %02d:%02d:%02d\t%s\t%u\t%s\t",
                static_cast<unsigned>(f.cbFile), 1980 + (f.date >> 9), (f.date >> 5) & 0x0F,
                f.date & 0x1F, f.time >> 11, (f.time >> 5) & 0x3F, (f.time & 0x1F) * 2, attrs,
                static_cast<unsigned>(f.iFolder), method);
  state->out += line;
  state->out += Printable(f.pszName != nullptr ? f.pszName : "");
  state->out += '\n';
  if (state->out.size() > 64 * 1024) {
    std::fwrite(state->out.data(), 1, state->out.size(), stdout);
    state->out.clear();
  }
  return 0;
}

int List(const std::string& file) {
  const std::string path = ResolvePath(file);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    PrintError(file, std::string("cannot open the file: ") + std::strerror(errno),
               cab::FDIERROR_CABINET_OPEN);
    return kExitFailure;
  }
  if (!S_ISREG(st.st_mode)) {
    PrintError(file,
               std::string("cannot open the file: ") +
                   (S_ISDIR(st.st_mode) ? "it is a folder"
                                        : "it is not a regular file (a FIFO, device or socket)"),
               cab::FDIERROR_CABINET_OPEN);
    return kExitFailure;
  }
  Decoder decoder;
  if (decoder.get() == nullptr) {
    PrintError(file, ErrorText(decoder.erf()), decoder.erf().erfOper);
    return kExitFailure;
  }
  std::string dir, name;
  SplitPath(path, &dir, &name);
  ListState state;
  const bool ok = cab::FDIListCabinet(decoder.get(), name.c_str(), dir.c_str(), ListEntry, &state);
  std::fwrite(state.out.data(), 1, state.out.size(), stdout);
  if (std::fflush(stdout) != 0) {
    PrintError(file, std::string("cannot write the listing: ") + std::strerror(errno),
               kCabErrorOutput);
    return kExitFailure;
  }
  if (!ok) {
    PrintError(file, ErrorText(decoder.erf()), decoder.erf().erfOper);
    return kExitFailure;
  }
  PrintSignatureLine(path);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

// ---------------------------------------------------------------------------
// The cabinet set

struct Header {
  bool ok = false;
  uint16_t flags = 0;
  std::string prev;
  std::string next;
};

cab::INT_PTR HeaderEntry(const cab::FDILISTENTRY* entry) {
  auto* header = static_cast<Header*>(entry->pv);
  header->ok = true;
  header->flags = entry->cabinet->flags;
  header->prev = entry->cabinet->pszPrevCabinet != nullptr ? entry->cabinet->pszPrevCabinet : "";
  header->next = entry->cabinet->pszNextCabinet != nullptr ? entry->cabinet->pszNextCabinet : "";
  return -1;  // the header is all we need
}

Header ReadHeader(cab::HFDI hfdi, const std::string& path) {
  Header header;
  std::string dir, name;
  SplitPath(path, &dir, &name);
  cab::FDIListCabinet(hfdi, name.c_str(), dir.c_str(), HeaderEntry, &header);
  return header;
}

// What tells two names of one file apart from two files: device and inode
// where the file system gives them; the C runtime on Windows gives no inode,
// so there the path in lower case.
std::string FileIdentity(const std::string& path, const struct stat& st) {
  if (st.st_ino != 0) return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  std::string id = path;
  for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return id;
}

// The cabinet `name` beside the others in `dir` (see SiblingCabinetPath);
// empty if there is none that may be read.
std::string FindSibling(const std::string& dir, const std::string& name, std::string* id) {
  std::string path;
  std::string why;
  if (!SiblingCabinetPath(dir, name, &path, &why)) return {};
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  *id = FileIdentity(path, st);
  return path;
}

// The cabinets of the set `path` belongs to, first to last; `path` is
// always in it.
std::vector<std::string> CabinetSet(const std::string& path) {
  Decoder decoder;
  std::vector<std::string> chain{path};
  if (decoder.get() == nullptr) return chain;
  std::set<std::string> seen;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) seen.insert(FileIdentity(path, st));
  std::string dir, name;
  SplitPath(path, &dir, &name);

  std::vector<std::string> before;
  std::string current = path;
  for (int i = 0; i < kMaxCabinetsInSet; ++i) {
    const Header header = ReadHeader(decoder.get(), current);
    if (!header.ok || !(header.flags & 0x0001)) break;
    std::string id;
    const std::string prev = FindSibling(dir, header.prev, &id);
    if (prev.empty() || !seen.insert(id).second || !ReadHeader(decoder.get(), prev).ok) break;
    before.push_back(prev);
    current = prev;
  }
  chain.assign(before.rbegin(), before.rend());
  chain.push_back(path);

  current = path;
  for (int i = 0; i < kMaxCabinetsInSet; ++i) {
    const Header header = ReadHeader(decoder.get(), current);
    if (!header.ok || !(header.flags & 0x0002)) break;
    std::string id;
    const std::string next = FindSibling(dir, header.next, &id);
    if (next.empty() || !seen.insert(id).second) break;
    chain.push_back(next);
    current = next;
  }
  return chain;
}

// ---------------------------------------------------------------------------
// t and x

int ExtractSet(const std::string& file, const std::string& target, bool test_only) {
  const std::string path = ResolvePath(file);
  const std::vector<std::string> chain = CabinetSet(path);
  bool failed = false;
  int files = 0;
  for (size_t i = 0; i < chain.size(); ++i) {
    const std::string& shown = chain[i] == path ? file : chain[i];
    CCabinetFile cab_file;
    if (!cab_file.Open(chain[i])) {
      PrintError(shown, cab_file.LastError(), cab_file.LastErrorCode());
      failed = true;
      continue;
    }
    // Failures are reported as they are met: a damaged cabinet may have more
    // than the object keeps.
    cab_file.OnFailure([&shown](const CCabinetFile::Failure& failure) {
      PrintError(shown, failure.text, failure.code);
    });
    const int result = cab_file.ExtractEveryFile(target, test_only, i == 0);
    if (result < 0) {
      failed = true;
    } else {
      files += result;
    }
    cab_file.Close();
  }
  if (!failed && files == 0) {
    PrintError(file, "the cabinet holds no files", cab::FDIERROR_CORRUPT_CABINET);
    failed = true;
  }
  if (test_only && !failed) {
    std::printf("%s: all %d files OK in %zu cabinet%s\n", file.c_str(), files, chain.size(),
                chain.size() == 1 ? "" : "s");
  }
  return failed ? kExitFailure : kExitOk;
}

int Run(int argc, char** argv) {
  if (argc < 2) return UsageError("no command given");
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "--version" && argc == 2) {
    std::fputs("kestrin-cab " KESTRIN_VERSION "\n", stdout);
    return kExitOk;
  }
  if (command == "c") return RunCreate(std::vector<std::string>(argv + 2, argv + argc));
  if (command == "lint") return RunLint(std::vector<std::string>(argv + 2, argv + argc));
  if (command == "verify") return RunVerify(std::vector<std::string>(argv + 2, argv + argc));
  if (command == "sign") return RunSign(std::vector<std::string>(argv + 2, argv + argc));
  if (command != "l" && command != "t" && command != "x") {
    return UsageError(("unknown command \"" + command + "\"").c_str());
  }
  std::string file;
  std::string target;
  bool have_file = false;
  bool have_target = false;
  bool options_done = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "-h" || arg == "--help")) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (!options_done && arg == "-d") {
      if (command != "x") return UsageError("-d is only for x");
      if (have_target) return UsageError("-d given twice");
      if (i + 1 >= argc) return UsageError("-d needs a folder");
      target = argv[++i];
      if (target.empty()) return UsageError("-d needs a folder");
      have_target = true;
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return UsageError(("unknown option \"" + arg + "\"").c_str());
    } else {
      if (have_file) return UsageError("one cabinet file at a time");
      file = arg;
      have_file = true;
    }
  }
  if (!have_file || file.empty()) return UsageError("no cabinet file given");
  if (command == "l") return List(file);
  if (command == "t") return ExtractSet(file, ".", true);
  return ExtractSet(file, have_target ? target : std::string("."), false);
}

}  // namespace
}  // namespace kestrin

int main(int argc, char** argv) {
  // The LZX and Quantum encoders of c walk their large tables at random:
  // huge pages spare them a TLB miss per step.
  kestrin::cab::SetLargeMemory({kestrin::host::AllocateLarge, kestrin::host::ReleaseLarge});
  return kestrin::Run(argc, argv);
}
