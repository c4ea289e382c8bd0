#include "classlib/forms/QtText.h"

#include <QLineEdit>
#include <QList>
#include <QString>
#include <QValidator>

#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Cp1252.h"

namespace cl {
namespace {

// The edit undoes a change its validator calls Invalid, so the text before it stays as it was.
class Cp1252Validator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    if (FitsCp1252(input)) return Acceptable;
    MessageBeep(0);
    return Invalid;
  }
};

}  // namespace

QString ToQString(std::string_view cp1252) {
  QString result;
  result.reserve(static_cast<qsizetype>(cp1252.size()));
  for (unsigned char c : cp1252) result.append(QChar(static_cast<char16_t>(Cp1252ToCodePoint(c))));
  return result;
}

std::string FromQString(const QString& text) {
  std::string result;
  result.reserve(static_cast<size_t>(text.size()));
  for (char32_t cp : text.toUcs4()) {
    const int byte = CodePointToCp1252(cp);
    result += byte < 0 ? '?' : static_cast<char>(byte);
  }
  return result;
}

bool FitsCp1252(const QString& text) {
  for (char32_t cp : text.toUcs4()) {
    if (CodePointToCp1252(cp) < 0) return false;
  }
  return true;
}

void RefuseNonCp1252(QLineEdit* edit) { edit->setValidator(new Cp1252Validator(edit)); }

}  // namespace cl
