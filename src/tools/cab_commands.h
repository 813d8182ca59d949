// The kestrin-cab commands that live in files of their own.
#ifndef KESTRIN_TOOLS_CAB_COMMANDS_H_
#define KESTRIN_TOOLS_CAB_COMMANDS_H_

#include <string>
#include <vector>

namespace kestrin {

// Exit statuses of every command.
inline constexpr int kCabExitOk = 0;
inline constexpr int kCabExitFailure = 1;
inline constexpr int kCabExitUsage = 2;

// kestrin-cab c: `args` are the arguments after "c".
int RunCreate(const std::vector<std::string>& args);

// kestrin-cab lint: `args` are the arguments after "lint".
int RunLint(const std::vector<std::string>& args);
// Checks the bundle cabinet or folder `path` and prints the findings (as
// JSON with `json`); kCabExitFailure when there is an error.
int LintBundle(const std::string& path, bool json);

// kestrin-cab verify FILE [--trust DIR|FILE]...: exits with the outcome's
// SignatureStatus (signature/signature.h).
int RunVerify(const std::vector<std::string>& args);
// kestrin-cab sign CERT KEY IN.cab [OUT.cab]
int RunSign(const std::vector<std::string>& args);
// The last line of l's listing: "# not signed", "# signed by SUBJECT" or
// "# signature damaged: REASON" (the signature is not checked here).
void PrintSignatureLine(const std::string& path);

// Prints "kestrin-cab: WHAT" and the usage on standard error; returns 2.
int CabUsageError(const std::string& what);
// Prints the usage on standard output; returns 0.
int CabHelp();

}  // namespace kestrin

#endif  // KESTRIN_TOOLS_CAB_COMMANDS_H_
