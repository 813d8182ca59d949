#include "host/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::ScopedTempDir;
using testing::SharedDir;

// One cell of cmdline.tsv: a JSON string, null, an array of strings, or a
// bare token such as "-" or "1".
struct Cell {
  enum Kind { kBare, kNull, kString, kArray } kind = kBare;
  std::string text;                // kBare, kString
  std::vector<std::string> items;  // kArray
};

class CellParser {
 public:
  explicit CellParser(const std::string& s) : s_(s) {}
  bool Parse(Cell* cell) {
    if (s_ == "null") {
      cell->kind = Cell::kNull;
      return true;
    }
    if (!s_.empty() && s_[0] == '"') {
      cell->kind = Cell::kString;
      return String(&cell->text) && pos_ == s_.size();
    }
    if (!s_.empty() && s_[0] == '[') {
      cell->kind = Cell::kArray;
      ++pos_;
      if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_ == s_.size();
      for (;;) {
        std::string item;
        if (!String(&item)) return false;
        cell->items.push_back(item);
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        return pos_ < s_.size() && s_[pos_] == ']' && ++pos_ == s_.size();
      }
    }
    cell->kind = Cell::kBare;
    cell->text = s_;
    return true;
  }

 private:
  bool String(std::string* out) {
    if (pos_ >= s_.size() || s_[pos_] != '"') return false;
    ++pos_;
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= s_.size()) return false;
      const char e = s_[pos_++];
      switch (e) {
        case 'n': *out += '\n'; break;
        case 't': *out += '\t'; break;
        case 'r': *out += '\r'; break;
        case 'u': {
          if (pos_ + 4 > s_.size()) return false;
          const unsigned code = std::stoul(s_.substr(pos_, 4), nullptr, 16);
          pos_ += 4;
          if (code > 0xff) return false;  // the table is plain ASCII
          *out += static_cast<char>(code);
          break;
        }
        default: *out += e;  // \" \\ \/
      }
    }
    return false;
  }
  const std::string& s_;
  size_t pos_ = 0;
};

struct Row {
  std::string id;
  Cell cmdline, app, create, started, child_cmdline, msvcrt;
};

std::vector<Row> LoadRows() {
  std::ifstream in(SharedDir() / "corpus" / "winapi" / "cmdline.tsv");
  EXPECT_TRUE(in.good());
  std::vector<Row> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) fields.push_back(field);
    if (fields.size() < 8) {
      ADD_FAILURE() << "short row: " << line;
      continue;
    }
    Row row;
    row.id = fields[0];
    Cell* cells[] = {&row.cmdline, &row.app, &row.create, &row.started, &row.child_cmdline, nullptr,
                     &row.msvcrt};
    for (int i = 0; i < 7; ++i) {
      if (cells[i] == nullptr) continue;
      EXPECT_TRUE(CellParser(fields[i + 1]).Parse(cells[i])) << "row " << row.id << " column " << i + 1;
    }
    rows.push_back(row);
  }
  return rows;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size()) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

TEST(SplitCommandLineTest, AgreesWithTheChildRuntimeOnEveryRecordedLine) {
  const std::vector<Row> rows = LoadRows();
  int tested = 0;
  for (const Row& row : rows) {
    if (row.msvcrt.kind != Cell::kArray) continue;
    ASSERT_EQ(row.child_cmdline.kind, Cell::kString) << "row " << row.id;
    // The child's own command line: Wine rewrote a few (quotes added), and
    // the runtime split what the child got.
    EXPECT_EQ(SplitCommandLine(row.child_cmdline.text), row.msvcrt.items)
        << "row " << row.id << ": " << row.child_cmdline.text;
    ++tested;
  }
  EXPECT_EQ(tested, 77);
}

TEST(SplitCommandLineTest, EdgeCases) {
  EXPECT_EQ(SplitCommandLine(""), std::vector<std::string>{""});
  EXPECT_EQ(SplitCommandLine("a"), std::vector<std::string>{"a"});
  EXPECT_EQ(SplitCommandLine("a \"\"\""), (std::vector<std::string>{"a", "\""}));
  EXPECT_EQ(SplitCommandLine("a \\\\"), (std::vector<std::string>{"a", "\\\\"}));
  EXPECT_EQ(SplitCommandLine("a \"b\\\\\"\" c\""), (std::vector<std::string>{"a", "b\\\" c"}));
}

class ProgramLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (temp_.path() / "oracle").string();
    for (const char* name : {"cmd/child.exe", "a.exe", "a b/c.exe", "d e/f.exe", "prog files/child.exe",
                             "sp/x.exe", "sp/x y.exe", "bin/child.exe", "bin/oracle.exe"}) {
      Script(name, "exit 0\n");
    }
    old_dir_ = fs::current_path();
    fs::current_path(root_ + "/cmd");
    options_.application_dir = root_ + "/bin";
  }
  void TearDown() override { fs::current_path(old_dir_); }

  // An executable shell script at root_/name.
  void Script(const std::string& name, const std::string& body) {
    const fs::path path = fs::path(root_) / name;
    fs::create_directories(path.parent_path());
    testing::WriteFileOrDie(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
  }
  // The table's C:\oracle is our temporary folder.
  std::string Map(const std::string& windows_text) const {
    return Replace(windows_text, "C:\\oracle", root_);
  }

  ScopedTempDir temp_;
  std::string root_;
  fs::path old_dir_;
  ProcessOptions options_;
};

TEST_F(ProgramLookupTest, FindsWhatCreateProcessStarted) {
  const std::vector<Row> rows = LoadRows();
  int tested = 0, skipped = 0;
  for (const Row& row : rows) {
    if (row.create.kind == Cell::kBare && row.create.text == "-") {
      ++skipped;  // no process was started for this row
      continue;
    }
    if (row.app.kind != Cell::kNull) {
      ++skipped;  // a separate program name: not a form Kestrin uses
      continue;
    }
    const std::string line = Map(row.cmdline.text);
    std::string reason;
    const std::string program = FindProgram(line, options_, &reason);
    const bool started = row.create.kind == Cell::kBare && row.create.text == "1";
    if (started) {
      const std::string expected = Replace(Map(row.started.text), "\\", "/");
      ASSERT_FALSE(program.empty()) << "row " << row.id << ": " << line << ": " << reason;
      EXPECT_EQ(fs::canonical(program), fs::canonical(expected)) << "row " << row.id << ": " << line;
    } else {
      EXPECT_EQ(program, "") << "row " << row.id << ": " << line;
      EXPECT_FALSE(reason.empty()) << "row " << row.id;
    }
    ++tested;
  }
  EXPECT_EQ(tested, 77);
  EXPECT_EQ(skipped, 12);  // 4 rows without a process, 8 with an application name
}

TEST_F(ProgramLookupTest, RunsAndWaits) {
  Script("bin/args.sh", "for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$OUT\"\nexit 7\n");
  const std::string out = temp_.Sub("out.txt");
  setenv("OUT", out.c_str(), 1);
  // Backslashes and another letter case in the program path, as a lowered
  // post command would have them.
  const std::string line = Replace(root_, "/oracle", "/ORACLE") + "\\BIN\\ARGS.SH \"a b\" c\\\\\"d\" \"\"";
  const ProcessResult result = RunProcess(line, options_);
  ASSERT_TRUE(result.started) << result.error;
  EXPECT_EQ(result.program, root_ + "/bin/args.sh");
  EXPECT_EQ(result.exit_code, 7);
  EXPECT_FALSE(result.signaled);
  EXPECT_EQ(ReadFileOrDie(out), "[a b][c\\d][]");
  unsetenv("OUT");

  // A bare name found in the application folder, and one found on PATH.
  EXPECT_EQ(RunProcess("oracle a", options_).exit_code, 0);
  const ProcessResult sh = RunProcess("sh -c \"exit 3\"", options_);
  ASSERT_TRUE(sh.started) << sh.error;
  EXPECT_EQ(sh.exit_code, 3);

  Script("bin/killed.sh", "kill -9 $$\n");
  const ProcessResult killed = RunProcess(root_ + "/bin/killed.sh", options_);
  ASSERT_TRUE(killed.started);
  EXPECT_TRUE(killed.signaled);
  EXPECT_EQ(killed.exit_code, 128 + 9);
}

TEST_F(ProgramLookupTest, CouldNotStart) {
  testing::WriteFileOrDie(fs::path(root_) / "bin" / "plain.txt", "not a program");
  chmod((root_ + "/bin/plain.txt").c_str(), 0644);
  testing::WriteFileOrDie(fs::path(root_) / "bin" / "garbage.bin", "\x01\x02\x03 not a program");
  chmod((root_ + "/bin/garbage.bin").c_str(), 0755);
  const std::string lines[] = {
      "",
      " " + root_ + "/bin/child.exe",
      root_ + "/bin/missing.exe a b",
      "\"" + root_ + "/bin/child.exe",    // unclosed quote
      "\"" + root_ + "/bin\" x",          // a folder
      root_ + "/bin/plain.txt",            // not executable
      root_ + "/bin/garbage.bin",          // no program format the system knows
      "no-such-program-anywhere-kestrin x",
  };
  for (const std::string& line : lines) {
    const ProcessResult result = RunProcess(line, options_);
    EXPECT_FALSE(result.started) << line;
    EXPECT_FALSE(result.error.empty()) << line;
    EXPECT_EQ(result.exit_code, -1) << line;
  }
}

TEST_F(ProgramLookupTest, StartsWithoutWaiting) {
  const std::string flag = temp_.Sub("done.flag");
  Script("bin/later.sh", "sleep 0.2\ntouch '" + flag + "'\n");
  ProcessOptions options = options_;
  options.wait = false;
  const ProcessResult result = RunProcess(root_ + "/bin/later.sh", options);
  ASSERT_TRUE(result.started) << result.error;
  EXPECT_EQ(result.exit_code, -1);
  for (int i = 0; i < 100 && !fs::exists(flag); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(fs::exists(flag));
}

}  // namespace
}  // namespace kestrin
