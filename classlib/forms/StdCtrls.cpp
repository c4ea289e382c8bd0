#include "classlib/forms/StdCtrls.h"

#include <QLabel>
#include <QPushButton>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/QtText.h"

namespace cl {

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  auto* button = new QPushButton;
  button->setAutoDefault(false);
  button->setDefault(false);
  button->setFocusPolicy(Qt::StrongFocus);
  AttachWidget(this, button);
  impl_->native_click = true;
  SetTabStop(true);
  SetBounds(0, 0, 75, 25);
  QObject::connect(button, &QPushButton::clicked, button,
                   [this] { CallGuarded(this, [this] { Click(); }); });
}

void TButton::Click() {
  if (modal_result_ != 0) {
    if (TForm* form = GetParentForm(this)) form->SetModalResult(modal_result_);
  }
  TWinControl::Click();
}

void TButton::DefaultHandler(TMessage& message) {
  if (message.Msg == CM_DIALOGKEY) {
    const bool mine =
        (default_ && message.WParam == VK_RETURN) || (cancel_ && message.WParam == VK_ESCAPE);
    if (mine && CanFocus()) {
      Click();
      message.Result = 1;
    }
    return;
  }
  TWinControl::DefaultHandler(message);
  if (message.Msg == WM_KEYDOWN && message.WParam == VK_RETURN) {
    Click();
    message.WParam = 0;  // the button took Enter
  }
}

void TButton::TextChanged() {
  static_cast<QPushButton*>(WidgetOf(this))->setText(ToQString(Caption()));
}

TLabel::TLabel(TComponent* owner) : TControl(owner) {
  auto* label = new QLabel;
  label->setTextFormat(Qt::PlainText);
  AttachWidget(this, label);
  SetBounds(0, 0, 65, 13);
}

void TLabel::SetFocusControl(TWinControl* control) {
  focus_control_ = control;
  Update();
}

void TLabel::SetWordWrap(bool wrap) {
  word_wrap_ = wrap;
  Update();
}

void TLabel::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  Update();
}

void TLabel::SetAutoSize(bool auto_size) {
  auto_size_ = auto_size;
  Update();
}

void TLabel::TextChanged() { Update(); }

void TLabel::Update() {
  auto* label = static_cast<QLabel*>(WidgetOf(this));
  QString text = ToQString(Caption());
  if (focus_control_ != nullptr) {
    label->setBuddy(WidgetOf(focus_control_));
    label->setTextFormat(Qt::PlainText);
  } else {
    // No buddy: the toolkit would show the "&" itself.
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
      if (text[i] == '&') {
        if (i + 1 < text.size() && text[i + 1] == '&') shown += '&';
        ++i;
        if (i < text.size() && text[i] != '&') shown += text[i];
        continue;
      }
      shown += text[i];
    }
    text = shown;
    label->setBuddy(nullptr);
  }
  label->setText(text);
  label->setWordWrap(word_wrap_);
  Qt::Alignment align = Qt::AlignTop;
  align |= alignment_ == taCenter         ? Qt::AlignHCenter
           : alignment_ == taRightJustify ? Qt::AlignRight
                                          : Qt::AlignLeft;
  label->setAlignment(align);
  if (auto_size_ && !word_wrap_) {
    const QSize size = label->sizeHint();
    SetBounds(Left(), Top(), size.width(), size.height());
  }
}

}  // namespace cl
