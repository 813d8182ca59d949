// Runs kestrinctl in this process and captures what it prints.
#ifndef KESTRIN_TESTS_CTL_RUN_CTL_H_
#define KESTRIN_TESTS_CTL_RUN_CTL_H_

#include <cstdio>
#include <string>
#include <vector>

#include "ctl/ctl_command.h"

namespace kestrin::ctl {

struct Captured {
  int status;
  std::string out, err;
};

// Everything written to `f`, which is closed.
inline std::string ReadAll(std::FILE* f) {
  std::string text;
  rewind(f);
  for (int c; (c = fgetc(f)) != EOF;) text += static_cast<char>(c);
  fclose(f);
  return text;
}

inline Captured RunCtl(const std::vector<std::string>& args) {
  CtlOutput io{tmpfile(), tmpfile()};
  const int status = RunKestrinctl(args, io);
  return {status, ReadAll(io.out), ReadAll(io.err)};
}

}  // namespace kestrin::ctl

#endif  // KESTRIN_TESTS_CTL_RUN_CTL_H_
