// Reading the recorded results of Windows calls in corpus/winapi: one call a
// line, tab-separated, a header line first.
#ifndef KESTRIN_TESTS_HOST_WINAPI_TABLE_H_
#define KESTRIN_TESTS_HOST_WINAPI_TABLE_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kestrin::testing {

// The rows of corpus/winapi/<name> after the header, each padded to columns.
inline std::vector<std::vector<std::string>> ReadWinapiTable(const std::string& name, size_t columns) {
  std::ifstream in(SharedDir() / "corpus/winapi" / name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) fields.push_back(cell);
    fields.resize(std::max(columns, fields.size()));
    rows.push_back(std::move(fields));
  }
  return rows;
}

// A field in the tables' escaping: \\ \t \n \r \0 \xHH; "\N" is a NULL pointer.
inline std::optional<std::string> Unescape(const std::string& field) {
  if (field == "\\N") return std::nullopt;
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 >= field.size()) {
      out += field[i];
      continue;
    }
    const char c = field[++i];
    if (c == 'x') {
      out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      const std::string from = "tnr0", to("\t\n\r\0", 4);
      const size_t k = from.find(c);
      out += k == std::string::npos ? c : to[k];
    }
  }
  return out;
}

// The strings of a JSON cell (cmdline.tsv): one for a string, each item of
// an array; bare tokens such as "-", "1" or null give none.
inline std::vector<std::string> JsonStrings(const std::string& cell) {
  std::vector<std::string> out;
  bool in_string = false;
  for (size_t i = 0; i < cell.size(); ++i) {
    const char c = cell[i];
    if (!in_string) {
      if (c == '"') out.emplace_back();
      in_string = c == '"';
    } else if (c == '"') {
      in_string = false;
    } else if (c == '\\' && i + 1 < cell.size()) {
      const char e = cell[++i];
      out.back() += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
    } else {
      out.back() += c;
    }
  }
  return out;
}

// `text` with every `from` replaced by `to` (the oracle's C:\oracle folder
// by where the test lays it out).
inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size()) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_HOST_WINAPI_TABLE_H_
