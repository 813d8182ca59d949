#include <cstring>

#include "ctl/ctl_command.h"
#include "kestrin_version.h"

namespace kestrin::ctl {
namespace {

void PrintUsage(std::FILE* to) {
  fprintf(to, "Usage: kestrinctl COMMAND [ARGUMENTS]\n");
  for (const CtlCommand* command : CtlCommands())
    fprintf(to, "       kestrinctl %s %s\n", command->name, command->synopsis);
  fprintf(to, "       kestrinctl --help | --version\n\nCommands:\n");
  for (const CtlCommand* command : CtlCommands())
    fprintf(to, "  %-10s %s\n", command->name, command->summary);
  fprintf(to,
          "\n`kestrinctl COMMAND --help` tells more of each. The exit statuses are\n"
          "listed in kestrinctl(1).\n");
}

const CtlCommand* FindCommand(const std::string& name) {
  for (const CtlCommand* command : CtlCommands())
    if (name == command->name) return command;
  return nullptr;
}

}  // namespace

bool ParseArgs(const char* command, const std::vector<std::string>& args,
               const std::set<std::string>& switches, const std::set<std::string>& options,
               ParsedArgs* parsed, CtlOutput& io) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      parsed->operands.insert(parsed->operands.end(), args.begin() + i + 1, args.end());
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      parsed->operands.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (switches.count(name) != 0 && equals == std::string::npos) {
      parsed->switches.insert(name);
    } else if (options.count(name) != 0) {
      if (equals != std::string::npos) {
        parsed->options[name] = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        parsed->options[name] = args[++i];
      } else {
        fprintf(io.err, "kestrinctl %s: %s needs a value\n", command, name.c_str());
        return false;
      }
    } else {
      fprintf(io.err, "kestrinctl %s: unknown option %s (kestrinctl %s --help)\n", command,
              arg.c_str(), command);
      return false;
    }
  }
  return true;
}

int RunKestrinctl(const std::vector<std::string>& args, CtlOutput io) {
  if (args.empty()) {
    PrintUsage(io.err);
    return ExitNumber(CtlExit::kUsage);
  }
  const std::string& first = args[0];
  if (first == "--help" || first == "-h" || first == "help") {
    const CtlCommand* command = args.size() > 1 ? FindCommand(args[1]) : nullptr;
    if (command == nullptr) {
      PrintUsage(io.out);
    } else {
      fprintf(io.out, "Usage: kestrinctl %s %s\n\n%s", command->name, command->synopsis,
              command->help);
    }
    return ExitNumber(CtlExit::kOk);
  }
  if (first == "--version") {
    fprintf(io.out, "kestrinctl %s\n", KESTRIN_VERSION);
    return ExitNumber(CtlExit::kOk);
  }
  const CtlCommand* command = FindCommand(first);
  if (command == nullptr) {
    fprintf(io.err, "kestrinctl: unknown command \"%s\" (kestrinctl --help lists them)\n",
            first.c_str());
    return ExitNumber(CtlExit::kUsage);
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string& arg : rest) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      fprintf(io.out, "Usage: kestrinctl %s %s\n\n%s", command->name, command->synopsis,
              command->help);
      return ExitNumber(CtlExit::kOk);
    }
  }
  return ExitNumber(command->run(rest, io));
}

}  // namespace kestrin::ctl
