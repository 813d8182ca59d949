#include "host/local_file.h"

#include <unistd.h>

namespace kestrin {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

bool IsMarkedExecutable(std::filesystem::perms perms) {
  return (perms & std::filesystem::perms::owner_exec) != std::filesystem::perms::none;
}

}  // namespace kestrin
