// The INI engine: an INI file parsed into lines that keep their exact bytes,
// lookups with the rules of the Windows private-profile calls, and edits that
// change only the lines they must, so a rewrite keeps everything else (comments,
// blank lines, unknown lines, line ends) byte for byte.
#ifndef KESTRIN_HOST_INI_DOCUMENT_H_
#define KESTRIN_HOST_INI_DOCUMENT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrin {

// Blanks, tabs, vertical tabs and form feeds around names and values.
std::string_view IniTrim(std::string_view text);
// ASCII-only case-insensitive equality, the way section and key names compare.
bool IniNamesEqual(std::string_view a, std::string_view b);
// Removes one pair of equal surrounding quotes (" or ') from a value of at
// least two characters; anything else is returned unchanged.
std::string_view IniUnquote(std::string_view value);
// The integer reading of GetPrivateProfileInt: trimmed and unquoted text,
// optional sign, "0x" hex or decimal, leading digits only, wrapping modulo
// 2^32. Empty when the text is empty (the caller then uses its default).
std::optional<int> IniParseInt(std::string_view value);

// UTF-16 text (without its byte-order mark) to UTF-8; an unpaired surrogate
// becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian);
// UTF-8 to UTF-16 (no mark); a byte that starts no valid sequence is taken
// as a Latin-1 character, so nothing is dropped.
std::string Utf8ToUtf16(std::string_view text, bool big_endian);

class IniDocument {
 public:
  // How the file's bytes encode the text. Text without a byte-order mark
  // passes through as bytes; a UTF-8 mark is dropped and restored on
  // writing; UTF-16 files are converted to UTF-8 and back.
  enum class Encoding { kBytes, kUtf8Bom, kUtf16Le, kUtf16Be };

  // One entry of a whole-section read: a "key=value" line (key and value
  // trimmed, quotes kept) or a line without "=" (key = the trimmed line, no value).
  struct Entry {
    std::string key;
    std::optional<std::string> value;
  };

  IniDocument() = default;
  static IniDocument Parse(std::string_view bytes);
  // The file's bytes: unchanged lines exactly as read.
  std::string Serialize() const;
  Encoding encoding() const { return encoding_; }

  // Lookups. The first section whose name matches (ignoring case, after
  // trimming) is the section; later duplicates are invisible. Section "" is
  // the part before the first header.
  bool HasSection(std::string_view section) const;
  // The trimmed raw value (quotes kept) of the first line of key, or nothing.
  std::optional<std::string> FindValue(std::string_view section, std::string_view key) const;
  std::vector<std::string> SectionNames() const;
  // Key names of the section in file order; comments and lines without "="
  // left out. Here and in SectionEntries the section name is not trimmed.
  std::vector<std::string> KeyNames(std::string_view section) const;
  // Lines of the section in file order; comment and blank lines left out.
  std::vector<Entry> SectionEntries(std::string_view section) const;

  // Edits; each returns whether the document changed.
  // Sets key = value (leading blanks of value dropped), creating section and key.
  bool SetValue(std::string_view section, std::string_view key, std::string_view value);
  // SetValue for each (key, value) in order, in time linear in the file
  // rather than in the file times the number of keys.
  bool SetValues(std::string_view section,
                 const std::vector<std::pair<std::string, std::string>>& entries);
  bool DeleteKey(std::string_view section, std::string_view key);
  bool DeleteSection(std::string_view section);

 private:
  enum class Kind { kBlank, kHeader, kKey, kKeyless };
  struct Line {
    std::string text;  // content without its line end (may hold a NUL and what follows)
    std::string eol;   // "\r\n", "\n", "\r" or "" for a last line without one
    Kind kind = Kind::kBlank;
    bool comment = false;  // starts with ";" after blanks
    std::string name;      // header: section name; key line: trimmed key; keyless: trimmed line
    std::string value;     // key line: trimmed value
    size_t value_pos = 0;  // key line: offset in text where the value starts
  };
  // [begin, end) line indexes of a section's body; begin - 1 is its header,
  // except for section "" which starts at line 0.
  struct Range {
    size_t begin;
    size_t end;
  };

  static Line Classify(std::string text, std::string eol);
  // The text of `line` with its value replaced: everything up to the old
  // value is kept (indentation, key spelling, blanks around "="); a line
  // "key" without "=" becomes "key=value".
  static std::string WithValue(const Line& line, std::string_view value);
  // Single-value reads and writes trim the requested name; whole-section
  // reads and key lists take it as given.
  std::optional<Range> FindSection(std::string_view section, bool trim = true) const;
  // Index of the first key line (or keyless line when keyless_too) of key.
  std::optional<size_t> FindKeyLine(const Range& range, std::string_view key, bool keyless_too) const;
  const std::string& NewLineEnd() const;
  void Insert(size_t index, std::string text);

  std::vector<Line> lines_;
  Encoding encoding_ = Encoding::kBytes;
  std::string eol_ = "\r\n";  // line end for new lines: the file's first one
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_INI_DOCUMENT_H_
