#include "app/command_line.h"

#include <strings.h>

namespace kestrin {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool HasBinDirPrefix(const std::string& text) {
  return text.size() >= 3 && strncasecmp(text.c_str(), "/i=", 3) == 0;
}

// Reads a quoted value whose opening quote sits at `quote`. Sets *value to the
// text up to the next quote (or to the end) and returns the read position
// after it: two past the closing quote, or npos when the quote never closes.
size_t ReadQuoted(const std::string& line, size_t quote, std::string* value) {
  size_t close = line.find('"', quote + 1);
  if (close == std::string::npos) {
    *value = line.substr(quote + 1);
    return std::string::npos;
  }
  *value = line.substr(quote + 1, close - quote - 1);
  return close + 2;
}

}  // namespace

bool RebuildCommandLine(const std::vector<std::string>& args, std::string* command_line,
                        std::string* error) {
  std::string line;
  for (const std::string& arg : args) {
    if (arg.empty()) continue;
    if (arg.find('"') != std::string::npos) {
      *error = "kestrin: the argument '" + arg +
               "' contains a double quote, which a Windows command line cannot carry";
      return false;
    }
    if (!line.empty()) line += ' ';
    if (arg.find_first_of(" \t") == std::string::npos) {
      line += arg;
    } else if (HasBinDirPrefix(arg)) {
      line += arg.substr(0, 3) + '"' + arg.substr(3) + '"';
    } else {
      line += '"' + arg + '"';
    }
  }
  *command_line = line;
  return true;
}

int ParseCommandLine(const std::string& command_line, tCommandLineSwitches* switches,
                     std::vector<std::string>* bundles) {
  const std::string line = command_line;  // the parser works on its own copy
  int count = 0;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size()) break;
    size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    std::string token = line.substr(start, pos - start);
    ++pos;  // past the blank (or the end) that ended the token

    if (strcasecmp(token.c_str(), "/s") == 0) {
      switches->SilentMode = true;
    } else if (strcasecmp(token.c_str(), "/f") == 0) {
      switches->ForceOverwrite = true;
    } else if (strcasecmp(token.c_str(), "/r") == 0) {
      switches->RecoverTemplates = true;
    } else if (HasBinDirPrefix(token)) {
      if (token.size() > 3 && token[3] == '"') {
        pos = ReadQuoted(line, start + 3, &switches->BinDir);
      } else {
        switches->BinDir = token.substr(3);
      }
    } else {
      std::string argument = token;
      if (token[0] == '"') pos = ReadQuoted(line, start, &argument);
      if (!argument.empty()) {
        bundles->push_back(argument);
        ++count;
      }
    }
  }
  return count;
}

}  // namespace kestrin
