#include "classlib/rtl/IniFiles.h"

#include <functional>
#include <string_view>
#include <vector>

#include "classlib/rtl/Collation.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/NumberText.h"
#include "platform/ConfigFile.h"
#include "platform/Environment.h"

namespace cl {
namespace {

// INI lines are cut of spaces and tabs only (not of every blank of Blanks.h): any other control
// character is part of a name or value, and a value keeps it.
std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiUpperCase(a) == AnsiUpperCase(b);
}

// One line of the file, split where it matters.
struct Line {
  std::string text;
  bool is_section = false;
  std::string name;  // section name, or ident of an "ident=value" line
  bool is_value = false;
};

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    Line line;
    line.text = content.substr(start, end - start);
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    start = end + 1;
    const std::string_view trimmed = Trim(line.text);
    if (!trimmed.empty() && trimmed.front() == '[') {
      const size_t close = trimmed.find(']');
      if (close != std::string_view::npos) {
        line.is_section = true;
        line.name = std::string(Trim(trimmed.substr(1, close - 1)));
      }
    } else if (!trimmed.empty() && trimmed.front() != ';') {
      const size_t equal = trimmed.find('=');
      if (equal != std::string_view::npos) {
        line.is_value = true;
        line.name = std::string(Trim(trimmed.substr(0, equal)));
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) out += line.text + "\r\n";
  return out;
}

// [first, last) line indexes of a section's body; first == npos when the section is missing.
void FindSection(const std::vector<Line>& lines, std::string_view section, size_t* first,
                 size_t* last) {
  *first = std::string::npos;
  *last = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].is_section) continue;
    if (*first != std::string::npos) {
      *last = i;
      return;
    }
    if (SameText(lines[i].name, section)) *first = i + 1;
  }
}

// Applies `edit` to the file's lines under its lock; the file is rewritten only when `edit`
// answers true.  A file that cannot be written raises EIniFileException naming `file_name`.
void EditLines(const std::string& path, const std::string& file_name,
               const std::function<bool(std::vector<Line>&)>& edit) {
  const platform::OsError error = platform::UpdateConfigFile(path, [&](std::string& content) {
    std::vector<Line> lines = SplitLines(content);
    if (!edit(lines)) return false;
    content = JoinLines(lines);
    return true;
  });
  if (error != platform::kErrorSuccess) {
    throw EIniFileException(
        "Impossible d'\xE9"
        "crire dans " +
        file_name);
  }
}

std::string RawValue(const Line& line) {
  const size_t equal = line.text.find('=');
  return line.text.substr(equal + 1);
}

// A line break inside a written text would start a line of its own (even a forged section).
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::string ResolveName(const std::string& file_name) {
  const std::string utf8 = Cp1252ToUtf8(file_name);
  if (utf8.find('/') != std::string::npos) return utf8;
  return platform::UserConfigDirectory() + "/" + utf8;
}

}  // namespace

TIniFile::TIniFile(const std::string& file_name)
    : file_name_(file_name), path_(ResolveName(file_name)) {}

bool TIniFile::Lookup(const std::string& section, const std::string& ident, std::string* raw) {
  std::string content;
  bool exists = false;
  if (platform::ReadConfigFile(path_, &content, &exists) != platform::kErrorSuccess) return false;
  const std::vector<Line> lines = SplitLines(content);
  size_t first = 0;
  size_t last = 0;
  FindSection(lines, section, &first, &last);
  if (first == std::string::npos) return false;
  for (size_t i = first; i < last; ++i) {
    if (lines[i].is_value && SameText(lines[i].name, ident)) {
      *raw = RawValue(lines[i]);
      return true;
    }
  }
  return false;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& default_value) {
  std::string raw;
  if (!Lookup(section, ident, &raw)) return default_value;
  std::string_view value = Trim(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& ident,
                              int32_t default_value) {
  int32_t value = 0;
  return TryStrToInt(ReadString(section, ident, ""), value) ? value : default_value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident, bool default_value) {
  return ReadInteger(section, ident, default_value ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const std::string& section) {
  std::string content;
  bool exists = false;
  if (platform::ReadConfigFile(path_, &content, &exists) != platform::kErrorSuccess) return false;
  size_t first = 0;
  size_t last = 0;
  FindSection(SplitLines(content), section, &first, &last);
  return first != std::string::npos;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) {
  std::string raw;
  return Lookup(section, ident, &raw);
}

void TIniFile::WriteString(const std::string& section_text, const std::string& ident_text,
                           const std::string& value_text) {
  const std::string section = OneLine(section_text);
  const std::string ident = OneLine(ident_text);
  const std::string value = OneLine(value_text);
  EditLines(path_, file_name_, [&](std::vector<Line>& lines) {
    size_t first = 0;
    size_t last = 0;
    FindSection(lines, section, &first, &last);
    Line line;
    line.text = ident + "=" + value;
    line.is_value = true;
    line.name = ident;
    if (first == std::string::npos) {
      if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back(Line());
      Line header;
      header.text = "[" + section + "]";
      header.is_section = true;
      header.name = section;
      lines.push_back(header);
      lines.push_back(line);
    } else {
      size_t insert_at = first;
      for (size_t i = first; i < last; ++i) {
        if (lines[i].is_value && SameText(lines[i].name, ident)) {
          lines[i] = line;
          return true;
        }
        if (!Trim(lines[i].text).empty()) insert_at = i + 1;
      }
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), line);
    }
    return true;
  });
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
  WriteString(section, ident, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section) {
  EditLines(path_, file_name_, [&](std::vector<Line>& lines) {
    size_t first = 0;
    size_t last = 0;
    FindSection(lines, section, &first, &last);
    if (first == std::string::npos) return false;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first - 1),
                lines.begin() + static_cast<std::ptrdiff_t>(last));
    return true;
  });
}

}  // namespace cl
