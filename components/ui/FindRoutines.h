// The two routines of incremental search: the word-prefix match and the record scan over a
// dataset.
//
// Match: the pattern (PrepareFindPattern: upper-cased, blank runs collapsed) matches a text when
// each pattern word is a prefix of the text word in the same position, in either letter case.
// Only letters pair with their other case (A-Z with a-z, and the accented Windows-1252 letters
// 192-222 with 224-254 but for the multiplication and division signs): a plain "raise or lower
// by 32" would also let a letter match a digit or a sign ("Q" would find "1abc").
//
// Scan: from the first, last, next or prior record, forwards for fdFirst and fdNext, backwards
// for fdLast and fdPrior, the field's display text ("Libelle" when no field is given) is matched
// until a match or the dataset's end; when nothing matched the dataset goes back to the record
// it was on.  The dataset's controls are not repainted meanwhile.  GUI thread only.
#pragma once

#include <string>
#include <string_view>

#include "classlib/db/TDataSet.h"

namespace comp {

enum TFindDirection { fdFirst, fdLast, fdNext, fdPrior };
enum TFindMode { fmNearest, fmMultiWord };

std::string PrepareFindPattern(std::string_view typed);
// REQUIRES: `pattern` prepared.
bool WordPrefixMatch(std::string_view text, std::string_view pattern);
// True when a record matched (the dataset is then on it).  An empty pattern finds nothing.
bool ScanDataSet(const std::string& pattern, cl::TDataSet& dataset, cl::TField* field,
                 TFindDirection direction);

}  // namespace comp
