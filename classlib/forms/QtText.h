// The one conversion between the system's Windows-1252 text and the toolkit's strings, for the
// visual layer's .cpp files only (Qt 6 has no Windows-1252 codec, so it goes through Cp1252.h).
//
// The toolkit type is only declared here, so that this header includes nothing of Qt.
#pragma once

#include <string>
#include <string_view>

class QLineEdit;
class QString;

namespace cl {

QString ToQString(std::string_view cp1252);
// Characters that Windows-1252 cannot hold become '?'; where the user types text, check
// FitsCp1252 first and refuse the character (with a beep) instead.
std::string FromQString(const QString& text);
// True when every character of `text` has a Windows-1252 byte.
bool FitsCp1252(const QString& text);
// Makes `edit` refuse, with a beep, any change (a paste, an insert) that would bring in a
// character Windows-1252 cannot hold; such a change is refused whole.  Once per edit.
void RefuseNonCp1252(QLineEdit* edit);

}  // namespace cl
