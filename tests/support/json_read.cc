#include "support/json_read.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/child.h"
#include "support/temp_dir.h"

namespace kestrin::testing {

namespace {
// One "path<TAB>value" line per leaf; the document on standard input.
constexpr char kFlatten[] = R"(import json, sys
def walk(path, v):
    if isinstance(v, dict):
        if not v: print(path + "\t{}")
        for k, x in v.items(): walk(path + "." + k if path else k, x)
    elif isinstance(v, list):
        if not v: print(path + "\t[]")
        for i, x in enumerate(v): walk(path + "." + str(i) if path else str(i), x)
    else:
        print(path + "\t" + (v if isinstance(v, str) else json.dumps(v)))
walk("", json.load(open(sys.argv[1], encoding="utf-8")))
)";
}  // namespace

std::map<std::string, std::string> ReadJson(const std::string& text) {
  ScopedTempDir dir;
  const std::string file = (dir.path() / "doc.json").string();
  std::ofstream(file, std::ios::binary) << text;
  const RunResult result = RunProgram({"python3", "-c", kFlatten, file});
  std::map<std::string, std::string> values;
  if (result.exit_code != 0) {
    ADD_FAILURE() << "not JSON: " << result.err << "\n" << text;
    return values;
  }
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    values[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return values;
}

}  // namespace kestrin::testing
