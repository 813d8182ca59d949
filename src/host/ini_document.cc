#include "host/ini_document.h"

#include <cstdint>
#include <unordered_map>
#include <utility>

namespace kestrin {
namespace {

bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view IniTrimImpl(std::string_view text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && IsIniBlank(text[b])) ++b;
  while (e > b && IsIniBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// Names given by a caller are trimmed like the names in the file.
std::string_view TrimName(std::string_view name) { return IniTrimImpl(name); }

std::string_view TrimLeadingBlanks(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && (text[b] == ' ' || text[b] == '\t')) ++b;
  return text.substr(b);
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

// UTF-16 (without its mark) to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  std::string out;
  out.reserve(bytes.size());
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t i) -> uint32_t {
    const auto lo = static_cast<unsigned char>(bytes[2 * i + (big_endian ? 1 : 0)]);
    const auto hi = static_cast<unsigned char>(bytes[2 * i + (big_endian ? 0 : 1)]);
    return static_cast<uint32_t>(hi) << 8 | lo;
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      const uint32_t u2 = unit(i + 1);
      if (u2 >= 0xDC00 && u2 < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

// UTF-8 to UTF-16; a byte that does not start a valid sequence is taken as
// a Latin-1 character so that no input is dropped.
std::string Utf8ToUtf16(std::string_view text, bool big_endian) {
  std::string out;
  out.reserve(text.size() * 2);
  auto put = [&](uint32_t u) {
    const char lo = static_cast<char>(u & 0xFF);
    const char hi = static_cast<char>(u >> 8);
    if (big_endian) {
      out += hi;
      out += lo;
    } else {
      out += lo;
      out += hi;
    }
  };
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xC2 && c < 0xE0) {
      n = 2;
    } else if (c >= 0xE0 && c < 0xF0) {
      n = 3;
    } else if (c >= 0xF0 && c < 0xF5) {
      n = 4;
    }
    bool valid = n > 1 && i + n <= text.size();
    if (valid) {
      cp = c & (0xFF >> (n + 1));
      for (size_t k = 1; k < n; ++k) {
        const auto cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xC0) != 0x80) {
          valid = false;
          break;
        }
        cp = cp << 6 | (cc & 0x3F);
      }
    }
    if (!valid) {
      cp = c;
      n = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
    i += n;
  }
  return out;
}

std::string_view IniTrim(std::string_view text) { return IniTrimImpl(text); }

bool IniNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string_view IniUnquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::optional<int> IniParseInt(std::string_view value) {
  std::string_view text = IniUnquote(IniTrim(value));
  if (text.empty()) return std::nullopt;
  size_t i = 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  uint32_t result = 0;
  if (i + 1 < text.size() && text[i] == '0' && text[i + 1] == 'x') {
    for (i += 2; i < text.size(); ++i) {
      const char c = text[i];
      uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        break;
      }
      result = result * 16 + digit;
    }
  } else {
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      result = result * 10 + static_cast<uint32_t>(text[i] - '0');
    }
  }
  if (negative) result = 0u - result;
  return static_cast<int>(result);
}

IniDocument::Line IniDocument::Classify(std::string text, std::string eol) {
  Line line;
  line.text = std::move(text);
  line.eol = std::move(eol);
  // A NUL ends the line's content; the bytes after it are kept but not read.
  std::string_view content(line.text);
  content = content.substr(0, content.find('\0'));
  const std::string_view trimmed = IniTrim(content);
  if (trimmed.empty()) return line;
  line.comment = trimmed.front() == ';';
  if (trimmed.front() == '[') {
    const size_t close = trimmed.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = Kind::kHeader;
      line.name = std::string(TrimName(trimmed.substr(1, close - 1)));
      return line;
    }
  }
  const size_t eq = content.find('=');
  if (eq == std::string_view::npos) {
    line.kind = Kind::kKeyless;
    line.name = std::string(trimmed);
    return line;
  }
  line.kind = Kind::kKey;
  line.name = std::string(IniTrim(content.substr(0, eq)));
  size_t value_begin = eq + 1;
  while (value_begin < content.size() && IsIniBlank(content[value_begin])) ++value_begin;
  line.value_pos = value_begin;
  line.value = std::string(IniTrim(content.substr(value_begin)));
  return line;
}

std::string IniDocument::WithValue(const Line& line, std::string_view value) {
  if (line.kind == Kind::kKey) return line.text.substr(0, line.value_pos) + std::string(value);
  const size_t lead = line.text.find_first_not_of(" \t\v\f");
  return line.text.substr(0, lead) + line.name + "=" + std::string(value);
}

IniDocument IniDocument::Parse(std::string_view bytes) {
  IniDocument doc;
  std::string decoded;
  std::string_view text = bytes;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    doc.encoding_ = Encoding::kUtf8Bom;
    text = bytes.substr(3);
  } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    doc.encoding_ = Encoding::kUtf16Le;
    decoded = Utf16ToUtf8(bytes.substr(2), false);
    text = decoded;
  } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
    doc.encoding_ = Encoding::kUtf16Be;
    decoded = Utf16ToUtf8(bytes.substr(2), true);
    text = decoded;
  }
  bool eol_seen = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    size_t eol_len = 0;
    if (end < text.size()) {
      eol_len = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    }
    std::string eol(text.substr(end, eol_len));
    if (!eol_seen && !eol.empty()) {
      doc.eol_ = eol;
      eol_seen = true;
    }
    doc.lines_.push_back(Classify(std::string(text.substr(pos, end - pos)), std::move(eol)));
    pos = end + eol_len;
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string text;
  for (const Line& line : lines_) {
    text += line.text;
    text += line.eol;
  }
  switch (encoding_) {
    case Encoding::kBytes:
      return text;
    case Encoding::kUtf8Bom:
      return text.insert(0, "\xEF\xBB\xBF");
    case Encoding::kUtf16Le:
      return Utf8ToUtf16(text, false).insert(0, "\xFF\xFE");
    case Encoding::kUtf16Be:
      return Utf8ToUtf16(text, true).insert(0, "\xFE\xFF");
  }
  return text;
}

std::optional<IniDocument::Range> IniDocument::FindSection(std::string_view section,
                                                          bool trim) const {
  const std::string_view wanted = trim ? TrimName(section) : section;
  size_t i = 0;
  if (wanted.empty()) {
    // The lines before the first header; "[]" headers are never found.
    while (i < lines_.size() && lines_[i].kind != Kind::kHeader) ++i;
    return Range{0, i};
  }
  for (; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::kHeader && IniNamesEqual(lines_[i].name, wanted)) {
      size_t end = i + 1;
      while (end < lines_.size() && lines_[end].kind != Kind::kHeader) ++end;
      return Range{i + 1, end};
    }
  }
  return std::nullopt;
}

std::optional<size_t> IniDocument::FindKeyLine(const Range& range, std::string_view key,
                                               bool keyless_too) const {
  const std::string_view wanted = TrimName(key);
  for (size_t i = range.begin; i < range.end; ++i) {
    const Line& line = lines_[i];
    if ((line.kind == Kind::kKey || (keyless_too && line.kind == Kind::kKeyless)) &&
        IniNamesEqual(line.name, wanted)) {
      return i;
    }
  }
  return std::nullopt;
}

bool IniDocument::HasSection(std::string_view section) const {
  if (TrimName(section).empty()) {
    const auto range = FindSection(section);
    return range->end > range->begin;
  }
  return FindSection(section).has_value();
}

std::optional<std::string> IniDocument::FindValue(std::string_view section,
                                                  std::string_view key) const {
  const auto range = FindSection(section);
  if (!range) return std::nullopt;
  const auto index = FindKeyLine(*range, key, false);
  if (!index) return std::nullopt;
  return lines_[*index].value;
}

std::vector<std::string> IniDocument::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    if (line.kind == Kind::kHeader && !line.name.empty()) names.push_back(line.name);
  }
  return names;
}

std::vector<std::string> IniDocument::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  const auto range = FindSection(section, false);
  if (!range) return names;
  for (size_t i = range->begin; i < range->end; ++i) {
    const Line& line = lines_[i];
    if (line.kind == Kind::kKey && !line.comment) names.push_back(line.name);
  }
  return names;
}

std::vector<IniDocument::Entry> IniDocument::SectionEntries(std::string_view section) const {
  std::vector<Entry> entries;
  const auto range = FindSection(section, false);
  if (!range) return entries;
  for (size_t i = range->begin; i < range->end; ++i) {
    const Line& line = lines_[i];
    if (line.comment) continue;
    if (line.kind == Kind::kKey) {
      entries.push_back(Entry{line.name, line.value});
    } else if (line.kind == Kind::kKeyless) {
      entries.push_back(Entry{line.name, std::nullopt});
    }
  }
  return entries;
}

const std::string& IniDocument::NewLineEnd() const { return eol_; }

void IniDocument::Insert(size_t index, std::string text) {
  // The line before a new line needs a line end of its own.
  if (index > 0 && lines_[index - 1].eol.empty()) lines_[index - 1].eol = NewLineEnd();
  std::string eol = NewLineEnd();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index),
                Classify(std::move(text), std::move(eol)));
}

bool IniDocument::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view section_name = TrimName(section);
  const std::string_view key_name = TrimName(key);
  value = TrimLeadingBlanks(value);
  const auto range = FindSection(section_name);
  if (!range) {
    // A new section goes at the end of the file.
    std::string header = "[";
    header.append(section_name).append("]");
    Insert(lines_.size(), std::move(header));
    Insert(lines_.size(), std::string(key_name) + "=" + std::string(value));
    return true;
  }
  if (const auto index = FindKeyLine(*range, key_name, true)) {
    Line& line = lines_[*index];
    std::string text = WithValue(line, value);
    if (text == line.text) return false;
    line = Classify(std::move(text), std::move(line.eol));
    return true;
  }
  // A new key goes after the section's last non-blank line.
  size_t at = range->begin;
  for (size_t i = range->begin; i < range->end; ++i) {
    if (lines_[i].kind != Kind::kBlank) at = i + 1;
  }
  Insert(at, std::string(key_name) + "=" + std::string(value));
  return true;
}

bool IniDocument::SetValues(std::string_view section,
                            const std::vector<std::pair<std::string, std::string>>& entries) {
  if (entries.empty()) return false;
  const std::string_view section_name = TrimName(section);
  if (!FindSection(section_name)) {
    std::string header = "[";
    header.append(section_name).append("]");
    Insert(lines_.size(), std::move(header));
  }
  const Range range = *FindSection(section_name);
  auto lower = [](std::string_view name) {
    std::string text(name);
    for (char& c : text) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
  };
  // The first line of each name, as FindKeyLine finds it: an index into
  // lines_, or (negative, less one) into the lines still to be inserted.
  std::unordered_map<std::string, std::ptrdiff_t> first;
  size_t at = range.begin;
  for (size_t i = range.begin; i < range.end; ++i) {
    const Line& line = lines_[i];
    if (line.kind != Kind::kBlank) at = i + 1;
    if (line.kind == Kind::kKey || line.kind == Kind::kKeyless) {
      first.emplace(lower(line.name), static_cast<std::ptrdiff_t>(i));
    }
  }
  bool changed = false;
  std::vector<std::string> added;
  for (const auto& [key, raw_value] : entries) {
    const std::string_view key_name = TrimName(key);
    const std::string_view value = TrimLeadingBlanks(raw_value);
    const auto [it, fresh] =
        first.emplace(lower(key_name), -1 - static_cast<std::ptrdiff_t>(added.size()));
    if (fresh) {
      added.push_back(std::string(key_name) + "=" + std::string(value));
      changed = true;
    } else if (it->second < 0) {
      std::string& text = added[static_cast<size_t>(-1 - it->second)];
      text = text.substr(0, text.find('=') + 1) + std::string(value);
    } else {
      Line& line = lines_[static_cast<size_t>(it->second)];
      std::string text = WithValue(line, value);
      if (text == line.text) continue;
      line = Classify(std::move(text), std::move(line.eol));
      changed = true;
    }
  }
  if (!added.empty()) {
    if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = NewLineEnd();
    std::vector<Line> fresh_lines;
    for (std::string& text : added) fresh_lines.push_back(Classify(std::move(text), NewLineEnd()));
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                  std::make_move_iterator(fresh_lines.begin()),
                  std::make_move_iterator(fresh_lines.end()));
  }
  return changed;
}

bool IniDocument::DeleteKey(std::string_view section, std::string_view key) {
  const auto range = FindSection(section);
  if (!range) return false;
  const auto index = FindKeyLine(*range, key, true);
  if (!index) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*index));
  return true;
}

bool IniDocument::DeleteSection(std::string_view section) {
  const auto range = FindSection(section);
  if (!range) return false;
  const size_t first = TrimName(section).empty() ? range->begin : range->begin - 1;
  if (first == range->end) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
               lines_.begin() + static_cast<std::ptrdiff_t>(range->end));
  return true;
}

}  // namespace kestrin
