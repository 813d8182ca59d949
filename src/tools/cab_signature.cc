// kestrin-cab verify and sign, and the signature line of l.
#include <cstdio>
#include <string>
#include <vector>

#include "host/path_resolve.h"
#include "signature/signature.h"
#include "tools/cab_commands.h"

namespace kestrin {

int RunVerify(const std::vector<std::string>& args) {
  std::string file;
  bool have_file = false;
  bool options_done = false;
  std::vector<std::string> trust;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "-h" || arg == "--help")) {
      return CabHelp();
    } else if (!options_done && arg == "--trust") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return CabUsageError("--trust needs a file or folder");
      trust.push_back(ResolvePath(args[++i]));
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return CabUsageError("unknown option \"" + arg + "\"");
    } else {
      if (have_file) return CabUsageError("one cabinet file at a time");
      file = arg;
      have_file = true;
    }
  }
  if (!have_file || file.empty()) return CabUsageError("no cabinet file given");
  sig::TrustAnchors anchors;
  std::string error;
  if (!LoadTrustAnchors(trust, &anchors, &error)) {
    std::fprintf(stderr, "kestrin-cab: --trust: %s\n", error.c_str());
    return kCabExitUsage;
  }

  SignatureCheck check;
  const SignatureStatus status = VerifyCabinetSignature(ResolvePath(file), anchors, &check);
  const int code = static_cast<int>(status);
  if (status != SignatureStatus::kValid) {
    std::fprintf(stderr, "%s: %s: %s (code %d)\n", file.c_str(), SignatureStatusText(status),
                 check.reason.c_str(), code);
    return code;
  }
  std::string line = file + ": valid signature by " + check.signer + " (" + check.digest;
  if (check.timestamped) {
    line += ", time stamp " + sig::FormatTime(check.timestamp) + " by " + check.timestamp_signer;
  }
  line += ")\n";
  std::fputs(line.c_str(), stdout);
  return std::fflush(stdout) == 0 ? kCabExitOk : kCabExitFailure;
}

int RunSign(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool options_done = false;
  for (const std::string& arg : args) {
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "-h" || arg == "--help")) {
      return CabHelp();
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return CabUsageError("unknown option \"" + arg + "\"");
    } else {
      if (arg.empty()) return CabUsageError("an empty file name");
      files.push_back(arg);
    }
  }
  if (files.size() < 3) return CabUsageError("sign needs CERT, KEY and the cabinet");
  if (files.size() > 4) return CabUsageError("sign takes CERT KEY IN.cab [OUT.cab]");
  const std::string in = ResolvePath(files[2]);
  const std::string out = files.size() == 4 ? ResolvePath(files[3]) : in;
  std::string error;
  if (!SignCabinet(ResolvePath(files[0]), ResolvePath(files[1]), in, out, &error)) {
    std::fprintf(stderr, "%s: cannot sign: %s (code %d)\n", files[2].c_str(), error.c_str(),
                 kCabExitFailure);
    return kCabExitFailure;
  }
  SignatureCheck check;
  ReadCabinetSigner(out, &check);
  std::printf("%s: signed by %s\n", files.back().c_str(), check.signer.c_str());
  return std::fflush(stdout) == 0 ? kCabExitOk : kCabExitFailure;
}

void PrintSignatureLine(const std::string& path) {
  SignatureCheck check;
  switch (ReadCabinetSigner(path, &check)) {
    case SignatureStatus::kValid:
      std::printf("# signed by %s\n", check.signer.c_str());
      break;
    case SignatureStatus::kNotSigned:
      std::printf("# not signed\n");
      break;
    default:
      std::printf("# signature damaged: %s\n", check.reason.c_str());
      break;
  }
}

}  // namespace kestrin
