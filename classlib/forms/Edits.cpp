#include "classlib/forms/Edits.h"

#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QTextCursor>
#include <algorithm>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/QtText.h"
#include "classlib/rtl/FormatSettings.h"

namespace cl {
namespace {

// The edit's own look: the password character it is told to show (the toolkit shows a bullet)
// and a caret that can be hidden.
class EditStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_LineEdit_PasswordCharacter && password_char != 0) {
      return ToQString(std::string(1, password_char)).at(0).unicode();
    }
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_TextCursorWidth && !caret_visible) return 0;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }

  char password_char = 0;
  bool caret_visible = true;
};

QLineEdit* LineOf(const TCustomEdit* edit) { return static_cast<QLineEdit*>(WidgetOf(edit)); }

EditStyle* StyleOf(const TCustomEdit* edit) {
  return static_cast<EditStyle*>(LineOf(edit)->style());
}

Qt::Alignment ToQtAlignment(TAlignment alignment) {
  switch (alignment) {
    case taRightJustify:
      return Qt::AlignRight | Qt::AlignVCenter;
    case taCenter:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

// The memo refuses a paste or a drop that Windows-1252 cannot hold, whole.
class MemoWidget : public QPlainTextEdit {
 protected:
  void insertFromMimeData(const QMimeData* source) override {
    if (source->hasText() && !FitsCp1252(source->text())) {
      MessageBeep(0);
      return;
    }
    QPlainTextEdit::insertFromMimeData(source);
  }
};

QPlainTextEdit* MemoOf(const TCustomMemo* memo) {
  return static_cast<QPlainTextEdit*>(WidgetOf(memo));
}

void ApplyEditColor(QWidget* widget, TColor color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, ToQColor(color));
  widget->setPalette(palette);
}

// Lines of a text separated by CR LF or LF; a final line break opens no empty line.
void SplitLines(const std::string& text, TStrings& lines) {
  lines.BeginUpdate();
  lines.Clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.Add(text.substr(start, stop - start));
    start = end + 1;
  }
  lines.EndUpdate();
}

std::string JoinLines(const TStrings& lines) {
  std::string text;
  for (int i = 0; i < lines.Count(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines.Get(i);
  }
  return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The parts of "mask;keep;blank" (a ';' after a backslash belongs to the mask).
struct MaskParts {
  std::string mask;
  bool keep_literals = true;
  char blank = ' ';
};

MaskParts SplitMask(const std::string& full) {
  MaskParts parts;
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < full.size(); ++i) {
    if (full[i] == '\\' && i + 1 < full.size() && fields.size() == 1) {
      fields.back() += full.substr(i, 2);
      ++i;
    } else if (full[i] == ';' && fields.size() < 3) {
      fields.emplace_back();
    } else {
      fields.back() += full[i];
    }
  }
  parts.mask = fields[0];
  if (fields.size() > 1 && !fields[1].empty()) parts.keep_literals = fields[1][0] != '0';
  if (fields.size() > 2 && !fields[2].empty()) parts.blank = fields[2][0];
  return parts;
}

// The toolkit's mask and, per shown position, the mask character (0 for a literal).
std::string Translate(const std::string& mask, std::string* positions) {
  static constexpr std::string_view kSpecial = "AaNnXx90Dd#HhBb><!\\;[]{}";
  const TFormatSettings settings = CurrentFormatSettings();
  std::string out;
  auto literal = [&](char c) {
    if (kSpecial.find(c) != std::string_view::npos) out += '\\';
    out += c;
    if (positions) *positions += '\0';
  };
  for (size_t i = 0; i < mask.size(); ++i) {
    const char c = mask[i];
    switch (c) {
      // clang-format off
      case '0': out += '9'; break;
      case '9': out += '0'; break;
      case 'L': out += 'A'; break;
      case 'l': out += 'a'; break;
      case 'A': out += 'N'; break;
      case 'a': out += 'n'; break;
      case 'C': out += 'X'; break;
      case 'c': out += 'x'; break;
      case '#': out += '#'; break;
      // clang-format on
      case '!':
        continue;  // leading blanks: the toolkit's '!' means something else
      case '>':
        out += '>';
        continue;
      case '<':
        if (i + 1 < mask.size() && mask[i + 1] == '>') {
          out += '!';
          ++i;
        } else {
          out += '<';
        }
        continue;
      case '\\':
        if (i + 1 < mask.size()) literal(mask[++i]);
        continue;
      case '/':
        literal(settings.DateSeparator);
        continue;
      case ':':
        literal(settings.TimeSeparator);
        continue;
      default:
        literal(c);
        continue;
    }
    if (positions) *positions += c;
  }
  return out;
}

// Sets a flag for a scope (the flag stops a change from echoing back to where it came from).
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag), saved_(flag) { flag = true; }
  ~FlagScope() { flag_ = saved_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

// ---- TCustomEdit ------------------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner) {
  auto* line = new QLineEdit;
  auto* style = new EditStyle;
  style->setParent(line);
  line->setStyle(style);
  AttachWidget(this, line);
  SetTabStop(true);
  SetBounds(0, 0, 121, 21);
  SetColor(clWindow);
  // Typed characters are checked before they arrive; a paste arrives whole, and is undone whole
  // when the code page cannot hold it.
  QObject::connect(line, &QLineEdit::textEdited, line, [this, line](const QString& text) {
    if (!FitsCp1252(text)) {
      const QSignalBlocker blocker(line);
      line->setText(ToQString(shown_));
      MessageBeep(0);
      return;
    }
    CallGuarded(this, [this] { WidgetEdited(); });
  });
}

TCustomEdit::~TCustomEdit() { DetachEvents(this); }

void TCustomEdit::WidgetEdited() {
  shown_ = FromQString(LineOf(this)->text());
  modified_ = true;
  const FlagScope scope(syncing_);
  SetCaption(TextOfWidget());
}

void TCustomEdit::TextChanged() {
  if (!syncing_) {
    ShowText(Caption());
    // The widget may not take the text as it is (a mask places it): Text is what it shows.
    const std::string shown = TextOfWidget();
    if (shown != Caption()) {
      const FlagScope scope(syncing_);
      SetCaption(shown);
      return;
    }
  }
  Change();
}

void TCustomEdit::ShowText(const std::string& text) {
  QLineEdit* line = LineOf(this);
  const QSignalBlocker blocker(line);
  line->setText(ToQString(text));
  shown_ = FromQString(line->text());
}

std::string TCustomEdit::TextOfWidget() const { return FromQString(LineOf(this)->text()); }

void TCustomEdit::Change() {
  if (on_change_) {
    TNotifyEvent handler = on_change_;
    handler(this);
  }
}

void TCustomEdit::ColorChanged() {
  TWinControl::ColorChanged();
  ApplyEditColor(LineOf(this), Color());
}

void TCustomEdit::DoEnter() {
  if (auto_select_) SelectAll();
  TWinControl::DoEnter();
}

void TCustomEdit::SetMaxLength(int length) {
  max_length_ = std::max(length, 0);
  LineOf(this)->setMaxLength(max_length_ == 0 ? 32767 : max_length_);
}

void TCustomEdit::SetReadOnly(bool read_only) {
  read_only_ = read_only;
  LineOf(this)->setReadOnly(read_only);
}

void TCustomEdit::SelectAll() { LineOf(this)->selectAll(); }

int TCustomEdit::SelStart() const {
  QLineEdit* line = LineOf(this);
  return line->hasSelectedText() ? line->selectionStart() : line->cursorPosition();
}

void TCustomEdit::SetSelStart(int start) {
  LineOf(this)->deselect();
  LineOf(this)->setCursorPosition(start);
}

int TCustomEdit::SelLength() const { return static_cast<int>(LineOf(this)->selectedText().size()); }

void TCustomEdit::SetSelLength(int length) {
  QLineEdit* line = LineOf(this);
  line->setSelection(SelStart(), std::max(length, 0));
}

void TCustomEdit::SetPasswordChar(char c) {
  password_char_ = c;
  StyleOf(this)->password_char = c;
  LineOf(this)->setEchoMode(c == 0 ? QLineEdit::Normal : QLineEdit::Password);
}

void TCustomEdit::SetBorderStyle(TFormBorderStyle style) {
  border_style_ = style == bsNone ? bsNone : bsSingle;
  LineOf(this)->setFrame(border_style_ != bsNone);
}

void TCustomEdit::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  LineOf(this)->setAlignment(ToQtAlignment(alignment));
}

void TCustomEdit::SetTextMargins(int left, int right) {
  LineOf(this)->setTextMargins(left, 0, right, 0);
}

void TCustomEdit::SetCaretVisible(bool visible) {
  StyleOf(this)->caret_visible = visible;
  LineOf(this)->update();
}

// ---- TCustomMaskEdit --------------------------------------------------------------------------

TCustomMaskEdit::TCustomMaskEdit(TComponent* owner) : TCustomEdit(owner) {}

std::string ToolkitInputMask(const std::string& mask) {
  const MaskParts parts = SplitMask(mask);
  if (parts.mask.empty()) return "";
  return Translate(parts.mask, nullptr) + ";" + parts.blank;
}

void TCustomMaskEdit::SetEditMask(const std::string& mask) {
  const MaskParts parts = SplitMask(mask);
  edit_mask_ = mask;
  keep_literals_ = parts.keep_literals;
  blank_ = parts.blank;
  positions_.clear();
  QLineEdit* line = LineOf(this);
  const QSignalBlocker blocker(line);
  const std::string text = Text();
  if (parts.mask.empty()) {
    line->setInputMask(QString());
  } else {
    line->setInputMask(ToQString(Translate(parts.mask, &positions_) + ";" + blank_));
  }
  ShowText(text);
  if (TextOfWidget() != text) SetCaption(TextOfWidget());
}

std::string TCustomMaskEdit::EditText() const {
  if (!IsMasked()) return Text();
  return FromQString(LineOf(this)->displayText());
}

void TCustomMaskEdit::SetEditText(const std::string& text) { SetText(text); }

std::string TCustomMaskEdit::TextOfWidget() const {
  if (!IsMasked()) return TCustomEdit::TextOfWidget();
  const std::string shown = EditText();
  std::string text;
  for (size_t i = 0; i < shown.size(); ++i) {
    const bool literal = i >= positions_.size() || positions_[i] == '\0';
    if (literal && !keep_literals_) continue;
    text += !literal && shown[i] == blank_ ? ' ' : shown[i];
  }
  return text;
}

void TCustomMaskEdit::ValidateEdit() {
  if (!IsMasked()) return;
  const std::string shown = EditText();
  for (size_t i = 0; i < positions_.size(); ++i) {
    const char m = positions_[i];
    const bool required = m == '0' || m == 'L' || m == 'A' || m == 'C';
    if (required && (i >= shown.size() || shown[i] == blank_ || shown[i] == ' ')) {
      SelectAll();
      throw EDBEditError(
          "Valeur d'entr\xE9"
          "e incorrecte : \"" +
          shown + "\". Utilisez la touche Echap pour abandonner les modifications");
    }
  }
}

void TCustomMaskEdit::DoExit() {
  if (IsMasked() && Modified()) ValidateEdit();
  TCustomEdit::DoExit();
}

// ---- TCustomMemo ------------------------------------------------------------------------------

TCustomMemo::TCustomMemo(TComponent* owner)
    : TWinControl(owner), lines_(std::make_unique<TStringList>()) {
  auto* memo = new MemoWidget;
  memo->setTabChangesFocus(true);
  AttachWidget(this, memo);
  SetTabStop(true);
  SetBounds(0, 0, 185, 89);
  SetColor(clWindow);
  SetScrollBars(ssNone);
  lines_->SetOnChange([this](TObject*) { LinesChanged(); });
  QObject::connect(memo, &QPlainTextEdit::textChanged, memo,
                   [this] { CallGuarded(this, [this] { WidgetEdited(); }); });
}

TCustomMemo::~TCustomMemo() {
  DetachEvents(this);
  QObject::disconnect(MemoOf(this), nullptr, nullptr, nullptr);
}

void TCustomMemo::WidgetEdited() {
  const std::string text = Replace(FromQString(MemoOf(this)->toPlainText()), "\n", "\r\n");
  modified_ = true;
  const FlagScope scope(syncing_);
  SplitLines(text, *lines_);
  SetCaption(text);
}

void TCustomMemo::ShowLines(const std::string& text) {
  QPlainTextEdit* memo = MemoOf(this);
  const QString shown = ToQString(Replace(text, "\r\n", "\n"));
  if (memo->toPlainText() == shown) return;  // the caret stays where the user left it
  const QSignalBlocker blocker(memo);
  const int position = memo->textCursor().position();
  memo->setPlainText(shown);
  QTextCursor cursor = memo->textCursor();
  cursor.setPosition(std::min(position, static_cast<int>(shown.size())));
  memo->setTextCursor(cursor);
}

void TCustomMemo::LinesChanged() {
  if (syncing_) return;
  const std::string text = JoinLines(*lines_);
  ShowLines(text);
  const FlagScope scope(syncing_);
  SetCaption(text);
}

void TCustomMemo::TextChanged() {
  if (!syncing_) {
    ShowLines(Caption());
    const FlagScope scope(syncing_);
    SplitLines(Caption(), *lines_);
  }
  Change();
}

void TCustomMemo::Change() {
  if (on_change_) {
    TNotifyEvent handler = on_change_;
    handler(this);
  }
}

void TCustomMemo::ColorChanged() {
  TWinControl::ColorChanged();
  ApplyEditColor(MemoOf(this), Color());
}

void TCustomMemo::WndProc(TMessage& message) {
  if (message.Msg == CM_WANTSPECIALKEY && message.WParam == VK_RETURN && want_returns_) {
    message.Result = 1;
    return;
  }
  TWinControl::WndProc(message);
}

void TCustomMemo::SetScrollBars(TScrollStyle style) {
  scroll_bars_ = style;
  QPlainTextEdit* memo = MemoOf(this);
  const bool horizontal = style == ssHorizontal || style == ssBoth;
  const bool vertical = style == ssVertical || style == ssBoth;
  memo->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  memo->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void TCustomMemo::SetWordWrap(bool wrap) {
  word_wrap_ = wrap;
  MemoOf(this)->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void TCustomMemo::SetReadOnly(bool read_only) {
  read_only_ = read_only;
  QPlainTextEdit* memo = MemoOf(this);
  memo->setReadOnly(read_only);
  // The caret still moves through a read-only memo, as in a read-only edit.
  if (read_only) {
    memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
}

void TCustomMemo::SelectAll() { MemoOf(this)->selectAll(); }

}  // namespace cl
