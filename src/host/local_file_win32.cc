#include "host/local_file.h"

#include <io.h>

namespace kestrin {

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

bool IsMarkedExecutable(std::filesystem::perms) { return false; }

}  // namespace kestrin
