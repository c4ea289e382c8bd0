#include "components/ui/FindRoutines.h"

#include "classlib/db/TField.h"
#include "classlib/rtl/Collation.h"

namespace comp {
namespace {

// The other case of a Windows-1252 letter; any other byte unchanged.
unsigned char OtherCase(unsigned char c) {
  const bool upper = (c >= 'A' && c <= 'Z') || (c >= 192 && c <= 222 && c != 215);
  const bool lower = (c >= 'a' && c <= 'z') || (c >= 224 && c <= 254 && c != 247);
  if (upper) return static_cast<unsigned char>(c + 32);
  if (lower) return static_cast<unsigned char>(c - 32);
  return c;
}

}  // namespace

std::string PrepareFindPattern(std::string_view typed) {
  const std::string upper = cl::AnsiUpperCase(typed);
  std::string result;
  for (char c : upper) {
    if (c == ' ' && !result.empty() && result.back() == ' ') continue;
    result += c;
  }
  return result;
}

bool WordPrefixMatch(std::string_view text, std::string_view pattern) {
  size_t i = 0;
  size_t j = 0;
  while (j < pattern.size()) {
    if (pattern[j] == ' ') {
      // The pattern word is done: on to the next text word.
      while (i < text.size() && text[i] != ' ') ++i;
      while (i < text.size() && text[i] == ' ') ++i;
      ++j;
      continue;
    }
    if (i >= text.size() || text[i] == ' ') return false;
    const auto t = static_cast<unsigned char>(text[i]);
    const auto p = static_cast<unsigned char>(pattern[j]);
    if (t != p && OtherCase(t) != p) return false;
    ++i;
    ++j;
  }
  return true;
}

bool ScanDataSet(const std::string& pattern, cl::TDataSet& dataset, cl::TField* field,
                 TFindDirection direction) {
  if (pattern.empty()) return false;
  if (field == nullptr) field = dataset.FieldByName("Libelle");
  dataset.DisableControls();
  const cl::TBookmark start = dataset.GetBookmark();
  bool found = false;
  try {
    switch (direction) {
      case fdFirst:
        dataset.First();
        break;
      case fdLast:
        dataset.Last();
        break;
      case fdNext:
        dataset.Next();
        break;
      case fdPrior:
        dataset.Prior();
        break;
    }
    const bool forward = direction == fdFirst || direction == fdNext;
    while (forward ? !dataset.Eof() : !dataset.Bof()) {
      if (WordPrefixMatch(field->DisplayText(), pattern)) {
        found = true;
        break;
      }
      if (forward) {
        dataset.Next();
      } else {
        dataset.Prior();
      }
    }
    if (!found && !start.empty()) dataset.GotoBookmark(start);
  } catch (...) {
    dataset.EnableControls();
    throw;
  }
  dataset.EnableControls();
  return found;
}

}  // namespace comp
