// kestrin-cab c: packs files and folders into a cabinet, or a set of
// cabinets of a maximum size (see the usage text in kestrin_cab.cc).
//
// Everything is checked before anything is written: every input is found,
// every stored name is one an extraction folder can hold, no name is given
// twice. The cabinets are written under temporary names beside OUT.cab and
// renamed when all are complete, so a failure (a full disk, a file that
// changed while it was read) leaves the old OUT.cab, if any, as it was.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "bundle/bundle_format.h"
#include "bundle/crt_file_io.h"
#include "cabinet/cab_writer.h"
#include "host/dos_time.h"
#include "host/file_system.h"
#include "host/local_file.h"
#include "host/path_resolve.h"
#include "signature/signature.h"
#include "tools/cab_commands.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;

struct Input {
  std::string path;  // on disk
  cab::CabFileEntry entry;
};

void PrintError(const std::string& text) { std::fprintf(stderr, "kestrin-cab: %s\n", text.c_str()); }

// A size with an optional suffix K, M or G (powers of 1024).
bool ParseSize(const std::string& text, uint64_t* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  size_t end = 0;
  unsigned long long n = 0;
  try {
    n = std::stoull(text, &end);
  } catch (...) {
    return false;
  }
  int shift = 0;
  if (end + 1 == text.size()) {
    switch (text[end]) {
      case 'k': case 'K': shift = 10; break;
      case 'm': case 'M': shift = 20; break;
      case 'g': case 'G': shift = 30; break;
      default: return false;
    }
  } else if (end != text.size()) {
    return false;
  }
  if (n > (UINT64_MAX >> shift)) return false;
  *value = n << shift;
  return true;
}

bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size() + (extra == 0)) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += 1 + extra;
  }
  return true;
}

// The stored name of a command-line argument: "/" and "\" become "\",
// leading separators and "." parts go. Whether a ".." is left is for
// cab::IsStorableName to say.
std::string StoredName(const std::string& arg) {
  std::string name;
  size_t start = 0;
  while (start <= arg.size()) {
    size_t end = arg.find_first_of("/\\", start);
    if (end == std::string::npos) end = arg.size();
    const std::string part = arg.substr(start, end - start);
    if (!part.empty() && part != ".") name += (name.empty() ? "" : "\\") + part;
    start = end + 1;
  }
  return name;
}

class Collector {
 public:
  explicit Collector(std::vector<fs::path> outputs) : outputs_(std::move(outputs)) {}

  // Adds `path` stored as `name` (a folder: everything below it, sorted by
  // name, `name` "" for its contents at the top).
  bool Add(const fs::path& path, const std::string& name, int depth = 0) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec) return Error(path.string() + ": " + ec.message());
    if (fs::is_directory(st)) {
      if (depth > kMaxTreeDepth) return Error(path.string() + ": folders nest too deep (a loop of links?)");
      std::vector<std::string> children;
      for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        children.push_back(it->path().filename().string());
      }
      if (ec) return Error(path.string() + ": cannot read the folder: " + ec.message());
      std::sort(children.begin(), children.end());
      for (const std::string& child : children) {
        if (!Add(path / child, name.empty() ? child : name + "\\" + child, depth + 1)) return false;
      }
      return true;
    }
    if (!fs::is_regular_file(st)) {
      return Error(path.string() + ": not a regular file or folder (a FIFO, device or socket)");
    }
    for (const fs::path& out : outputs_) {
      if (path.filename() == out.filename() && fs::equivalent(path, out, ec)) {
        std::fprintf(stderr, "kestrin-cab: %s: left out (it is the cabinet being written)\n",
                     path.string().c_str());
        return true;
      }
    }
    Input input;
    input.path = path.string();
    input.entry.name = name;
    std::string why;
    if (!cab::IsStorableName(name, &why)) return Error(path.string() + ": cannot be stored as \"" + name + "\": " + why);
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) return Error(path.string() + ": " + ec.message());
    if (size > cab::kMaxFolderSize) {
      return Error(path.string() + ": " + std::to_string(size) +
                   " bytes is more than a cabinet can hold in one file (" +
                   std::to_string(cab::kMaxFolderSize) + " bytes)");
    }
    input.entry.size = static_cast<uint32_t>(size);
    const auto mtime = fs::last_write_time(path, ec);
    time_t t = 0;
    if (!ec) {
      t = std::chrono::system_clock::to_time_t(
          std::chrono::time_point_cast<std::chrono::system_clock::duration>(
              std::chrono::file_clock::to_sys(mtime)));
    }
    TimeTToDosDateTime(t, &input.entry.date, &input.entry.time);
    const fs::perms perms = st.permissions();
    input.entry.attribs = cab::kAttribArchive;
    if ((perms & fs::perms::owner_write) == fs::perms::none) input.entry.attribs |= cab::kAttribReadOnly;
    if (IsMarkedExecutable(perms)) input.entry.attribs |= cab::kAttribExecute;
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) &&
        IsUtf8(name)) {
      input.entry.attribs |= cab::kAttribNameIsUtf8;
    }
    auto [it, fresh] = seen_.emplace(AsciiLower(name), input.path);
    if (!fresh) {
      return Error("\"" + name + "\" would be stored twice (from " + it->second + " and " + input.path + ")");
    }
    inputs_.push_back(std::move(input));
    return true;
  }

  std::vector<Input>& inputs() { return inputs_; }

 private:
  bool Error(const std::string& text) {
    PrintError(text);
    return false;
  }

  std::vector<fs::path> outputs_;
  std::vector<Input> inputs_;
  std::map<std::string, std::string> seen_;  // lower-case name -> where it came from
};

// The names of a set: OUT.cab, OUT2.cab, OUT3.cab, ...
class SetNames {
 public:
  explicit SetNames(const std::string& out) {
    const fs::path p(out);
    dir_ = p.parent_path();
    stem_ = p.stem().string();
    ext_ = p.extension().string();
  }
  std::string Name(int index) const { return stem_ + (index == 0 ? "" : std::to_string(index + 1)) + ext_; }
  fs::path Path(int index) const { return dir_ / Name(index); }

 private:
  fs::path dir_;
  std::string stem_, ext_;
};

std::string IoErrorText() {
  const int err = CrtLastWriteErrno();
  return err != 0 ? std::strerror(err) : std::string();
}

cab::INT_PTR CreateExclusive(const fs::path& path, std::string* error) {
  const cab::INT_PTR hf = CrtOpen(path.string().c_str(), kCrtBinary | kCrtCreat | kCrtExcl | kCrtRdWr,
                                  kCrtIRead | kCrtIWrite);
  if (hf == -1) *error = path.string() + ": " + std::strerror(errno);
  return hf;
}

uint16_t SetId(const std::string& out, const std::vector<Input>& inputs) {
  uint32_t h = 2166136261u;  // FNV-1a of the names and sizes: the same input gives the same set
  auto mix = [&h](const std::string& s) {
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
  };
  mix(fs::path(out).filename().string());
  for (const Input& in : inputs) mix(in.entry.name + "/" + std::to_string(in.entry.size));
  return static_cast<uint16_t>(h ^ (h >> 16));
}

// The certificate and key c --sign signs with; empty when not signing.
struct Signing {
  std::string cert, key;
  bool wanted() const { return !cert.empty(); }
};

int Pack(const std::string& out, const cab::CabWriterOptions& base, std::vector<Input>& inputs,
         const Signing& signing) {
  const SetNames names(out);
  cab::CabWriterOptions options = base;
  options.set_id = SetId(out, inputs);
  std::random_device random;
  const std::string tag = ".kestrin-" + std::to_string(random() % 1000000);
  std::vector<fs::path> temps;  // temporary cabinets, by index
  const fs::path scratch = fs::path(out).string() + tag + ".data";
  bool have_scratch = false;

  cab::CabWriterIo io;
  io.cabinet_name = [&names](int index) { return names.Name(index); };
  io.create_cabinet = [&](int index, std::string* error) {
    temps.resize(std::max<size_t>(temps.size(), static_cast<size_t>(index) + 1));
    temps[index] = names.Path(index).string() + tag;
    return CreateExclusive(temps[index], error);
  };
  io.create_scratch = [&](std::string* error) {
    const cab::INT_PTR hf = CreateExclusive(scratch, error);
    have_scratch = hf != -1;
    return hf;
  };
  io.read = CrtRead;
  io.write = CrtWrite;
  io.seek = CrtSeek;
  io.close = CrtClose;
  io.io_error = IoErrorText;

  // Progress on a terminal: the share of the input read so far.
  const bool show_progress = IsTerminal(stderr);
  uint64_t total = 0, done = 0;
  int shown = -1;
  for (const Input& in : inputs) total += in.entry.size;
  auto progress = [&](uint64_t n) {
    done += n;
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (show_progress && percent != shown) {
      std::fprintf(stderr, "\rkestrin-cab: %3d%% packed", percent);
      shown = percent;
    }
  };

  cab::CabWriter writer(options, io);
  bool ok = writer.Open();
  for (size_t i = 0; ok && i < inputs.size(); ++i) {
    const Input& in = inputs[i];
    const cab::INT_PTR hf = CrtOpen(in.path.c_str(), kCrtBinary | kCrtRdOnly, 0);
    if (hf == -1) {
      PrintError(in.path + ": cannot open the file: " + std::strerror(errno));
      ok = false;
      break;
    }
    ok = writer.AddFile(in.entry, [&](uint8_t* buffer, size_t size, std::string* error) -> int64_t {
      const uint32_t n = CrtRead(hf, buffer, static_cast<uint32_t>(size));
      if (n == cab::kIoError) {
        *error = "cannot read " + in.path + ": " + std::strerror(errno);
        return -1;
      }
      progress(n);
      return n;
    });
    CrtClose(hf);
  }
  ok = ok && writer.Finish();
  if (shown >= 0) std::fprintf(stderr, "\r%24s\r", "");
  std::error_code ec;
  if (ok && signing.wanted()) {
    // Signed before it is put in place: no unsigned cabinet appears.
    std::string why;
    ok = SignCabinet(signing.cert, signing.key, temps[0].string(), temps[0].string(), &why);
    if (!ok) PrintError(out + ": cannot sign: " + why);
  }
  if (ok) {
    for (size_t i = 0; ok && i < temps.size(); ++i) {
      fs::rename(temps[i], names.Path(static_cast<int>(i)), ec);
      if (ec) {
        PrintError(names.Path(static_cast<int>(i)).string() + ": cannot rename " + temps[i].string() +
                   " into place: " + ec.message());
        ok = false;
      }
    }
  } else if (!writer.LastError().empty()) {
    PrintError(out + ": " + writer.LastError());
  }
  if (have_scratch) fs::remove(scratch, ec);
  for (const fs::path& temp : temps) fs::remove(temp, ec);
  if (!ok) return kCabExitFailure;

  const cab::CabWriterStats& stats = writer.Stats();
  for (size_t i = 0; i < stats.cabinet_sizes.size(); ++i) {
    const fs::path path = names.Path(static_cast<int>(i));
    const uintmax_t size = signing.wanted() ? fs::file_size(path, ec) : stats.cabinet_sizes[i];
    std::printf("%s\t%llu bytes%s\n", path.string().c_str(), static_cast<unsigned long long>(size),
                signing.wanted() ? ", signed" : "");
  }
  const double percent = stats.uncompressed ? 100.0 * stats.data / stats.uncompressed : 0.0;
  std::printf("%llu files, %llu bytes packed into %llu (%.1f%%, %s) in %zu cabinet%s\n",
              static_cast<unsigned long long>(stats.files),
              static_cast<unsigned long long>(stats.uncompressed),
              static_cast<unsigned long long>(stats.data), percent,
              cab::EncoderSpecName(options.method).c_str(), stats.cabinet_sizes.size(),
              stats.cabinet_sizes.size() == 1 ? "" : "s");
  return kCabExitOk;
}

}  // namespace

int RunCreate(const std::vector<std::string>& args) {
  cab::CabWriterOptions options;
  options.method.method = cab::EncoderSpec::kMszip;
  std::string out;
  std::string bundle;
  std::vector<std::string> sources;
  Signing signing;
  bool have_out = false;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "-h" || arg == "--help")) {
      return CabHelp();
    } else if (!options_done && arg == "-m") {
      const std::string* v = value();
      std::string why;
      if (v == nullptr) return CabUsageError("-m needs a method");
      if (!cab::ParseEncoderSpec(*v, &options.method, &why)) return CabUsageError(why);
    } else if (!options_done && arg == "-d") {
      const std::string* v = value();
      uint64_t size = 0;
      if (v == nullptr || !ParseSize(*v, &size)) return CabUsageError("-d needs a size in bytes (K, M and G may follow)");
      if (size < cab::kMinSpanCabinetSize || size > cab::kMaxCabinetSize) {
        return CabUsageError("-d: a cabinet of a set must have room for " + std::to_string(cab::kMinSpanCabinetSize) +
                             " to " + std::to_string(cab::kMaxCabinetSize) + " bytes");
      }
      options.max_cabinet_size = static_cast<uint32_t>(size);
    } else if (!options_done && arg == "-r") {
      const std::string* v = value();
      uint64_t size = 0;
      if (v == nullptr || !ParseSize(*v, &size) || size > cab::kMaxCabinetHeaderReserve) {
        return CabUsageError("-r needs a header reserve of 0 to 60000 bytes");
      }
      options.header_reserve = static_cast<uint16_t>(size);
    } else if (!options_done && arg == "--sign") {
      const std::string* cert = value();
      const std::string* key = cert ? value() : nullptr;
      if (key == nullptr || cert->empty() || key->empty()) return CabUsageError("--sign needs CERT and KEY");
      signing = {ResolvePath(*cert), ResolvePath(*key)};
    } else if (!options_done && arg == "--bundle") {
      const std::string* v = value();
      if (v == nullptr || v->empty()) return CabUsageError("--bundle needs the bundle's folder");
      bundle = *v;
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return CabUsageError("unknown option \"" + arg + "\"");
    } else if (!have_out) {
      out = arg;
      have_out = true;
    } else {
      sources.push_back(arg);
    }
  }
  if (!have_out || out.empty()) return CabUsageError("no cabinet file given");
  if (!bundle.empty() && !sources.empty()) return CabUsageError("--bundle packs its folder alone");
  if (options.max_cabinet_size != 0 && options.max_cabinet_size < cab::kMinSpanCabinetSize + options.header_reserve) {
    return CabUsageError("-d: the cabinets must be larger than the header reserve by " +
                         std::to_string(cab::kMinSpanCabinetSize) + " bytes at least");
  }
  if (signing.wanted() && options.max_cabinet_size != 0) {
    return CabUsageError("--sign signs a single cabinet; -d makes a set");
  }
  if (std::string why; signing.wanted() && !CheckSigningIdentity(signing.cert, signing.key, &why)) {
    PrintError("--sign: " + why);
    return kCabExitFailure;
  }
  {
    // The method is known before any file is read.
    std::string why;
    if (!cab::MakeBlockEncoder(options.method, [](const uint8_t*, uint32_t, uint32_t) { return true; }, &why)) {
      PrintError(cab::EncoderSpecName(options.method) + ": " + why);
      return kCabExitFailure;
    }
  }

  const SetNames names(out);
  std::vector<fs::path> outputs;
  for (int i = 0; i < 100; ++i) outputs.push_back(names.Path(i));
  Collector collector(outputs);
  bool absolute_note = false;
  if (!bundle.empty()) {
    std::error_code ec;
    if (!fs::is_directory(bundle, ec)) {
      PrintError(bundle + ": not a folder");
      return kCabExitFailure;
    }
    if (LintBundle(bundle, false) != kCabExitOk) {
      PrintError(bundle + ": not packed: the bundle has errors");
      return kCabExitFailure;
    }
    // Its contents at the top, hw.ini first.
    if (!collector.Add(fs::path(bundle), "")) return kCabExitFailure;
    std::vector<Input>& inputs = collector.inputs();
    std::stable_partition(inputs.begin(), inputs.end(),
                          [](const Input& in) { return EqualsIgnoreCase(in.entry.name, bundle::kDescriptionFile); });
  }
  for (const std::string& source : sources) {
    if (IsAbsolutePath(source) && !absolute_note) {
      std::fprintf(stderr, "kestrin-cab: leading \"/\" removed from stored names\n");
      absolute_note = true;
    }
    if (!collector.Add(fs::path(source), StoredName(source))) return kCabExitFailure;
  }
  return Pack(out, options, collector.inputs(), signing);
}

}  // namespace kestrin
